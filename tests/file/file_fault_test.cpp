// File objects under injected failures: opening, seeking, truncating, writing, closing and
// deleting fail at the platform seam; results, error numbers and the files left behind are
// checked.
#include <cerrno>
#include <filesystem>
#include <string>

#include "file_fixture.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"
#include "support/scratch.h"

namespace filetest {
namespace {

using qr::sys::Op;

class FileFaults : public FileTest {
protected:
    // The text error 1000000 shows for a native code.
    static std::string systemText(uint32_t nCode) { return qr::sys::systemErrorText(nCode); }
};

TEST_F(FileFaults, FailedOpenAndCreateLeaveTheObjectAsItWas) {
    const std::string sHeld = scratch.file("held.dat");
    CxFile file;
    ASSERT_TRUE(file.Create(sHeld.c_str()));
    void* hHeld = file.GetFileHandle();

    struct Row {
        const char* szName;
        bool bCreate;
        std::string sPath;
        Op op;
    };
    qrtest::writeFileText(scratch.file("exists.dat"), "keep");
    const Row rows[] = {
        {"open of a missing file", false, scratch.file("missing.dat"), Op::Count},
        {"open refused by the system", false, scratch.file("exists.dat"), Op::Open},
        {"create refused by the system", true, scratch.file("new.dat"), Op::Open},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        if (row.op != Op::Count) qr::sys::injectFault(row.op, 1, EACCES);
        const bool bResult = row.bCreate ? file.Create(row.sPath.c_str()) : file.Open(row.sPath.c_str(), true);
        qr::sys::clearFaults();
        EXPECT_FALSE(bResult);
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(file.GetFileHandle(), hHeld) << "the held handle survives";
        EXPECT_EQ(file.GetFileName(), sHeld);
        EXPECT_EQ(file.m_nFileType, QR_DiskFile);
    }
    EXPECT_TRUE(file.m_bReadOnly) << "Open stores the flag even when it fails";
    EXPECT_EQ(qrtest::readFileBytes(scratch.file("exists.dat")).size(), 4u);
    EXPECT_EQ(diskSize(scratch.file("new.dat")), -1);
    ReportError(0);
    EXPECT_EQ(file.Write("still", 5), 5u);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(qrtest::readFileBytes(sHeld).size(), 5u);
}

TEST_F(FileFaults, NamesThatDoNotFitAreRefusedBeforeAnythingIsTouched) {
    // A path of exactly 255 bytes fits; 256 does not.
    std::string sFits = scratch.file("");
    sFits += std::string(255 - sFits.size(), 'f');
    ASSERT_EQ(sFits.size(), 255u);
    {
        CxFile file;
        ASSERT_TRUE(file.Create(sFits.c_str()));
        EXPECT_EQ(file.GetFileName(), sFits);
        EXPECT_TRUE(file.Close());
        CxFile reopen;
        ASSERT_TRUE(reopen.Open(sFits.c_str(), false));
        EXPECT_EQ(reopen.GetFileName(), sFits);
    }
    notices.clear();
    // An existing file behind a long path keeps its contents: no question, no emptying.
    const std::string sDir = scratch.file(std::string(200, 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(sDir));
    const std::string sLong = sDir + "/" + std::string(100, 'l');
    qrtest::writeFileText(sLong, "precious");
    ASSERT_TRUE(qrtest::fileExists(sLong)) << "the test needs a file behind a long path";
    for (bool bCreate : {true, false}) {
        SCOPED_TRACE(bCreate ? "Create" : "Open");
        ReportError(0);
        notices.clear();
        CxFile file;
        EXPECT_FALSE(bCreate ? file.Create(sLong.c_str()) : file.Open(sLong.c_str(), false));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(questionCount(), 0u);
        ASSERT_EQ(notices.notices.size(), 1u);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNameTooLong));
        EXPECT_EQ(file.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(file.GetFileName(), "");
    }
    EXPECT_EQ(qrtest::readFileBytes(sLong).size(), 8u);

    CxFile nullName;
    ReportError(0);
    EXPECT_FALSE(nullName.Open(nullptr, false));
    EXPECT_FALSE(nullName.Create(nullptr));
    EXPECT_EQ(GetDllErrorNo(), 1000000);
}

TEST_F(FileFaults, GeneratedNamesThatDoNotFitAreRefusedAndRemoved) {
    const std::string sDeep = scratch.file(std::string(250, 'd'));
    ASSERT_TRUE(std::filesystem::create_directory(sDeep));
    setTempFolder(sDeep);
    CxFile file;
    EXPECT_FALSE(file.CreateTempFile("lng", 10));
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    // Refused by the library's own limit of 255 bytes, or (Windows) before: the system has no
    // temporary folder or name that long.
    if (qrtest::backend().bLongPaths) {
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNameTooLong));
    }
    EXPECT_EQ(file.GetFileName(), "");
    EXPECT_EQ(file.m_nFileType, QR_DiskFile);
    {
        // CTempFile keeps its name in a string without a limit, where the system makes such names.
        ReportError(0);
        CTempFile temp("lng");
        if (qrtest::backend().bLongPaths) {
            EXPECT_GT(temp.GetFileName().size(), 255u);
            EXPECT_EQ(diskSize(temp.GetFileName()), 1024000);
            EXPECT_EQ(GetDllErrorNo(), 0);
        } else {
            EXPECT_EQ(temp.GetFileName(), "");
            EXPECT_EQ(temp.GetFileHandle(), nullptr);
            EXPECT_EQ(GetDllErrorNo(), 1000000);
        }
    }
    // Asked through the system's own file search (a folder this long defeats the C++ library's
    // listing under Wine).
    EXPECT_FALSE(qr::sys::findFile((sDeep + "/*.tmp").c_str())) << "no placeholder is left behind";
}

TEST_F(FileFaults, CreateOverAnExistingFileAsksFirst) {
    const std::string sPath = scratch.file("asked.dat");
    qrtest::writeFileText(sPath, "old contents");
    notices.bAnswer = false;
    CxFile file;
    EXPECT_FALSE(file.Create(sPath.c_str()));
    EXPECT_EQ(GetDllErrorNo(), 1000001);
    EXPECT_EQ(questionCount(), 1u);
    EXPECT_EQ(diskSize(sPath), 12);
    EXPECT_EQ(file.GetFileHandle(), qr::sys::kInvalidHandle);
    notices.bAnswer = true;
    ASSERT_TRUE(file.Create(sPath.c_str()));
    EXPECT_EQ(diskSize(sPath), 0);
    EXPECT_FALSE(file.m_bReadOnly);
}

TEST_F(FileFaults, CxFileTemporaryCreationFailures) {
    {
        SCOPED_TRACE("no name can be generated");
        qr::sys::injectFault(Op::TempName, 1, ENOSPC);
        CxFile file;
        EXPECT_EQ(file.MakeTempFileName("abc"), "");
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(ENOSPC));
        qr::sys::injectFault(Op::TempName, 1, ENOSPC);
        ReportError(0);
        EXPECT_FALSE(file.CreateTempFile("abc", 10));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(file.m_nFileType, QR_DiskFile);
        EXPECT_TRUE(tempEntries().empty());
    }
    {
        SCOPED_TRACE("the placeholder cannot be opened");
        ReportError(0);
        qr::sys::injectFault(Op::Open, 1, EACCES);
        CxFile file;
        EXPECT_FALSE(file.CreateTempFile("abc", 10));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(EACCES));
        EXPECT_EQ(file.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_TRUE(tempEntries().empty()) << "the placeholder is removed again";
    }
    {
        SCOPED_TRACE("the size cannot be set");
        ReportError(0);
        qr::sys::injectFault(Op::Truncate, 1, EFBIG);
        CxFile file;
        EXPECT_FALSE(file.CreateTempFile("abc", 10));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(EFBIG));
        EXPECT_EQ(file.m_nFileType, QR_DiskFile) << "left as an open plain disk file";
        const std::string sPath = file.GetFileName();
        EXPECT_EQ(diskSize(sPath), 0);
        EXPECT_TRUE(file.Close());
        EXPECT_EQ(diskSize(sPath), 0) << "closed, not deleted";
    }
    qr::sys::clearFaults();
}

TEST_F(FileFaults, CxFileCloseFailures) {
    {
        SCOPED_TRACE("delete fails");
        CxFile file;
        ASSERT_TRUE(file.CreateTempFile("del", 10));
        const std::string sPath = file.GetFileName();
        qr::sys::injectFault(Op::Delete, 1, EACCES);
        EXPECT_FALSE(file.Close());
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(EACCES));
        EXPECT_EQ(diskSize(sPath), 10) << "the file stays";
        ReportError(0);
        EXPECT_TRUE(file.Close()) << "nothing is released twice";
        EXPECT_EQ(GetDllErrorNo(), 0);
        EXPECT_EQ(diskSize(sPath), 10);
    }
    {
        SCOPED_TRACE("close fails");
        CxFile file;
        ASSERT_TRUE(file.CreateTempFile("cls", 10));
        const std::string sPath = file.GetFileName();
        void* hFile = file.GetFileHandle();
        qr::sys::injectFault(Op::Close, 1, EIO);
        EXPECT_FALSE(file.Close());
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(diskSize(sPath), 10) << "a file that could not be closed is not deleted";
        ReportError(0);
        EXPECT_TRUE(file.Close());
        EXPECT_EQ(GetDllErrorNo(), 0);
        qr::sys::clearFaults();
        QR_CloseFile(hFile);  // the injected failure left it open underneath
    }
}

TEST_F(FileFaults, CxFileQueriesWhenTheSystemFails) {
    CxFile file;
    ASSERT_TRUE(file.Create(scratch.file("q.dat").c_str()));
    ASSERT_EQ(file.Write("12345", 5), 5u);
    ASSERT_EQ(file.GetFileSize(), 5);

    qr::sys::injectFault(Op::Size, 1, EIO);
    EXPECT_EQ(file.GetFileSize(), -1);
    EXPECT_EQ(file.m_nFileSize, 5) << "the recorded size stays";
    EXPECT_EQ(GetDllErrorNo(), 0) << "no error number for the size";

    qr::sys::injectFault(Op::Seek, 1, EIO);
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_EQ(notices.lastText(), systemText(EIO));
    ReportError(0);
    EXPECT_EQ(file.GetPos(), 5);

    qr::sys::injectFault(Op::Flush, 1, EIO);
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_NE(file.Flush(), 0);

    qr::sys::injectFault(Op::Write, 1, ENOSPC);
    EXPECT_EQ(file.Write("x", 1), 0u);
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    ReportError(0);
    qr::sys::injectFault(Op::Write, 1, ENOSPC);
    EXPECT_FALSE(file.PutC('x'));
    qr::sys::injectFault(Op::Read, 1, EIO);
    ASSERT_TRUE(file.SeekToBegin());
    EXPECT_EQ(file.GetC(), 0);
    EXPECT_EQ(GetDllErrorNo(), 1000000);

    // A never-opened disk object: its queries fail quietly where no number is stored.
    ReportError(0);
    CxFile none;
    EXPECT_EQ(none.GetFileSize(), -1);
    EXPECT_EQ(none.Flush(), 0);
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(none.Eof());
}

TEST_F(FileFaults, InitTempFileStopsAtAFailedWrite) {
    CxFile file;
    ASSERT_TRUE(file.CreateTempFile("izf", 2500000));
    ASSERT_TRUE(file.SeekToBegin());
    qr::sys::injectFault(Op::Write, 2, ENOSPC);
    EXPECT_FALSE(file.InitTempFile());
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_EQ(file.GetPos(), 1024000) << "the first piece was written";
    qr::sys::clearFaults();

    CTempFile temp;
    ASSERT_TRUE(temp.SeekToBegin());
    qr::sys::injectFault(Op::Write, 1, ENOSPC);
    ReportError(0);
    EXPECT_FALSE(temp.Initialize());
    EXPECT_EQ(GetDllErrorNo(), 1000000);
}

TEST_F(FileFaults, FailedCTempFileCreationIsCleanedUpAndItsErrorSurvives) {
    struct Row {
        const char* szName;
        Op op;
        uint32_t nCode;
    };
    const Row rows[] = {
        {"open fails", Op::Open, EACCES},
        {"seek fails", Op::Seek, EINVAL},
        {"setting the size fails", Op::Truncate, EFBIG},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        notices.clear();
        {
            qr::sys::injectFault(row.op, 1, row.nCode);
            CTempFile temp("bad");
            qr::sys::clearFaults();
            EXPECT_EQ(temp.GetFileHandle(), nullptr);
            EXPECT_EQ(temp.GetFileSize(), 0);
            EXPECT_EQ(GetDllErrorNo(), 1000000);
            EXPECT_EQ(notices.lastText(), systemText(row.nCode));
            EXPECT_TRUE(tempEntries().empty()) << "nothing is left in the folder";
        }
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.notices.size(), 1u) << "destroying it reports nothing more";
    }
    {
        SCOPED_TRACE("the prefixed name cannot be generated: the fallback name is used");
        ReportError(0);
        qr::sys::injectFault(Op::TempName, 1, ENOSPC);
        CTempFile temp("abc");
        EXPECT_EQ(GetDllErrorNo(), 1000000) << "the failed generation is reported";
        EXPECT_NE(temp.GetFileHandle(), nullptr);
        EXPECT_EQ(baseName(temp.GetFileName()).substr(0, 3), "Tmp");
        EXPECT_EQ(temp.GetFileSize(), 1024000);
    }
    {
        SCOPED_TRACE("no name at all");
        ReportError(0);
        qr::sys::injectFault(Op::TempName, 1, ENOSPC, 0);
        CTempFile temp;
        qr::sys::clearFaults();
        EXPECT_EQ(temp.GetFileHandle(), nullptr);
        EXPECT_EQ(temp.GetFileName(), "");
        EXPECT_EQ(GetDllErrorNo(), 1000000);
    }
    EXPECT_TRUE(tempEntries().empty());
}

TEST_F(FileFaults, CTempFileCloseFailuresStoreNothingOfTheirOwn) {
    CTempFile temp;
    const std::string sPath = temp.GetFileName();
    qr::sys::injectFault(Op::Delete, 1, EACCES);
    temp.Close();
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_EQ(diskSize(sPath), 1024000) << "a file that cannot be deleted stays";
}

}  // namespace
}  // namespace filetest
