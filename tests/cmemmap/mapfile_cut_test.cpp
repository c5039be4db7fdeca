// Files under a live mapping: no operation of the library, in this process or another, cuts a
// mapped file below its mapping.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "mapfile_cut_ops.h"
#include "named_objects.h"
#include "qrcore/fileapi.h"

namespace {

using mftest::fileSize;
using mftest::MapFileTest;
using mftest::Probe;

std::vector<unsigned char> pattern(std::size_t nSize) {
    std::vector<unsigned char> bytes(nSize);
    for (std::size_t i = 0; i < nSize; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + i / 253);
    return bytes;
}

class MappedFiles : public MapFileTest {
protected:
    static std::string peer() { return qrtest::helperProgram("mapfile_peer"); }

    // One operation of mapfile_cut_ops.h in this process: "ok", or "failed <number> <text>" as
    // the peer prints it.
    std::string cutHere(const std::string& sHow, const std::string& sPath) {
        ReportError(0);
        notices.clear();
        if (mftest::cutFile(sHow, sPath.c_str())) return "ok\n";
        return "failed " + std::to_string(GetDllErrorNo()) + " " + notices.lastText() + "\n";
    }

    qrtest::ScratchDir dir;
};

TEST_F(MappedFiles, CannotBeCutBelowALiveMappingByAnyProcess) {
    const std::vector<unsigned char> bytes = pattern(3 * 4096 + 100);
    const std::string sRefused = "failed 1000000 " + systemText(qr::sys::kErrorUserMappedFile) + "\n";
    struct Row {
        const char* szHow;
        bool bRefused;
    };
    const Row rows[] = {
        {"newfile", true},  // a truncating create
        {"truncate", true},  // a truncating open
        {"seteof", true},    // cutting at the file pointer below the end
        {"free", true},      // removing a range
        {"collapse", true},  // the in-place removal itself
        {"extend", false},   // growing the file is no cut
    };
    enum Holder { kSharedHandle, kViewsAfterUnMap };
    int nFile = 0;
    for (const Holder holder : {kSharedHandle, kViewsAfterUnMap}) {
        for (const bool bOtherProcess : {false, true}) {
            for (const Row& row : rows) {
                if (std::strcmp(row.szHow, "collapse") == 0 && bOtherProcess) continue;
                SCOPED_TRACE(std::string(row.szHow) + (bOtherProcess ? ", other process" : ", same process") +
                             (holder == kSharedHandle ? ", mapped through a shared handle" : ", views outlive UnMap"));
                const std::string sPath = dir.file("mapped" + std::to_string(nFile++) + ".bin");
                qrtest::writeFileBytes(sPath, bytes);
                Probe map;
                if (holder == kSharedHandle) {
                    // A handle that shares reading and writing lets others open the file.
                    void* hFile = qr::sys::kInvalidHandle;
                    ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 0x303));
                    ASSERT_TRUE(map.MapHandle(hFile, false, false)) << notices.lastText();
                } else {
                    ASSERT_TRUE(map.MapFile(sPath.c_str(), false, false, false)) << notices.lastText();
                }
                ASSERT_TRUE(map.SetView(0, 0, static_cast<int32_t>(bytes.size())));
                if (holder == kViewsAfterUnMap) map.UnMap();  // the file handle is closed, the view stays

                const std::string sOutcome =
                    bOtherProcess ? qrtest::runChild(peer(), {"cut", row.szHow, sPath}).sStdout : cutHere(row.szHow, sPath);
                EXPECT_EQ(sOutcome, row.bRefused ? sRefused : "ok\n");
                if (row.bRefused) {
                    // Size and bytes as they were, so the view's last byte can be read safely.
                    ASSERT_EQ(fileSize(sPath), static_cast<int64_t>(bytes.size()));
                    EXPECT_TRUE(qrtest::readFileBytes(sPath) == bytes);
                    EXPECT_EQ(static_cast<unsigned char*>(map.UseView(0))[bytes.size() - 1], bytes.back());
                }
                // Once the mapping is gone, the same operation cuts the file.
                map.FreeView();
                map.UnMap();
                if (row.bRefused) {
                    const std::string sAfter = cutHere(row.szHow, sPath);
                    if (std::strcmp(row.szHow, "collapse") == 0 && sAfter != "ok\n") {
                        // Where the file system cannot remove blocks in place, it says so now.
                        EXPECT_EQ(sAfter, "failed 1000000 " + systemText(qr::sys::kErrorNotSupported) + "\n");
                    } else {
                        EXPECT_EQ(sAfter, "ok\n");
                        EXPECT_LT(fileSize(sPath), static_cast<int64_t>(bytes.size()));
                    }
                }
            }
        }
    }
}

TEST_F(MappedFiles, ProbeTellsWhetherAMappingOfTheFileLives) {
    const std::string sPath = dir.file("probed.bin");
    qrtest::writeFileBytes(sPath, pattern(5000));
    void* hFile = qr::sys::kInvalidHandle;
    ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 0x303));
    EXPECT_TRUE(qr::sys::checkFileNotMapped(hFile));
    {
        Probe map;
        void* hMapped = qr::sys::kInvalidHandle;
        ASSERT_TRUE(QR_OpenFile(&hMapped, sPath.c_str(), 0x303));
        ASSERT_TRUE(map.MapHandle(hMapped, false, true));
        EXPECT_FALSE(qr::sys::checkFileNotMapped(hFile));
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorUserMappedFile);
        // Through the mapped handle itself as well.
        EXPECT_FALSE(qr::sys::checkFileNotMapped(hMapped));
    }
    EXPECT_TRUE(qr::sys::checkFileNotMapped(hFile));
    qr::sys::injectFault(qr::sys::Op::Size, 1, EIO);
    EXPECT_FALSE(qr::sys::checkFileNotMapped(hFile));
    EXPECT_EQ(qr::sys::lastError(), static_cast<uint32_t>(EIO));
    EXPECT_TRUE(QR_CloseFile(hFile));
    EXPECT_FALSE(qr::sys::checkFileNotMapped(hFile));
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorInvalidHandle);
}

}  // namespace
