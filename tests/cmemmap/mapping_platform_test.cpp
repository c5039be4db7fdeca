// The platform's mapping objects, views, mutexes and granularity, below the class: names under
// /dev/shm, sharing by name, lifetime, leftovers, view bounds and the mutex's owner rules.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/shm_object.h"
#include "support/scratch.h"

namespace {

using namespace qr::sys;

std::string uniqueName(const std::string& sStem) {
    return "qrtest_" + sStem + "_" + std::to_string(::getpid()) + "_" + std::to_string(randomBelow(1000000));
}

bool objectFileExists(const std::string& sName) {
    struct stat st{};
    return ::lstat(posix::objectPath(sName).c_str(), &st) == 0;
}

std::string lastErrorText() { return systemErrorText(lastError()); }

TEST(MappingNames, EncodeKeepsSafeBytesAndEscapesTheRest) {
    struct Row {
        const char* szName;
        const char* szEncoded;
    };
    const Row rows[] = {
        {"abcXYZ019_-", "abcXYZ019_-"},
        {"D:_survey_line1.dat", "D%3A_survey_line1%2Edat"},
        {"/tmp/a b", "%2Ftmp%2Fa%20b"},
        {"%", "%25"},
        {"\xB2\xE2\x5C", "%B2%E2%5C"},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        EXPECT_EQ(posix::encodeObjectName(row.szName), row.szEncoded);
    }
    // Distinct names never share a file, also when their encodings would be too long.
    const std::string sLongA(255, '.');
    std::string sLongB(255, '.');
    sLongB[254] = ',';
    const std::string sFileA = posix::objectPath(sLongA);
    const std::string sFileB = posix::objectPath(sLongB);
    EXPECT_NE(sFileA, sFileB);
    EXPECT_LE(sFileA.size() - std::strlen(posix::kObjectFolder), 255u);
    EXPECT_EQ(posix::encodeObjectName(sLongA)[0], '#');
}

TEST(MappingObjects, PageFileObjectIsSharedByNameAndGoesWithItsLastUser) {
    const std::string sName = uniqueName("share");
    bool bExisted = true;
    void* hFirst = createFileMapping(kInvalidHandle, kPageReadWrite, 10000, sName.c_str(), true, 0, &bExisted);
    ASSERT_NE(hFirst, nullptr) << lastErrorText();
    EXPECT_FALSE(bExisted);
    EXPECT_TRUE(objectFileExists(sName));
    EXPECT_EQ(fileMappingSize(hFirst), 10000);

    // Creating the name again returns the existing object, whatever size is asked.
    void* hSecond = createFileMapping(kInvalidHandle, kPageReadWrite, 50, sName.c_str(), true, 0, &bExisted);
    ASSERT_NE(hSecond, nullptr) << lastErrorText();
    EXPECT_TRUE(bExisted);
    EXPECT_EQ(fileMappingSize(hSecond), 10000);
    // Exclusive creation refuses it.
    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 50, sName.c_str(), true, kMapCreateExclusive, &bExisted), nullptr);
    EXPECT_EQ(lastError(), kErrorAlreadyExists);

    auto* pFirst = static_cast<unsigned char*>(mapViewOfFile(hFirst, kMapWrite, 0, 0));
    ASSERT_NE(pFirst, nullptr) << lastErrorText();
    for (int i = 0; i < 10000; ++i) EXPECT_EQ(pFirst[i], 0) << "at " << i;
    pFirst[0] = 0x11;
    pFirst[9999] = 0x22;
    void* hOpened = openFileMapping(kMapRead, false, sName.c_str());
    ASSERT_NE(hOpened, nullptr) << lastErrorText();
    EXPECT_EQ(fileMappingSize(hOpened), 10000);
    const uint32_t g = allocationGranularity();
    auto* pOpened = static_cast<unsigned char*>(mapViewOfFile(hOpened, kMapRead, g, 0));
    ASSERT_NE(pOpened, nullptr) << lastErrorText();
    EXPECT_EQ(pOpened[9999 - g], 0x22);
    // A read access handle cannot map for writing.
    EXPECT_EQ(mapViewOfFile(hOpened, kMapWrite, 0, 0), nullptr);
    EXPECT_EQ(lastError(), kErrorAccessDenied);

    // Handles gone, a view still holds the object.
    EXPECT_TRUE(closeFileMapping(hFirst));
    EXPECT_TRUE(closeFileMapping(hSecond));
    EXPECT_TRUE(closeFileMapping(hOpened));
    EXPECT_FALSE(closeFileMapping(hOpened));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_TRUE(objectFileExists(sName));
    EXPECT_EQ(pOpened[9999 - g], 0x22);
    EXPECT_TRUE(unmapViewOfFile(pOpened));
    EXPECT_TRUE(objectFileExists(sName));
    EXPECT_TRUE(unmapViewOfFile(pFirst));
    EXPECT_FALSE(objectFileExists(sName));
    EXPECT_EQ(openFileMapping(kMapRead, false, sName.c_str()), nullptr);
    EXPECT_EQ(lastError(), kErrorNotFound);
}

TEST(MappingObjects, LeftoverOfAKilledProcessIsCleanedOnTheNextCreateOrOpen) {
    for (const bool bOpenFirst : {true, false}) {
        SCOPED_TRACE(bOpenFirst ? "open" : "create");
        const std::string sName = uniqueName("leftover");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 4096, sName.c_str(), true, 0, nullptr);
            auto* p = h != nullptr ? static_cast<char*>(mapViewOfFile(h, kMapWrite, 0, 0)) : nullptr;
            if (p != nullptr) std::memcpy(p, "stale", 5);
            const char c = p != nullptr ? 'y' : 'n';
            (void)!::write(fds[1], &c, 1);
            ::pause();  // until killed: the object is left behind, never released
            ::_exit(0);
        }
        ::close(fds[1]);
        char c = 0;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ::close(fds[0]);
        ASSERT_EQ(c, 'y');
        ::kill(pid, SIGKILL);
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        ASSERT_TRUE(objectFileExists(sName)) << "the killed process left nothing to clean";

        if (bOpenFirst) {
            EXPECT_EQ(openFileMapping(kMapWrite, false, sName.c_str()), nullptr);
            EXPECT_EQ(lastError(), kErrorNotFound);
            EXPECT_FALSE(objectFileExists(sName));
        }
        bool bExisted = true;
        void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 4096, sName.c_str(), true, 0, &bExisted);
        ASSERT_NE(h, nullptr) << lastErrorText();
        EXPECT_FALSE(bExisted);
        auto* p = static_cast<char*>(mapViewOfFile(h, kMapRead, 0, 0));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(p, 5), std::string(5, '\0'));
        EXPECT_TRUE(unmapViewOfFile(p));
        EXPECT_TRUE(closeFileMapping(h));
        EXPECT_FALSE(objectFileExists(sName));
    }
}

TEST(MappingObjects, ForeignFileUnderAnObjectNameIsRefusedAndLiveObjectsAreKept) {
    const std::string sName = uniqueName("foreign");
    const std::string sPath = posix::objectPath(sName);
    // A file nobody holds counts as a leftover whatever it holds.
    {
        const int fd = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "junk", 4), 4);
        ::close(fd);
    }
    void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), true, 0, nullptr);
    ASSERT_NE(h, nullptr) << lastErrorText();
    EXPECT_TRUE(closeFileMapping(h));
    // One that someone holds and that is not ours is refused, not taken over.
    const int fd = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    EXPECT_EQ(openFileMapping(kMapRead, false, sName.c_str()), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidArgument);
    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), true, 0, nullptr), nullptr);
    EXPECT_TRUE(objectFileExists(sName));
    // A valid object of ours that another user owns is not trusted either (only root can make
    // one here).
    if (::geteuid() == 0) {
        ::close(fd);
        ::unlink(sPath.c_str());
        void* hOwn = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, 0, nullptr);
        ASSERT_NE(hOwn, nullptr);
        ASSERT_EQ(::chown(sPath.c_str(), 65534, 65534), 0);
        EXPECT_EQ(openFileMapping(kMapRead, false, sName.c_str()), nullptr);
        EXPECT_EQ(lastError(), kErrorAccessDenied);
        EXPECT_TRUE(closeFileMapping(hOwn));  // its last holder removes it
        EXPECT_FALSE(objectFileExists(sName));
        // A foreign file nobody holds is not ours to remove either.
        const int fdForeign = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fdForeign, 0);
        ::close(fdForeign);
        ASSERT_EQ(::chown(sPath.c_str(), 65534, 65534), 0);
        EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, 0, nullptr), nullptr);
        EXPECT_EQ(lastError(), kErrorAccessDenied);
        EXPECT_TRUE(objectFileExists(sName));
        ::unlink(sPath.c_str());
        return;
    }
    ::close(fd);
    ::unlink(sPath.c_str());
}

TEST(MappingObjects, UnnamedObjectsAndArgumentChecks) {
    void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 3 * 4096 + 5, nullptr, false, 0, nullptr);
    ASSERT_NE(h, nullptr) << lastErrorText();
    const uint32_t g = allocationGranularity();
    struct Row {
        const char* szWhat;
        int64_t llOffset;
        std::size_t nLength;
        uint32_t nCode;
    };
    const int64_t llEnd = 3 * 4096 + 5;
    const Row rows[] = {
        {"unaligned offset", 100, 10, kErrorInvalidArgument},
        {"negative offset", -static_cast<int64_t>(g), 10, kErrorInvalidArgument},
        {"offset at the end", (llEnd / g + 1) * g, 0, kErrorInvalidArgument},
        {"length past the end", 0, static_cast<std::size_t>(llEnd + 1), kErrorInvalidArgument},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        EXPECT_EQ(mapViewOfFile(h, kMapWrite, row.llOffset, row.nLength), nullptr);
        EXPECT_EQ(lastError(), row.nCode);
    }
    auto* p = static_cast<char*>(mapViewOfFile(h, kMapWrite, 0, static_cast<std::size_t>(llEnd)));
    ASSERT_NE(p, nullptr) << lastErrorText();
    p[llEnd - 1] = 'z';
    EXPECT_TRUE(flushViewOfFile(p + 10, 0));
    EXPECT_FALSE(unmapViewOfFile(p + g));
    EXPECT_EQ(lastError(), kErrorInvalidArgument);
    EXPECT_FALSE(flushViewOfFile(&rows, 1));
    EXPECT_TRUE(unmapViewOfFile(p));
    EXPECT_FALSE(unmapViewOfFile(p));
    EXPECT_TRUE(closeFileMapping(h));
    EXPECT_EQ(mapViewOfFile(h, kMapRead, 0, 0), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_EQ(mapViewOfFile(kInvalidHandle, kMapRead, 0, 0), nullptr);
    EXPECT_EQ(mapViewOfFile(nullptr, kMapRead, 0, 0), nullptr);

    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 0, nullptr, false, 0, nullptr), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidArgument);
    EXPECT_EQ(createFileMapping(kInvalidHandle, 7, 10, nullptr, false, 0, nullptr), nullptr);
    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 10, nullptr, false, 8, nullptr), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidArgument);
    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 10, std::string(256, 'n').c_str(), false, 0, nullptr),
              nullptr);
    EXPECT_EQ(lastError(), kErrorNameTooLong);
    EXPECT_EQ(openFileMapping(kMapRead, false, ""), nullptr);
    EXPECT_EQ(lastError(), kErrorNotFound);

    // Read-only objects map only for reading; a writable view of one is refused.
    const std::string sName = uniqueName("ro");
    void* hRo = createFileMapping(kInvalidHandle, kPageReadOnly, 100, sName.c_str(), false, 0, nullptr);
    ASSERT_NE(hRo, nullptr) << lastErrorText();
    EXPECT_EQ(mapViewOfFile(hRo, kMapWrite, 0, 0), nullptr);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_EQ(openFileMapping(kMapWrite, false, sName.c_str()), nullptr);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_TRUE(closeFileMapping(hRo));
}

TEST(MappingObjects, FaultSeamFailsEachKindOfCall) {
    struct Row {
        const char* szWhat;
        Op op;
    };
    const Row rows[] = {{"create", Op::CreateMapping}, {"open", Op::OpenMapping}, {"map", Op::MapView},
                        {"flush", Op::FlushView},      {"unmap", Op::UnmapView},  {"mutex", Op::Mutex}};
    const std::string sName = uniqueName("fault");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, 0, nullptr);
        ASSERT_NE(h, nullptr);
        void* p = mapViewOfFile(h, kMapWrite, 0, 0);
        ASSERT_NE(p, nullptr);
        injectFault(row.op, 1, 4242);
        bool bFailed = false;
        switch (row.op) {
        case Op::CreateMapping:
            bFailed = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, 0, nullptr) == nullptr;
            break;
        case Op::OpenMapping: bFailed = openFileMapping(kMapRead, false, sName.c_str()) == nullptr; break;
        case Op::MapView: bFailed = mapViewOfFile(h, kMapRead, 0, 0) == nullptr; break;
        case Op::FlushView: bFailed = !flushViewOfFile(p, 0); break;
        case Op::UnmapView: bFailed = !unmapViewOfFile(p); break;
        default: bFailed = createMutex(false, nullptr, nullptr) == nullptr; break;
        }
        clearFaults();
        EXPECT_TRUE(bFailed);
        EXPECT_EQ(lastError(), 4242u);
        EXPECT_TRUE(unmapViewOfFile(p));
        EXPECT_TRUE(closeFileMapping(h));
    }
}

TEST(Granularity, SeamSetsWin32GranularityAndRefusesOddValues) {
    const uint32_t nPage = static_cast<uint32_t>(::sysconf(_SC_PAGESIZE));
    EXPECT_EQ(allocationGranularity(), nPage);
    EXPECT_TRUE(setAllocationGranularity(65536));
    EXPECT_EQ(allocationGranularity(), 65536u);
    EXPECT_FALSE(setAllocationGranularity(12345));
    EXPECT_FALSE(setAllocationGranularity(nPage / 2));
    EXPECT_EQ(allocationGranularity(), 65536u);
    // Views follow the seam: a page-aligned offset that is not 64 KiB-aligned is refused.
    void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 200000, nullptr, false, 0, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mapViewOfFile(h, kMapRead, nPage, 10), nullptr);
    void* p = mapViewOfFile(h, kMapRead, 65536, 10);
    EXPECT_NE(p, nullptr);
    EXPECT_TRUE(unmapViewOfFile(p));
    EXPECT_TRUE(setAllocationGranularity(0));
    EXPECT_EQ(allocationGranularity(), nPage);
    EXPECT_TRUE(closeFileMapping(h));
}

TEST(Mutexes, RecursiveOwnerTimedWaitsAndAbandonment) {
    bool bExisted = true;
    const std::string sName = uniqueName("mutex");
    void* h = createMutex(false, sName.c_str(), &bExisted);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(bExisted);
    void* hSame = createMutex(true, sName.c_str(), &bExisted);
    ASSERT_NE(hSame, nullptr);
    EXPECT_TRUE(bExisted);

    // Recursive for the owner: two waits need two releases.
    EXPECT_EQ(waitForSingleObject(h, 0), kWaitObject0);
    EXPECT_EQ(waitForSingleObject(hSame, 0), kWaitObject0);
    uint32_t nOther = 0;
    std::thread([&] { nOther = waitForSingleObject(h, 0); }).join();
    EXPECT_EQ(nOther, kWaitTimeout);
    EXPECT_TRUE(releaseMutex(h));
    std::thread([&] {
        const auto start = std::chrono::steady_clock::now();
        nOther = waitForSingleObject(h, 60);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(55));
    }).join();
    EXPECT_EQ(nOther, kWaitTimeout);
    EXPECT_TRUE(releaseMutex(hSame));
    EXPECT_FALSE(releaseMutex(h));
    EXPECT_EQ(lastError(), kErrorNotOwner);

    // A waiter without limit gets it when the owner releases.
    ASSERT_EQ(waitForSingleObject(h, kInfinite), kWaitObject0);
    std::atomic<bool> bGot{false};
    std::thread waiter([&] {
        nOther = waitForSingleObject(h, kInfinite);
        bGot = true;
        releaseMutex(h);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(bGot.load());
    EXPECT_TRUE(releaseMutex(h));
    waiter.join();
    EXPECT_EQ(nOther, kWaitObject0);

    // An owner thread that ends leaves it abandoned; the next waiter owns it.
    std::thread([&] { EXPECT_EQ(waitForSingleObject(h, 0), kWaitObject0); }).join();
    EXPECT_EQ(waitForSingleObject(h, 1000), kWaitAbandoned);
    EXPECT_TRUE(releaseMutex(h));
    EXPECT_EQ(waitForSingleObject(h, 0), kWaitObject0);
    EXPECT_TRUE(releaseMutex(h));

    EXPECT_TRUE(closeMutex(h));
    EXPECT_TRUE(closeMutex(hSame));
    EXPECT_FALSE(closeMutex(h));
    EXPECT_EQ(waitForSingleObject(h, 0), kWaitFailed);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    // The name went with the last handle.
    void* hNew = createMutex(false, sName.c_str(), &bExisted);
    EXPECT_FALSE(bExisted);
    EXPECT_TRUE(closeMutex(hNew));
}

}  // namespace
