// File objects: temporary files of CxFile and CTempFile: names in the folder for temporary
// files, reserved sizes, zero-filling in pieces, the file gone after Close or destruction, and
// forked children that let go of their copies.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"
#include "support/backend.h"
#include "support/child.h"
#include "support/scratch.h"

namespace filetest {
namespace {

using TempFiles = FileTest;

bool startsWith(const std::string& s, const std::string& sPrefix) { return s.compare(0, sPrefix.size(), sPrefix) == 0; }

TEST_F(TempFiles, MakeTempFileNameCreatesAnEmptyFileWithThePrefix) {
    struct Row {
        const char* szPrefix;
        const char* szCxFileStart;
        const char* szTempFileStart;
    };
    const Row rows[] = {{nullptr, "tmp", "Tmp"}, {"abcxyz", "abc", "abc"}, {"ab", "ab", "ab"}, {"", "", ""}};
    CTempFile maker;  // MakeTempFileName uses no field of the object
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szPrefix ? row.szPrefix : "(null)");
        CxFile file;
        const std::string sPath = file.MakeTempFileName(row.szPrefix);
        ASSERT_FALSE(sPath.empty());
        EXPECT_TRUE(startsWith(sPath, tempFolder())) << sPath;
        EXPECT_TRUE(startsWith(baseName(sPath), row.szCxFileStart)) << sPath;
        EXPECT_EQ(diskSize(sPath), 0);
        const std::string sOther = maker.MakeTempFileName(row.szPrefix);
        ASSERT_FALSE(sOther.empty());
        EXPECT_TRUE(startsWith(baseName(sOther), row.szTempFileStart)) << sOther;
        EXPECT_NE(sOther, sPath);
        EXPECT_EQ(diskSize(sOther), 0);
        // With the prefix the generated part follows; the longer prefixes are cut to three.
        if (row.szPrefix && std::strlen(row.szPrefix) > 3) {
            EXPECT_NE(baseName(sPath).substr(0, 4), "abcx");
        }
    }
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(TempFiles, CxFileCreateTempFileReservesAndCloseDeletes) {
    CxFile file;
    ASSERT_TRUE(file.CreateTempFile("ab", 5000));
    const std::string sPath = file.GetFileName();
    EXPECT_TRUE(startsWith(sPath, tempFolder()));
    EXPECT_TRUE(startsWith(baseName(sPath), "ab"));
    EXPECT_EQ(file.m_nFileType, QR_TempFile);
    EXPECT_FALSE(file.m_bReadOnly);
    EXPECT_EQ(file.m_nFileSize, 5000);
    EXPECT_EQ(diskSize(sPath), 5000);
    EXPECT_EQ(file.GetPos(), 5000) << "the file pointer stands at the end";
    EXPECT_EQ(file.GetFileSize(), 5000);
    EXPECT_EQ(questionCount(), 0u) << "no question about the library's own placeholder";
    EXPECT_EQ(tempEntries().size(), 1u) << "one file: the placeholder became the temporary file";
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(diskSize(sPath), -1);
    EXPECT_TRUE(tempEntries().empty());
    EXPECT_EQ(GetDllErrorNo(), 0);

    CxFile empty;
    ASSERT_TRUE(empty.CreateTempFile(nullptr, 0));
    EXPECT_TRUE(startsWith(baseName(empty.GetFileName()), "tmp"));
    EXPECT_EQ(diskSize(empty.GetFileName()), 0);
    const std::string sEmpty = empty.GetFileName();
    {
        CxFile moved = empty;  // the destructors delete it, once
        empty.Initialize(QR_DiskFile);
    }
    EXPECT_EQ(diskSize(sEmpty), -1);
}

TEST_F(TempFiles, CxFileNegativeSizeLeavesAnOpenPlainDiskFile) {
    CxFile file;
    EXPECT_FALSE(file.CreateTempFile("neg", -1));
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_EQ(file.m_nFileType, QR_DiskFile);
    const std::string sPath = file.GetFileName();
    ASSERT_TRUE(startsWith(baseName(sPath), "neg"));
    EXPECT_EQ(diskSize(sPath), 0);
    ReportError(0);
    EXPECT_EQ(file.Write("ok", 2), 2u) << "the file is open";
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(diskSize(sPath), 2) << "a plain disk file is closed, not deleted";
}

TEST_F(TempFiles, InitTempFileZeroesInPieces) {
    struct Row {
        int64_t llSize;
        int64_t llWrites;
    };
    for (const Row row : {Row{0, 0}, Row{1000, 1}, Row{1024000, 1}, Row{2500000, 3}}) {
        SCOPED_TRACE("size " + std::to_string(row.llSize));
        CxFile file;
        ASSERT_TRUE(file.CreateTempFile("zer", row.llSize));
        const auto junk = patternBytes(static_cast<std::size_t>(row.llSize), 4);
        ASSERT_TRUE(file.SeekToBegin());
        if (row.llSize > 0) {
            ASSERT_EQ(file.Write(junk.data(), static_cast<uint32_t>(row.llSize)), row.llSize);
        }
        ASSERT_TRUE(file.SeekToBegin());
        const int64_t llBefore = qr::sys::faultCalls(qr::sys::Op::Write);
        EXPECT_TRUE(file.InitTempFile());
        EXPECT_EQ(qr::sys::faultCalls(qr::sys::Op::Write) - llBefore, row.llWrites);
        EXPECT_EQ(file.GetPos(), row.llSize);
        EXPECT_EQ(file.GetFileSize(), row.llSize);
        EXPECT_EQ(readThrough(file.GetFileHandle()), std::vector<unsigned char>(static_cast<std::size_t>(row.llSize), 0));
    }
    // Without SeekToBegin the zeros are appended where the pointer stands.
    CxFile file;
    ASSERT_TRUE(file.CreateTempFile("zer", 1000));
    EXPECT_TRUE(file.InitTempFile());
    EXPECT_EQ(diskSize(file.GetFileName()), 2000);
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(TempFiles, CTempFileDefaultsAndSizes) {
    std::string sPath;
    {
        CTempFile temp;
        sPath = temp.GetFileName();
        EXPECT_TRUE(startsWith(sPath, tempFolder())) << sPath;
        EXPECT_TRUE(startsWith(baseName(sPath), "Tmp")) << sPath;
        EXPECT_EQ(temp.GetFileSize(), 1024000);
        EXPECT_EQ(diskSize(sPath), 1024000);
        EXPECT_TRUE(qr::sys::isValidHandle(temp.GetFileHandle()));
        EXPECT_EQ(tempEntries().size(), 1u);
    }
    EXPECT_EQ(diskSize(sPath), -1) << "destruction deletes the file";

    struct Row {
        const char* szName;
        const char* szPrefix;
        bool bWithPrefix;
        bool bWithSize;
        int64_t llSize;
        const char* szStart;
        int64_t llExpected;
    };
    const Row rows[] = {
        {"prefix cut to three", "abcdef", true, false, 0, "abc", 1024000},
        {"null prefix", nullptr, true, false, 0, "Tmp", 1024000},
        {"prefix and size", "ab", true, true, 5000000, "ab", 5000000},
        {"prefix and small size", "ab", true, true, 10, "ab", 1024000},
        {"size zero", nullptr, false, true, 0, "Tmp", 1024000},
        {"negative size", nullptr, false, true, -5, "Tmp", 1024000},
        {"size above the minimum", nullptr, false, true, 1024001, "Tmp", 1024001},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        std::string sName;
        {
            CTempFile temp = row.bWithPrefix ? (row.bWithSize ? CTempFile(row.szPrefix, row.llSize) : CTempFile(row.szPrefix))
                                             : CTempFile(row.llSize);
            sName = temp.GetFileName();
            EXPECT_TRUE(startsWith(baseName(sName), row.szStart)) << sName;
            EXPECT_EQ(temp.GetFileSize(), row.llExpected);
            EXPECT_EQ(diskSize(sName), row.llExpected);
            EXPECT_EQ(tempEntries().size(), 1u) << "no leftover placeholder";
        }
        EXPECT_EQ(diskSize(sName), -1);
    }
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_EQ(questionCount(), 0u);
}

TEST_F(TempFiles, CTempFileTransfersGoToTheFilePointer) {
    CTempFile temp("trn");
    const std::string sPath = temp.GetFileName();
    // Right after construction the pointer stands after the reserved space.
    ASSERT_EQ(temp.Write("0123456789", 10), 10u);
    EXPECT_EQ(diskSize(sPath), 1024010);
    EXPECT_EQ(temp.GetFileSize(), 1024000) << "the size stays the reservation";

    ASSERT_TRUE(temp.SeekToBegin());
    ASSERT_EQ(temp.Write("abcdefghij", 10), 10u);
    ASSERT_TRUE(temp.SeekToBegin());
    char back[11] = {};
    ASSERT_EQ(temp.Read(back, 10), 10u);
    EXPECT_STREQ(back, "abcdefghij");
    ASSERT_TRUE(temp.Seek(-10, 2));
    ASSERT_EQ(temp.Read(back, 10), 10u);
    EXPECT_STREQ(back, "0123456789");
    ASSERT_TRUE(temp.Seek(-20, 1));
    ASSERT_EQ(temp.Read(back, 5), 5u);
    EXPECT_EQ(std::string(back, 5), std::string(10, '\0').substr(0, 5)) << "reserved space reads as zeros";
    EXPECT_FALSE(temp.Seek(-1, 0));
    EXPECT_EQ(GetDllErrorNo(), 1000000) << "the raw seek's error";
}

TEST_F(TempFiles, CTempFileInitializeZeroesInPieces) {
    {
        CTempFile temp;
        ASSERT_TRUE(temp.SeekToBegin());
        const int64_t llBefore = qr::sys::faultCalls(qr::sys::Op::Write);
        EXPECT_TRUE(temp.Initialize());
        EXPECT_EQ(qr::sys::faultCalls(qr::sys::Op::Write) - llBefore, 1);
        EXPECT_EQ(diskSize(temp.GetFileName()), 1024000);
    }
    {
        CTempFile temp(int64_t{2500000});
        const auto junk = patternBytes(2500000, 5);
        ASSERT_TRUE(temp.SeekToBegin());
        ASSERT_EQ(temp.Write(junk.data(), 2500000), 2500000u);
        ASSERT_TRUE(temp.SeekToBegin());
        const int64_t llBefore = qr::sys::faultCalls(qr::sys::Op::Write);
        EXPECT_TRUE(temp.Initialize());
        EXPECT_EQ(qr::sys::faultCalls(qr::sys::Op::Write) - llBefore, 3);
        EXPECT_EQ(readThrough(temp.GetFileHandle()), std::vector<unsigned char>(2500000, 0));
    }
    {
        // Without SeekToBegin the zeros are appended and the file doubles.
        CTempFile temp;
        EXPECT_TRUE(temp.Initialize());
        EXPECT_EQ(diskSize(temp.GetFileName()), 2048000);
    }
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(TempFiles, CloseDeletesOnceAndTheDestructorAddsNothing) {
    std::string sPath;
    {
        CTempFile temp;
        sPath = temp.GetFileName();
        temp.Close();
        EXPECT_EQ(diskSize(sPath), -1);
        EXPECT_EQ(temp.GetFileHandle(), qr::sys::kInvalidHandle);
        // Someone else takes the name now; later Closes must not touch it.
        qrtest::writeFileText(sPath, "not yours");
        temp.Close();
        EXPECT_EQ(diskSize(sPath), 9);
    }
    EXPECT_EQ(diskSize(sPath), 9) << "the destructor after Close deletes nothing";
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

// The temporary files a forked child inherits. Static, so that a child that ends through exit()
// destroys its copies there, as a program's own static objects would be.
std::unique_ptr<CTempFile> g_pTempFile;
std::unique_ptr<CxFile> g_pCxFile;

TEST_F(TempFiles, ForkedChildNeverDeletesTheParentsTemporaryFile) {
    if (!qrtest::backend().bFork) GTEST_SKIP() << "no fork on " << qrtest::backend().szName;
    enum class End { Close, Destroy, Exit };
    struct Row {
        const char* szWhat;
        bool bCxFile;
        End end;
    };
    const Row rows[] = {
        {"CTempFile, the child closes its copy", false, End::Close},
        {"CTempFile, the child destroys its copy", false, End::Destroy},
        {"CTempFile, the child exits", false, End::Exit},
        {"CxFile, the child closes its copy", true, End::Close},
        {"CxFile, the child destroys its copy", true, End::Destroy},
        {"CxFile, the child exits", true, End::Exit},
    };
    constexpr uint32_t kSize = 1024000;
    uint32_t nSeed = 10;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        const auto bytes = patternBytes(kSize, nSeed++);
        std::string sPath;
        if (row.bCxFile) {
            g_pCxFile = std::make_unique<CxFile>();
            ASSERT_TRUE(g_pCxFile->CreateTempFile("frk", kSize));
            sPath = g_pCxFile->GetFileName();
            ASSERT_TRUE(g_pCxFile->SeekToBegin());
            ASSERT_EQ(g_pCxFile->Write(bytes.data(), kSize), kSize);
        } else {
            g_pTempFile = std::make_unique<CTempFile>("frk");
            sPath = g_pTempFile->GetFileName();
            ASSERT_TRUE(g_pTempFile->SeekToBegin());
            ASSERT_EQ(g_pTempFile->Write(bytes.data(), kSize), kSize);
        }

        const int nStatus = qrtest::runForked([&] {
            switch (row.end) {
            case End::Close:
                if (row.bCxFile) return g_pCxFile->Close() ? 0 : 1;
                g_pTempFile->Close();
                return 0;
            case End::Destroy:
                g_pCxFile.reset();
                g_pTempFile.reset();
                return 0;
            case End::Exit:
                std::exit(0);
            }
            return 2;
        });
        EXPECT_EQ(nStatus, 0);
        EXPECT_EQ(qrtest::readFileBytes(sPath), bytes) << "the parent's file is gone or changed";
        // The parent still holds it alone, and its handle still works.
        void* hOther = qr::sys::kInvalidHandle;
        EXPECT_FALSE(QR_OpenFile(&hOther, sPath.c_str(), 0x303)) << "the parent's sharing was dropped";
        ReportError(0);
        char back[5] = {};
        if (row.bCxFile) {
            ASSERT_TRUE(g_pCxFile->SeekToBegin());
            EXPECT_EQ(g_pCxFile->Write("after", 5), 5u);
            ASSERT_TRUE(g_pCxFile->Seek(-5, 1));
            EXPECT_EQ(g_pCxFile->Read(back, 5), 5u);
            EXPECT_TRUE(g_pCxFile->Close());
        } else {
            ASSERT_TRUE(g_pTempFile->SeekToBegin());
            EXPECT_EQ(g_pTempFile->Write("after", 5), 5u);
            ASSERT_TRUE(g_pTempFile->Seek(-5, 1));
            EXPECT_EQ(g_pTempFile->Read(back, 5), 5u);
            g_pTempFile.reset();
        }
        EXPECT_EQ(std::string(back, 5), "after");
        EXPECT_EQ(diskSize(sPath), -1) << "the parent's own Close deletes it";
        g_pCxFile.reset();
        EXPECT_EQ(GetDllErrorNo(), 0);
    }
    EXPECT_TRUE(tempEntries().empty());
}

}  // namespace
}  // namespace filetest
