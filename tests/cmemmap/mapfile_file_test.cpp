// CxMapFile over files and handles: views against plain reads at both granularities, growth,
// append-null, empty and missing files, sparse files, handles, and sharing with a second process.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mapfile_support.h"
#include "qrcore/fileapi.h"
#include "support/backend.h"
#include "support/child.h"
#include "support/scratch.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

std::vector<unsigned char> patternBytes(std::size_t nSize, unsigned nSeed) {
    std::vector<unsigned char> bytes(nSize);
    uint32_t x = nSeed * 2654435761u + 1;
    for (unsigned char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }
    return bytes;
}

// Bytes [llOffset, llOffset + nLength) of the file, read with a stream of its own (which shares
// reading and writing with the mapping's handles).
std::vector<unsigned char> plainRead(const std::string& sPath, int64_t llOffset, std::size_t nLength) {
    std::vector<unsigned char> bytes(nLength);
    std::ifstream in(sPath, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << sPath;
    in.seekg(static_cast<std::streamoff>(llOffset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(nLength));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

int64_t fileSize(const std::string& sPath) {
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(sPath, ec);
    return ec ? -1 : static_cast<int64_t>(nSize);
}

class FileMaps : public MapFileTest {
protected:
    qrtest::ScratchDir dir;
};

TEST_F(FileMaps, ViewsMatchPlainReadsAtPageSizeAndWin32Granularity) {
    for (const uint32_t nGranularity : {0u, 65536u}) {
        ASSERT_TRUE(qr::sys::setAllocationGranularity(nGranularity));
        const int64_t g = qr::sys::allocationGranularity();
        SCOPED_TRACE("granularity " + std::to_string(g));
        const std::string sPath = dir.file("data" + std::to_string(g) + ".bin");
        const int64_t llData = 5 * g + 777;
        qrtest::writeFileBytes(sPath, patternBytes(static_cast<std::size_t>(llData), static_cast<unsigned>(g)));
        Probe map;
        ASSERT_TRUE(map.MapFile(sPath.c_str(), false, true, false)) << notices.lastText();
        EXPECT_EQ(map.GetFileName(), sPath);
        EXPECT_EQ(map.GetMappingName(), mftest::mappingNameOf(sPath));
        EXPECT_EQ(map.GetMappingSize(), llData);
        EXPECT_TRUE(map.GetReadOlny());
        struct Row {
            int64_t llOffset;
            int32_t lSize;
        };
        const Row rows[] = {
            {0, 1},           {1, 100},           {g - 1, 2},      {g, static_cast<int32_t>(g)},
            {g + 100, 50},    {2 * g + 5, 100000}, {5 * g, 777},   {5 * g + 776, 1},
            {llData - 10, 1000}, {3 * g - 3, static_cast<int32_t>(2 * g)},
        };
        int32_t lId = 0;
        for (const Row& row : rows) {
            SCOPED_TRACE("offset " + std::to_string(row.llOffset) + " size " + std::to_string(row.lSize));
            ASSERT_TRUE(map.SetView(lId, row.llOffset, row.lSize));
            const _tagMemView* pView = map.GetView(lId);
            const int64_t llAligned = row.llOffset / g * g;
            EXPECT_EQ(pView->llOffset, llAligned);
            EXPECT_EQ(map.GetMapViewStart(), llAligned);
            const int64_t llWanted = row.llOffset - llAligned + row.lSize;
            EXPECT_EQ(pView->lSize, std::min(llWanted, llData - llAligned));
            auto* p = static_cast<const unsigned char*>(map.UseView(lId));
            ASSERT_NE(p, nullptr);
            const std::vector<unsigned char> expected =
                mftest::readThrough(map.GetFileHandle(), llAligned, static_cast<std::size_t>(pView->lSize));
            ASSERT_EQ(expected.size(), static_cast<std::size_t>(pView->lSize));
            EXPECT_EQ(std::memcmp(p, expected.data(), expected.size()), 0);
            // A caller's record hands out the requested offset itself.
            _tagMemView own{100 + lId, row.llOffset, 0, row.lSize, nullptr, nullptr, false};
            auto* pOwn = static_cast<const unsigned char*>(map.MapView(own));
            ASSERT_NE(pOwn, nullptr);
            EXPECT_EQ(own.lDelta, row.llOffset - llAligned);
            EXPECT_EQ(*pOwn, mftest::readThrough(map.GetFileHandle(), row.llOffset, 1).at(0));
            map.UnMapView(own);
            ++lId;
        }
        map.FreeView();
        map.UnMap();
    }
}

TEST_F(FileMaps, WritesReachTheFileAndAppendNullGrowsItByTwoZeros) {
    const int64_t g = qr::sys::allocationGranularity();
    const std::string sPath = dir.file("hundred.dat");
    qrtest::writeFileBytes(sPath, patternBytes(100, 1));
    Probe map;
    ASSERT_TRUE(map.MapFile(sPath.c_str(), true, false, false)) << notices.lastText();
    EXPECT_EQ(map.GetMappingSize(), 102);
    EXPECT_TRUE(map.GetAppendNull());
    EXPECT_EQ(fileSize(sPath), 102);
    ASSERT_TRUE(map.SetView(0, 10, 500));
    EXPECT_EQ(map.GetView(0)->lSize, 100);
    auto* p = static_cast<char*>(map.UseView(0));
    EXPECT_EQ(p[100], 0);
    EXPECT_EQ(p[101], 0);
    EXPECT_EQ(std::strlen(p + 90), 10u);  // the terminator ends the data as a string
    std::memcpy(p + 20, "written", 7);
    EXPECT_TRUE(map.Flush(*map.GetView(0)));
    EXPECT_EQ(mftest::readThrough(map.GetFileHandle(), 20, 7), std::vector<unsigned char>({'w', 'r', 'i', 't', 't', 'e', 'n'}));
    // The file is held without sharing while mapped.
    void* hOther = qr::sys::kInvalidHandle;
    EXPECT_FALSE(QR_OpenFile(&hOther, sPath.c_str(), 1));
    map.FreeView();
    map.UnMap();
    EXPECT_EQ(map.GetFileName(), sPath);
    EXPECT_TRUE(QR_OpenFile(&hOther, sPath.c_str(), 1));
    QR_CloseFile(hOther);
    (void)g;
}

TEST_F(FileMaps, CreateMappingSizeCutsOrGrowsTheFile) {
    const std::string sPath = dir.file("sized.dat");
    const std::vector<unsigned char> bytes = patternBytes(10000, 2);
    qrtest::writeFileBytes(sPath, bytes);
    {
        SCOPED_TRACE("smaller than the file");
        Probe map;
        ASSERT_NE(map.OpenFile(sPath.c_str(), false, false, false), nullptr);
        ASSERT_TRUE(map.CreateMapping(300));
        EXPECT_EQ(map.GetMappingSize(), 300);
        ASSERT_TRUE(map.SetView(0, 0, 5000));
        EXPECT_EQ(map.GetView(0)->lSize, 300);
        EXPECT_EQ(std::memcmp(map.UseView(0), bytes.data(), 300), 0);
        map.FreeView();
    }
    EXPECT_EQ(fileSize(sPath), 10000);
    {
        SCOPED_TRACE("larger than the file, sparse");
        Probe map;
        ASSERT_NE(map.OpenFile(sPath.c_str(), false, false, true), nullptr);
        EXPECT_EQ(map.GetFileName(), sPath);
        const int64_t llBig = int64_t{1} << 34;  // 16 GiB, without taking the space
        ASSERT_TRUE(map.CreateMapping(llBig)) << notices.lastText();
        EXPECT_EQ(fileSize(sPath), llBig);
        EXPECT_LT(qrtest::allocatedBytes(sPath), int64_t{1} << 24);
        ASSERT_TRUE(map.SetView(1, llBig - 10, 10));
        auto* p = static_cast<unsigned char*>(map.UseView(1));
        const int64_t llStart = map.GetView(1)->llOffset;
        p[llBig - 1 - llStart] = 0xAB;
        EXPECT_EQ(mftest::readThrough(map.GetFileHandle(), llBig - 1, 1).at(0), 0xAB);
        map.FreeView();
    }
    {
        SCOPED_TRACE("read-only mapping cannot grow its file");
        qrtest::writeFileBytes(sPath, bytes);
        Probe map;
        ASSERT_NE(map.OpenFile(sPath.c_str(), false, true, false), nullptr);
        ReportError(0);
        EXPECT_FALSE(map.CreateMapping(20000));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        EXPECT_NE(map.GetFileHandle(), qr::sys::kInvalidHandle);  // the file stays open
        EXPECT_EQ(map.GetMappingSize(), 20000);
        EXPECT_EQ(map.GetMappingName(), mftest::mappingNameOf(sPath));
        EXPECT_EQ(fileSize(sPath), 10000);
    }
}

TEST_F(FileMaps, EmptyMissingAndRefusedFiles) {
    const std::string sEmpty = dir.file("empty.dat");
    qrtest::writeFileText(sEmpty, "");
    {
        SCOPED_TRACE("empty file");
        Probe map;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(map.MapFile(sEmpty.c_str(), false, false, false));
        const std::string sErr = ::testing::internal::GetCapturedStderr();
#ifdef NDEBUG
        EXPECT_EQ(sErr.find("File size is 0"), std::string::npos) << "release builds do not trace";
#endif
        EXPECT_EQ(GetDllErrorNo(), 0);
        EXPECT_TRUE(notices.notices.empty());
        EXPECT_TRUE(map.GetReadOlny());
        EXPECT_EQ(map.GetFileName(), sEmpty);
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
    }
    {
        SCOPED_TRACE("handle of an empty file");
        void* hFile = qr::sys::kInvalidHandle;
        ASSERT_TRUE(QR_OpenFile(&hFile, sEmpty.c_str(), 3));
        Probe map;
        EXPECT_FALSE(map.MapHandle(hFile, false, false));
        EXPECT_EQ(GetDllErrorNo(), 0);
        EXPECT_TRUE(mftest::handleClosed(hFile));
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
    }
    {
        SCOPED_TRACE("missing file through the path constructor");
        const std::string sMissing = dir.file("missing.dat");
        Probe map(sMissing.c_str());
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNotFound));
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(map.GetFileMappingHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(map.GetFileName(), "");
        EXPECT_FALSE(map.GetReadOlny());
    }
    const std::string sData = dir.file("data.dat");
    qrtest::writeFileBytes(sData, patternBytes(5000, 3));
    {
        SCOPED_TRACE("path over 255 bytes");
        Probe map;
        const std::string sLong = dir.path() + "/" + std::string(250, 'p');
        ReportError(0);
        EXPECT_FALSE(map.MapFile(sLong.c_str(), false, false, false));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNameTooLong));
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
    }
    {
        SCOPED_TRACE("append-null with read-only is refused before the file is opened");
        Probe map;
        ReportError(0);
        EXPECT_FALSE(map.MapFile(sData.c_str(), true, true, false));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorInvalidArgument));
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(fileSize(sData), 5000);
    }
    {
        SCOPED_TRACE("the sparse request fails");
        Probe map;
        ReportError(0);
        qr::sys::injectFault(qr::sys::Op::RangeEdit, 1, qr::sys::kErrorNotSupported);
        void* hFile = map.OpenFile(sData.c_str(), false, false, true);
        EXPECT_NE(hFile, nullptr);
        EXPECT_EQ(hFile, map.GetFileHandle());
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNotSupported));
        EXPECT_EQ(map.GetFileName(), "");  // not recorded
        // Mapped anyway, under a random name.
        EXPECT_TRUE(map.CreateMapping(0));
        EXPECT_EQ(map.GetMappingName().rfind("MappingName", 0), 0u);
    }
    {
        SCOPED_TRACE("the size query fails");
        Probe map;
        ASSERT_NE(map.OpenFile(sData.c_str(), false, false, false), nullptr);
        ReportError(0);
        qr::sys::injectFault(qr::sys::Op::Size, 1, qr::sys::kErrorInvalidHandle);
        EXPECT_FALSE(map.CreateMapping(0));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        EXPECT_TRUE(map.GetReadOlny());
    }
    {
        SCOPED_TRACE("write-only handle");
        void* hFile = qr::sys::kInvalidHandle;
        ASSERT_TRUE(QR_OpenFile(&hFile, sData.c_str(), 2));
        Probe map;
        ReportError(0);
        EXPECT_FALSE(map.MapHandle(hFile, false, true));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorAccessDenied));
        EXPECT_EQ(map.GetFileHandle(), hFile);  // still owned; UnMap closes it
        map.UnMap();
        EXPECT_TRUE(mftest::handleClosed(hFile));
    }
}

TEST_F(FileMaps, HandlesAreOwnedAndNamedAfterThePathMappedBefore) {
    // Backslashes become '_' in the object's name: on POSIX one in the file's name, on Windows the
    // folder separators.
    const std::string sFirst = dir.file(qr::sys::kPathSeparator == '/' ? "first\\part.dat" : "part.dat");
    const std::string sSecond = dir.file("second.dat");
    qrtest::writeFileBytes(sFirst, patternBytes(3000, 4));
    qrtest::writeFileBytes(sSecond, patternBytes(4000, 5));
    Probe map;
    ASSERT_TRUE(map.MapFile(sFirst.c_str(), false, false, false));
    EXPECT_EQ(map.GetMappingName(), mftest::mappingNameOf(sFirst));
    EXPECT_NE(map.GetMappingName(), sFirst);
    map.UnMap();
    void* hFile = qr::sys::kInvalidHandle;
    ASSERT_TRUE(QR_OpenFile(&hFile, sSecond.c_str(), 3));
    ASSERT_TRUE(map.MapHandle(hFile, false, false));
    EXPECT_EQ(map.GetFileName(), sFirst);
    EXPECT_EQ(map.GetMappingName(), mftest::mappingNameOf(sFirst));
    EXPECT_NE(map.GetMappingName(), sFirst);
    EXPECT_EQ(map.GetMappingSize(), 4000);
    EXPECT_EQ(map.GetFileHandle(), hFile);
    ASSERT_TRUE(map.SetView(0, 0, 4000));
    EXPECT_EQ(std::memcmp(map.UseView(0), patternBytes(4000, 5).data(), 4000), 0);
    map.UnMap();
    EXPECT_TRUE(mftest::handleClosed(hFile));
    // The view outlives UnMap; the file can be opened again meanwhile (Wine keeps the file's share
    // mode with the mapping until its last view is gone: not checked there).
    EXPECT_EQ(static_cast<unsigned char*>(map.UseView(0))[3999], patternBytes(4000, 5)[3999]);
    if (!qrtest::backend().bWine) {
        void* hAgain = qr::sys::kInvalidHandle;
        EXPECT_TRUE(QR_OpenFile(&hAgain, sSecond.c_str(), 3));
        QR_CloseFile(hAgain);
    }
    map.FreeView();

    // The handle constructor maps at once; a new object has no file name, so the name is random.
    ASSERT_TRUE(QR_OpenFile(&hFile, sSecond.c_str(), 3));
    Probe byHandle(hFile);
    EXPECT_NE(byHandle.GetFileMappingHandle(), nullptr);
    EXPECT_EQ(byHandle.GetMappingName().rfind("MappingName", 0), 0u);
    EXPECT_EQ(byHandle.GetMappingSize(), 4000);
    EXPECT_TRUE(notices.notices.empty());
}

class Sharing : public MapFileTest {
protected:
    static std::string peer() { return qrtest::helperProgram("mapfile_peer"); }
    qrtest::ScratchDir dir;
};

TEST_F(Sharing, SecondProcessOpensAFileMappingByPath) {
    const int64_t g = qr::sys::allocationGranularity();
    const std::string sPath = dir.file("shared.dat");
    qrtest::writeFileBytes(sPath, std::vector<unsigned char>(static_cast<std::size_t>(3 * g + 50), '.'));
    Probe map;
    ASSERT_TRUE(map.MapFile(sPath.c_str(), false, false, false));
    ASSERT_TRUE(map.SetView(0, 0, static_cast<int32_t>(3 * g + 50)));
    auto* p = static_cast<char*>(map.UseView(0));
    std::memcpy(p + g + 5, "parent", 6);

    // The other process reads what this one wrote and writes back through its own view.
    const qrtest::ChildResult result =
        qrtest::runChild(peer(), {"open", sPath, std::to_string(g + 5), "6", "child!"});
    ASSERT_TRUE(result.bExited) << result.sStderr;
    EXPECT_EQ(result.nStatus, 0) << result.sStdout << result.sStderr;
    EXPECT_EQ(result.sStdout, "size=" + std::to_string(3 * g + 50) + " data=parent\n");
    EXPECT_EQ(std::string(p + g + 5, 6), "child!");
    // Read-only from the far end, near the end of the file.
    const qrtest::ChildResult tail = qrtest::runChild(peer(), {"open", sPath, std::to_string(3 * g + 44), "6", "-"});
    EXPECT_EQ(tail.sStdout, "size=" + std::to_string(3 * g + 50) + " data=......\n") << tail.sStderr;
    map.FreeView();
    map.UnMap();
    EXPECT_FALSE(mftest::objectExists(sPath));
    EXPECT_EQ(plainRead(sPath, g + 5, 6), std::vector<unsigned char>({'c', 'h', 'i', 'l', 'd', '!'}));
    // Gone with its last user: the name is no longer found.
    const qrtest::ChildResult after = qrtest::runChild(peer(), {"open", sPath, "0", "1", "-"});
    EXPECT_EQ(after.nStatus, 1);
    EXPECT_NE(after.sStdout.find("open failed 1000000"), std::string::npos) << after.sStdout;
}

TEST_F(Sharing, SecondProcessOpensANamedMemoryMapping) {
    const std::string sName = mftest::uniqueName("peer");
    Probe map;
    ASSERT_TRUE(map.MapMemory(70000, false, false, sName.c_str()));
    ASSERT_TRUE(map.SetView(0, 0, 70000));
    auto* p = static_cast<char*>(map.UseView(0));
    std::memcpy(p + 69990, "from-owner", 10);
    const qrtest::ChildResult result = qrtest::runChild(peer(), {"open", sName, "69990", "10", "FROM-PEER!"});
    EXPECT_EQ(result.nStatus, 0) << result.sStdout << result.sStderr;
    EXPECT_EQ(result.sStdout, "size=" + std::to_string(qrtest::openedObjectSize(70000)) + " data=from-owner\n");
    EXPECT_EQ(std::string(p + 69990, 10), "FROM-PEER!");
    map.FreeView();
    map.UnMap();
    EXPECT_FALSE(mftest::objectExists(sName));
}

}  // namespace
