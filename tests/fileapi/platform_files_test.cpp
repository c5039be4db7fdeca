// The platform file contract the file objects and mapped files build on: dispositions, size,
// end of file, flush, delete, temporary names, and failures injected at the seam.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/backend.h"
#include "support/scratch.h"

namespace {

namespace sys = qr::sys;

constexpr uint32_t kRW = sys::kGenericRead | sys::kGenericWrite;
constexpr uint32_t kShareAll = sys::kShareRead | sys::kShareWrite;

int64_t sizeOf(const std::string& sPath) {
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(sPath, ec);
    return ec ? -1 : static_cast<int64_t>(nSize);
}

TEST(PlatformFiles, Dispositions) {
    qrtest::ScratchDir dir;
    const std::string sOld = dir.file("old.dat");
    const uint32_t nExists = qrtest::backend().nFileExistsError;
    const uint32_t nInvalid = sys::kErrorInvalidArgument;
    const struct {
        const char* szName;
        uint32_t nAccess, nDisposition;
        bool bExisting, bOk;
        uint32_t nError;
        int64_t llSizeAfter;  // -1: the file does not exist afterwards
    } rows[] = {
        {"create new, missing", kRW, sys::kCreateNew, false, true, 0, 0},
        {"create new, existing", kRW, sys::kCreateNew, true, false, nExists, 5},
        {"create always, existing", kRW, sys::kCreateAlways, true, true, 0, 0},
        {"create always, read access only", sys::kGenericRead, sys::kCreateAlways, true, true, 0, 0},
        {"open existing, missing", kRW, sys::kOpenExisting, false, false, sys::kErrorNotFound, -1},
        {"open existing", sys::kGenericRead, sys::kOpenExisting, true, true, 0, 5},
        {"open always, missing", kRW, sys::kOpenAlways, false, true, 0, 0},
        {"open always, existing", kRW, sys::kOpenAlways, true, true, 0, 5},
        {"truncate existing", sys::kGenericWrite, sys::kTruncateExisting, true, true, 0, 0},
        {"truncate without write access", sys::kGenericRead, sys::kTruncateExisting, true, false, nInvalid, 5},
        {"unknown disposition", kRW, 9, true, false, nInvalid, 5},
        {"unknown access bits", 0x10000000u, sys::kOpenExisting, true, false, nInvalid, 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        std::filesystem::remove(sOld);
        if (row.bExisting) qrtest::writeFileText(sOld, "12345");
        void* hFile = sys::createFile(sOld.c_str(), row.nAccess, kShareAll, row.nDisposition, true);
        EXPECT_EQ(sys::isValidHandle(hFile), row.bOk);
        if (row.bOk) {
            EXPECT_TRUE(sys::closeHandle(hFile));
        } else {
            EXPECT_EQ(hFile, sys::kInvalidHandle);
            EXPECT_EQ(sys::lastError(), row.nError) << sys::systemErrorText(sys::lastError());
        }
        EXPECT_EQ(sizeOf(sOld), row.llSizeAfter);
    }
    // A name whose last component holds a wildcard can be searched for, never created.
    for (const char* szName : {"*.dat", "a?"}) {
        SCOPED_TRACE(szName);
        EXPECT_EQ(sys::createFile(dir.file(szName).c_str(), kRW, kShareAll, sys::kCreateAlways, false),
                  sys::kInvalidHandle);
        EXPECT_EQ(sys::lastError(), sys::kErrorInvalidArgument);
        EXPECT_FALSE(qrtest::fileExists(dir.file(szName)));
    }
    EXPECT_EQ(sys::createFile(nullptr, kRW, 0, sys::kOpenExisting, false), sys::kInvalidHandle);
    EXPECT_EQ(sys::createFile("", kRW, 0, sys::kOpenExisting, false), sys::kInvalidHandle);
    EXPECT_EQ(sys::lastError(), sys::kErrorNotFound);
}

TEST(PlatformFiles, SizeEndOfFileFlushAndDelete) {
    qrtest::ScratchDir dir;
    const std::string sPath = dir.file("f.dat");
    void* hFile = sys::createFile(sPath.c_str(), kRW, 0, sys::kCreateAlways, false);
    ASSERT_TRUE(sys::isValidHandle(hFile));
    uint32_t nDone = 0;
    ASSERT_TRUE(sys::writeFile(hFile, "abcdefgh", 8, &nDone));
    EXPECT_EQ(nDone, 8u);
    int64_t llSize = 0, llPos = 0;
    ASSERT_TRUE(sys::getFileSize(hFile, &llSize));
    EXPECT_EQ(llSize, 8);
    // Cut at the pointer, then extend past the end.
    ASSERT_TRUE(sys::setFilePointer(hFile, 3, sys::kSeekBegin, &llPos));
    ASSERT_TRUE(sys::setEndOfFile(hFile));
    EXPECT_EQ(sizeOf(sPath), 3);
    ASSERT_TRUE(sys::setFilePointer(hFile, 10, sys::kSeekCurrent, &llPos));
    EXPECT_EQ(llPos, 13);
    ASSERT_TRUE(sys::setEndOfFile(hFile));
    EXPECT_EQ(sizeOf(sPath), 13);
    EXPECT_TRUE(sys::flushFileBuffers(hFile));
    EXPECT_GE(sys::fileBlockSize(hFile), 512u);
    EXPECT_TRUE(sys::closeHandle(hFile));

    // A read-only handle may neither cut nor flush nor edit ranges.
    void* hRead = sys::createFile(sPath.c_str(), sys::kGenericRead, kShareAll, sys::kOpenExisting, false);
    ASSERT_TRUE(sys::isValidHandle(hRead));
    EXPECT_FALSE(sys::setEndOfFile(hRead));
    EXPECT_EQ(sys::lastError(), sys::kErrorAccessDenied);
    EXPECT_FALSE(sys::flushFileBuffers(hRead));
    EXPECT_EQ(sys::lastError(), sys::kErrorAccessDenied);
    EXPECT_FALSE(sys::insertRange(hRead, 0, 4096));
    EXPECT_EQ(sys::lastError(), sys::kErrorAccessDenied);
    EXPECT_TRUE(sys::closeHandle(hRead));
    EXPECT_FALSE(sys::closeHandle(hRead));
    EXPECT_EQ(sys::lastError(), sys::kErrorInvalidHandle);

    EXPECT_TRUE(sys::deleteFile(sPath.c_str()));
    EXPECT_FALSE(sys::deleteFile(sPath.c_str()));
    EXPECT_EQ(sys::lastError(), sys::kErrorNotFound);
    EXPECT_FALSE(sys::deleteFile(nullptr));
}

// Threads read, write, and ask the identity and the final path of handles that another thread
// closes, while it opens new files that may get the closed ones' descriptors. Every file is
// written only with its own tag byte, so a byte that reaches the wrong file shows; a read may only
// ever see its own file's tag, and an identity or a path only its own file's.
TEST(PlatformFiles, CloseRacingWithUseNeverReachesAnotherFile) {
    if (!qrtest::backend().bHandlesNeverReused) GTEST_SKIP() << "the system's handles: values are reused";
    qrtest::ScratchDir dir;
    enum class Use { Write, Read, Identity, FinalPath };
    constexpr Use kUses[] = {Use::Write, Use::Read, Use::Identity, Use::FinalPath};
    constexpr int kSlots = 4, kFiles = 1500;
    struct Seen {
        unsigned char cTag = 0;
        sys::FileIdentity identity;
        std::string sFinal;
    };
    struct Slot {
        std::mutex mutex;
        void* hFile = nullptr;
        Seen seen;
    };
    std::array<Slot, kSlots> slots;
    std::vector<unsigned char> tags;  // tag of file n, kept by the opening thread only
    auto openFile = [&](Slot& slot) {
        const int n = static_cast<int>(tags.size());
        tags.push_back(static_cast<unsigned char>('A' + n % 50));
        const std::string sPath = dir.file(std::to_string(n));
        void* hFile = sys::createFile(sPath.c_str(), kRW, kShareAll, sys::kCreateNew, false);
        EXPECT_TRUE(sys::isValidHandle(hFile)) << sys::systemErrorText(sys::lastError());
        Seen seen{tags.back(), {}, sys::finalPath(sPath.c_str())};
        EXPECT_TRUE(sys::fileIdentity(hFile, &seen.identity));
        std::lock_guard<std::mutex> lock(slot.mutex);
        void* hOld = slot.hFile;
        slot.hFile = hFile;
        slot.seen = seen;
        return hOld;
    };
    for (Slot& slot : slots) openFile(slot);

    std::atomic<bool> bStop{false};
    std::atomic<int> nWrites{0}, nOtherErrors{0};
    std::array<std::atomic<int>, std::size(kUses)> wrongs{};  // answers of another file, by use
    auto wrong = [&](Use use) -> std::atomic<int>& { return wrongs[static_cast<std::size_t>(use)]; };
    auto useHandles = [&](unsigned nSeed, Use use) {
        std::minstd_rand random(nSeed);
        while (!bStop.load()) {
            Slot& slot = slots[random() % kSlots];
            void* hFile;
            Seen seen;
            {
                std::lock_guard<std::mutex> lock(slot.mutex);
                hFile = slot.hFile;
                seen = slot.seen;
            }
            // From here on the handle may be closed at any moment.
            bool bOk = false;
            int nWrong = 0;
            switch (use) {
            case Use::Write: {
                const std::string sBytes(16, static_cast<char>(seen.cTag));
                uint32_t nDone = 0;
                bOk = sys::writeFile(hFile, sBytes.data(), 16, &nDone);
                if (bOk) ++nWrites;
                break;
            }
            case Use::Read: {
                unsigned char buffer[64];
                uint32_t nRead = 0;
                bOk = sys::setFilePointer(hFile, 0, sys::kSeekBegin, nullptr) &&
                      sys::readFile(hFile, buffer, sizeof buffer, &nRead);
                for (uint32_t i = 0; bOk && i < nRead; ++i) nWrong += buffer[i] != seen.cTag ? 1 : 0;
                break;
            }
            case Use::Identity: {
                sys::FileIdentity identity;
                bOk = sys::fileIdentity(hFile, &identity);
                nWrong = bOk && !(identity == seen.identity) ? 1 : 0;
                break;
            }
            case Use::FinalPath: {
                const std::string sFinal = sys::finalPathOf(hFile);
                bOk = !sFinal.empty();
                nWrong = bOk && sFinal != seen.sFinal ? 1 : 0;
                break;
            }
            }
            wrong(use) += nWrong;
            if (!bOk && sys::lastError() != sys::kErrorInvalidHandle) ++nOtherErrors;
        }
    };
    std::vector<std::thread> threads;
    for (Use use : kUses) threads.emplace_back(useHandles, static_cast<unsigned>(use) + 1, use);
    std::minstd_rand random(99);
    for (int n = kSlots; n < kFiles; ++n) {
        void* hOld = openFile(slots[random() % kSlots]);
        EXPECT_TRUE(sys::closeHandle(hOld));
    }
    bStop = true;
    for (std::thread& thread : threads) thread.join();
    for (Slot& slot : slots) EXPECT_TRUE(sys::closeHandle(slot.hFile));

    EXPECT_EQ(wrong(Use::Read).load(), 0) << "a read saw another file's bytes";
    EXPECT_EQ(wrong(Use::Identity).load(), 0) << "an identity was another file's";
    EXPECT_EQ(wrong(Use::FinalPath).load(), 0) << "a final path was another file's";
    EXPECT_EQ(nOtherErrors.load(), 0);
    EXPECT_GT(nWrites.load(), 0);
    for (std::size_t n = 0; n < tags.size(); ++n) {
        const std::vector<unsigned char> bytes = qrtest::readFileBytes(dir.file(std::to_string(n)));
        const auto nForeign = std::count_if(bytes.begin(), bytes.end(), [&](unsigned char c) { return c != tags[n]; });
        ASSERT_EQ(nForeign, 0) << "file " << n << " holds bytes written to another file";
    }
}

TEST(PlatformFiles, InjectedFailuresRecordTheirCode) {
    qrtest::ScratchDir dir;
    const std::string sPath = dir.file("seam.dat");
    void* hFile = sys::createFile(sPath.c_str(), kRW, 0, sys::kCreateAlways, false);
    ASSERT_TRUE(sys::isValidHandle(hFile));
    const struct {
        const char* szName;
        sys::Op op;
        bool (*pfnCall)(void*, const std::string&);
    } rows[] = {
        {"open", sys::Op::Open, [](void*, const std::string& s) {
             void* h = sys::createFile(s.c_str(), kRW, kShareAll, sys::kOpenAlways, false);
             return sys::isValidHandle(h) && sys::closeHandle(h);
         }},
        {"read", sys::Op::Read, [](void* h, const std::string&) { char c; uint32_t n; return sys::readFile(h, &c, 1, &n); }},
        {"write", sys::Op::Write, [](void* h, const std::string&) { uint32_t n; return sys::writeFile(h, "x", 1, &n); }},
        {"seek", sys::Op::Seek, [](void* h, const std::string&) { return sys::setFilePointer(h, 0, 0, nullptr); }},
        {"size", sys::Op::Size, [](void* h, const std::string&) { int64_t ll; return sys::getFileSize(h, &ll); }},
        {"truncate", sys::Op::Truncate, [](void* h, const std::string&) { return sys::setEndOfFile(h); }},
        {"flush", sys::Op::Flush, [](void* h, const std::string&) { return sys::flushFileBuffers(h); }},
        {"find", sys::Op::Find, [](void*, const std::string& s) { return sys::findFile(s.c_str()); }},
        {"temporary name", sys::Op::TempName, [](void*, const std::string& s) {
             return !sys::makeTempFileName(s.substr(0, s.rfind('/')).c_str(), "t").empty();
         }},
        {"delete", sys::Op::Delete, [](void*, const std::string& s) { return sys::deleteFile(s.c_str()); }},
        {"close", sys::Op::Close, [](void* h, const std::string&) { return sys::closeHandle(h); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        sys::clearFaults();
        sys::injectFault(row.op, 1, EIO);
        EXPECT_FALSE(row.pfnCall(hFile, sPath));
        EXPECT_EQ(sys::lastError(), static_cast<uint32_t>(EIO));
        EXPECT_EQ(sys::faultCalls(row.op), 1);
    }
    sys::clearFaults();
    // The injected close left the handle open and its file in place.
    int64_t llSize = -1;
    EXPECT_TRUE(sys::getFileSize(hFile, &llSize));
    EXPECT_TRUE(sys::closeHandle(hFile));
    EXPECT_EQ(sizeOf(sPath), 0);
}

TEST(PlatformFiles, TemporaryNames) {
    qrtest::ScratchDir dir;
    const std::string sFolder = sys::tempFolder();
    ASSERT_FALSE(sFolder.empty());
    EXPECT_TRUE(sFolder.back() == '/' || sFolder.back() == '\\') << sFolder;
    EXPECT_TRUE(std::filesystem::is_directory(sFolder)) << sFolder;

    // Up to three characters of the prefix, a hexadecimal number, ".tmp"; a new empty file each.
    // (The digits' case is the system's: upper case on Linux and Windows, lower case under Wine.)
    const std::regex shape("tmp[0-9A-Fa-f]{1,4}\\.tmp");
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string sName = sys::makeTempFileName(dir.path().c_str(), "tmpfile");
        ASSERT_FALSE(sName.empty()) << sys::systemErrorText(sys::lastError());
        const std::filesystem::path path(sName);
        EXPECT_TRUE(std::regex_match(path.filename().string(), shape)) << sName;
        EXPECT_TRUE(std::filesystem::equivalent(path.parent_path(), dir.path())) << sName;
        EXPECT_TRUE(names.insert(sName).second) << "name given twice: " << sName;
        EXPECT_EQ(sizeOf(sName), 0);
    }
    EXPECT_TRUE(std::regex_match(std::filesystem::path(sys::makeTempFileName(dir.path().c_str(), "Tm")).filename().string(),
                                 std::regex("Tm[0-9A-Fa-f]+\\.tmp")));
    EXPECT_TRUE(std::regex_match(std::filesystem::path(sys::makeTempFileName(dir.path().c_str(), "")).filename().string(),
                                 std::regex("[0-9A-Fa-f]+\\.tmp")));
    // A folder that does not exist: nothing, with the system's cause.
    EXPECT_EQ(sys::makeTempFileName(dir.file("none").c_str(), "t"), "");
    EXPECT_NE(sys::lastError(), 0u);
    EXPECT_EQ(sys::makeTempFileName(nullptr, "t"), "");
    EXPECT_EQ(sys::lastError(), sys::kErrorInvalidArgument);
}

// What the journal of an interrupted edit relies on to find its file again and to make room: the
// identity and the final path follow the file, not the name it was opened by, and a reservation
// changes neither the size nor a byte.
TEST(PlatformFiles, IdentityFinalPathAndReservationFollowTheFile) {
    qrtest::ScratchDir dir;
    const std::string sPath = dir.file("one.dat"), sOther = dir.file("two.dat"), sMoved = dir.file("moved.dat");
    qrtest::writeFileText(sPath, "0123456789");
    qrtest::writeFileText(sOther, "x");
    void* hFile = sys::createFile(sPath.c_str(), kRW, kShareAll, sys::kOpenExisting, false);
    void* hSame = sys::createFile(sPath.c_str(), sys::kGenericRead, kShareAll, sys::kOpenExisting, false);
    void* hOther = sys::createFile(sOther.c_str(), sys::kGenericRead, kShareAll, sys::kOpenExisting, false);
    ASSERT_TRUE(sys::isValidHandle(hFile) && sys::isValidHandle(hSame) && sys::isValidHandle(hOther));
    sys::FileIdentity one, same, other;
    ASSERT_TRUE(sys::fileIdentity(hFile, &one) && sys::fileIdentity(hSame, &same) && sys::fileIdentity(hOther, &other));
    EXPECT_EQ(one, same);
    EXPECT_FALSE(one == other);

    const std::string sFinal = sys::finalPath(sPath.c_str());
    ASSERT_FALSE(sFinal.empty());
    EXPECT_EQ(sys::finalPathOf(hFile), sFinal);
    EXPECT_NE(sys::finalPath(sOther.c_str()), sFinal);
    EXPECT_EQ(sys::finalPath(dir.file("none.dat").c_str()), "");
    EXPECT_EQ(sys::lastError(), sys::kErrorNotFound);

    // Room for 1 MiB more: the size and the bytes stay, growing into it works.
    ASSERT_TRUE(sys::reserveFileSpace(hFile, 1 << 20));
    EXPECT_EQ(sizeOf(sPath), 10);
    EXPECT_TRUE(sys::reserveFileSpace(hFile, 5)) << "nothing to reserve below the size";
    EXPECT_FALSE(sys::reserveFileSpace(hSame, 1 << 20));
    EXPECT_EQ(sys::lastError(), sys::kErrorAccessDenied);
    sys::injectFault(sys::Op::Reserve, 1, 28);
    EXPECT_FALSE(sys::reserveFileSpace(hFile, 1 << 21));
    EXPECT_EQ(sys::lastError(), 28u);
    EXPECT_TRUE(sys::flushFileData(hFile));
    EXPECT_TRUE(sys::startWriteBack(hFile, 0, 10));
    EXPECT_TRUE(sys::flushFolder(dir.path().c_str()));
    EXPECT_TRUE(sys::restrictToOwner(hFile));
    EXPECT_TRUE(sys::closeHandle(hSame));
    EXPECT_TRUE(sys::closeHandle(hOther));

    // Renamed while open: the handle's final path is the new name, its identity unchanged.
    std::error_code error;
    std::filesystem::rename(sPath, sMoved, error);
    if (!error) {
        EXPECT_EQ(sys::finalPathOf(hFile), sys::finalPath(sMoved.c_str()));
        sys::FileIdentity moved;
        ASSERT_TRUE(sys::fileIdentity(hFile, &moved));
        EXPECT_EQ(moved, one);
    }
    EXPECT_TRUE(sys::closeHandle(hFile));
    const std::vector<unsigned char> bytes = qrtest::readFileBytes(error ? sPath : sMoved);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
}

}  // namespace
