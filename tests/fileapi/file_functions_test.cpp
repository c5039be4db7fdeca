// The raw file-handle functions: create, open, close, seek, read, write, the overwrite question
// and the existence test, through the exported API.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "api_fixture.h"
#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "support/backend.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using qrtest::readFileBytes;
using qrtest::writeFileText;

constexpr uint32_t kReadWrite = 0;
constexpr uint32_t kReadOnly = 1;

std::string lastMessage() {
    std::string sText;
    qr::errorState().GetDllErrorInfo(sText);
    return sText;
}

class FileFunctions : public fileapitest::ApiTest {};

TEST_F(FileFunctions, CreateWriteSeekReadRoundTrip) {
    const std::string sPath = dir.file("a.dat");
    void* hFile = nullptr;
    ASSERT_TRUE(QR_NewFile(&hFile, sPath.c_str(), kReadWrite));
    ASSERT_TRUE(qr::sys::isValidHandle(hFile));
    EXPECT_TRUE(notices.notices.empty()) << "a new name must not ask";
    const char szData[] = "0123456789";
    EXPECT_EQ(QR_Write(hFile, szData, 10), 10u);
    ASSERT_TRUE(QR_Seek(hFile, 3, 0));
    char szBuffer[16] = {};
    EXPECT_EQ(QR_Read(hFile, szBuffer, 4), 4u);
    EXPECT_EQ(std::string(szBuffer, 4), "3456");
    ASSERT_TRUE(QR_Seek(hFile, -2, 1));
    EXPECT_EQ(QR_Read(hFile, szBuffer, 2), 2u);
    EXPECT_EQ(std::string(szBuffer, 2), "56");
    ASSERT_TRUE(QR_Seek(hFile, -1, 2));
    EXPECT_EQ(QR_Read(hFile, szBuffer, 5), 1u);
    EXPECT_EQ(szBuffer[0], '9');
    // At the end: 0 bytes and no error.
    EXPECT_EQ(QR_Read(hFile, szBuffer, 5), 0u);
    ASSERT_TRUE(QR_SeekToBegin(hFile));
    EXPECT_EQ(QR_Read(hFile, szBuffer, 3), 3u);
    EXPECT_EQ(std::string(szBuffer, 3), "012");
    ASSERT_TRUE(QR_Seek(hFile, 0, 2));
    EXPECT_EQ(QR_Read(hFile, szBuffer, 1), 0u);
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_TRUE(QR_CloseFile(hFile));
    const std::vector<unsigned char> bytes = readFileBytes(sPath);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
}

TEST_F(FileFunctions, SeekBeforeStartFailsAndKeepsThePointer) {
    void* hFile = nullptr;
    ASSERT_TRUE(QR_NewFile(&hFile, dir.file("s.dat").c_str(), kReadWrite));
    ASSERT_EQ(QR_Write(hFile, "abcdef", 6), 6u);
    ASSERT_TRUE(QR_Seek(hFile, 4, 0));
    const uint32_t nNegative = qrtest::backend().nNegativeSeekError;
    const struct {
        const char* szName;
        int64_t llOffset;
        uint32_t nOrigin;
        uint32_t nError;  // the system's code; 0: whichever the system chooses
    } rows[] = {{"negative from begin", -1, 0, nNegative}, {"before 0 from current", -5, 1, nNegative},
                {"before 0 from end", -7, 2, nNegative}, {"unknown origin", 0, 3, qr::sys::kErrorInvalidArgument},
                {"past the largest offset", INT64_MAX, 1, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        notices.clear();
        EXPECT_FALSE(QR_Seek(hFile, row.llOffset, row.nOrigin));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        if (row.nError != 0) {
            EXPECT_EQ(qr::sys::lastError(), row.nError);
        }
        ASSERT_EQ(notices.notices.size(), 1u);
        EXPECT_EQ(notices.notices[0].sCaption, qrtest::systemText("Quarrion错误信息"));
        char c = 0;
        ASSERT_EQ(QR_Read(hFile, &c, 1), 1u);
        EXPECT_EQ(c, 'e') << "the pointer moved";
        ASSERT_TRUE(QR_Seek(hFile, 4, 0));
    }
    EXPECT_TRUE(QR_CloseFile(hFile));
}

TEST_F(FileFunctions, PositionsBeyondFourGiBOnASparseFile) {
    const std::string sPath = dir.file("big.dat");
    void* hFile = nullptr;
    ASSERT_TRUE(QR_NewFile(&hFile, sPath.c_str(), kReadWrite));
    ASSERT_TRUE(qr::sys::markFileSparse(hFile)) << qr::sys::systemErrorText(qr::sys::lastError());
    const int64_t llFar = 5000000000LL;
    ASSERT_TRUE(QR_Seek(hFile, llFar, 0));
    ASSERT_EQ(QR_Write(hFile, "far", 3), 3u);
    ASSERT_TRUE(QR_SeekToBegin(hFile));
    ASSERT_TRUE(QR_Seek(hFile, llFar + 1, 0));
    char szBuffer[4] = {};
    ASSERT_EQ(QR_Read(hFile, szBuffer, 4), 2u);
    EXPECT_EQ(std::string(szBuffer, 2), "ar");
    // Relative moves across the 4 GiB line in both directions.
    ASSERT_TRUE(QR_Seek(hFile, -3, 2));
    ASSERT_EQ(QR_Read(hFile, szBuffer, 1), 1u);
    EXPECT_EQ(szBuffer[0], 'f');
    ASSERT_TRUE(QR_Seek(hFile, -llFar, 1));
    ASSERT_EQ(QR_Read(hFile, szBuffer, 1), 1u);
    EXPECT_EQ(szBuffer[0], '\0');
    EXPECT_TRUE(QR_CloseFile(hFile));
    EXPECT_EQ(std::filesystem::file_size(sPath), static_cast<std::uintmax_t>(llFar + 3));
    EXPECT_LT(qrtest::allocatedBytes(sPath), 1024 * 512) << "the test file should be sparse";
}

TEST_F(FileFunctions, OverwriteQuestion) {
    const std::string sPath = dir.file("keep.dat");
    writeFileText(sPath, "precious");
    void* const hUntouched = reinterpret_cast<void*>(0x1234);

    // Cancel: false, 1000001, file and handle variable untouched, no error box.
    void* hFile = hUntouched;
    notices.bAnswer = false;
    EXPECT_FALSE(QR_NewFile(&hFile, sPath.c_str(), kReadWrite));
    EXPECT_EQ(hFile, hUntouched);
    EXPECT_EQ(GetDllErrorNo(), qr::kErrRecorded);
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].kind, QR_NoticeQuestion);
    EXPECT_EQ(notices.notices[0].sCaption, qrtest::systemText("Quarrion提示信息"));
    EXPECT_EQ(notices.notices[0].sText, sPath + qrtest::systemText("已存在，覆盖此文件？"));
    EXPECT_EQ(readFileBytes(sPath).size(), 8u);

    // OK with an invalid mode: asked first, then 1000003; the file is unchanged.
    notices.clear();
    notices.bAnswer = true;
    EXPECT_FALSE(QR_NewFile(&hFile, sPath.c_str(), 4));
    EXPECT_EQ(hFile, hUntouched);
    EXPECT_EQ(GetDllErrorNo(), qr::kErrBadMode);
    ASSERT_EQ(notices.notices.size(), 2u);
    EXPECT_EQ(notices.notices[0].kind, QR_NoticeQuestion);
    EXPECT_EQ(notices.notices[1].kind, QR_NoticeError);
    EXPECT_EQ(readFileBytes(sPath).size(), 8u);

    // OK: emptied and opened.
    notices.clear();
    ReportError(0);
    ASSERT_TRUE(QR_NewFile(&hFile, sPath.c_str(), kReadWrite));
    EXPECT_NE(hFile, hUntouched);
    EXPECT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(readFileBytes(sPath).size(), 0u);
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(QR_CloseFile(hFile));

    // The question names the file exactly as given, directly followed by the suffix.
    notices.clear();
    EXPECT_TRUE(RequestRewriteFile("a.dat"));
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].sText, "a.dat" + qrtest::systemText("已存在，覆盖此文件？"));
}

TEST_F(FileFunctions, NameTooLongForTheQuestionIsRefusedBeforeAsking) {
    const std::size_t nSuffix = qrtest::systemText("已存在，覆盖此文件？").size();
    const std::size_t nLongest = 1024 - 1 - nSuffix;
    // The longest name that fits is asked about; one byte more is refused with the system's
    // "file name too long" text, without a question and without creating anything.
    std::string sFits(nLongest, 'n');
    notices.bAnswer = false;
    EXPECT_FALSE(RequestRewriteFile(sFits.c_str()));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrRecorded);
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].sText.size(), 1023u);

    notices.clear();
    const std::string sTooLong = dir.path() + "/" + std::string(nLongest + 1 - dir.path().size() - 1, 'x');
    ASSERT_EQ(sTooLong.size(), nLongest + 1);
    EXPECT_FALSE(RequestRewriteFile(sTooLong.c_str()));
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].kind, QR_NoticeError);
    EXPECT_EQ(notices.notices[0].sText, qr::sys::systemErrorText(qr::sys::kErrorNameTooLong));

    notices.clear();
    void* hFile = nullptr;
    EXPECT_FALSE(QR_NewFile(&hFile, sTooLong.c_str(), kReadWrite));
    EXPECT_EQ(hFile, nullptr);
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].sText, qr::sys::systemErrorText(qr::sys::kErrorNameTooLong));
    EXPECT_FALSE(qrtest::fileExists(sTooLong));
}

TEST_F(FileFunctions, WildcardNamesAreRefusedBeforeAsking) {
    writeFileText(dir.file("x.tmp"), "keep");
    const char* const names[] = {"*.tmp", "?.tmp", "x.tm?", "*", "x.tmp*"};
    for (const char* szName : names) {
        for (const bool bCreate : {true, false}) {
            SCOPED_TRACE(std::string(bCreate ? "QR_NewFile " : "QR_OpenFile ") + szName);
            ReportError(0);
            notices.clear();
            const std::string sPath = dir.file(szName);
            void* hFile = nullptr;
            EXPECT_FALSE(bCreate ? QR_NewFile(&hFile, sPath.c_str(), kReadWrite)
                                 : QR_OpenFile(&hFile, sPath.c_str(), kReadWrite));
            EXPECT_EQ(hFile, nullptr) << "refused before any open";
            EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
            ASSERT_EQ(notices.notices.size(), 1u) << "no question, only the error";
            EXPECT_EQ(notices.notices[0].kind, QR_NoticeError);
            EXPECT_EQ(notices.notices[0].sText, qr::sys::systemErrorText(qr::sys::kErrorInvalidArgument));
            EXPECT_FALSE(qrtest::fileExists(sPath));
        }
    }
    EXPECT_EQ(readFileBytes(dir.file("x.tmp")).size(), 4u);
    // Only the last component counts: a folder whose name holds a wildcard is just a folder
    // (where the file system allows such a name at all; Windows does not).
    std::error_code error;
    if (!std::filesystem::create_directory(dir.file("w*"), error)) return;
    void* hFile = nullptr;
    ASSERT_TRUE(QR_NewFile(&hFile, dir.file("w*/f.dat").c_str(), kReadWrite));
    EXPECT_TRUE(QR_CloseFile(hFile));
    ASSERT_TRUE(QR_OpenFile(&hFile, dir.file("w*/f.dat").c_str(), kReadOnly));
    EXPECT_TRUE(QR_CloseFile(hFile));
}

TEST_F(FileFunctions, OpenModes) {
    const std::string sPath = dir.file("m.dat");
    writeFileText(sPath, "xyz");
    const struct {
        uint32_t nMode;
        bool bValid;
        bool bRead;
        bool bWrite;
    } rows[] = {
        {0x0000, true, true, true},    {0x0003, true, true, true},   {0x0001, true, true, false},
        {0x0002, true, false, true},   {0x0301, true, true, false},  {0x8000, true, true, true},
        {0x80000003, true, true, true}, {0xC0000000, true, true, true}, {0x0004, false, false, false},
        {0x00FF, false, false, false}, {0x0400, false, false, false}, {0x7F00, false, false, false},
        {0x0500, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "mode 0x" << std::hex << row.nMode);
        ReportError(0);
        void* hFile = nullptr;
        const bool bOpened = QR_OpenFile(&hFile, sPath.c_str(), row.nMode);
        ASSERT_EQ(bOpened, row.bValid);
        if (!row.bValid) {
            EXPECT_EQ(GetDllErrorNo(), qr::kErrBadMode);
            EXPECT_EQ(hFile, nullptr);
            continue;
        }
        char c = 0;
        EXPECT_EQ(QR_Read(hFile, &c, 1), row.bRead ? 1u : 0u);
        EXPECT_EQ(GetDllErrorNo(), row.bRead ? 0 : qr::kErrSystem);
        ReportError(0);
        ASSERT_TRUE(QR_SeekToBegin(hFile));
        EXPECT_EQ(QR_Write(hFile, "x", 1), row.bWrite ? 1u : 0u);
        EXPECT_EQ(GetDllErrorNo(), row.bWrite ? 0 : qr::kErrSystem);
        EXPECT_TRUE(QR_CloseFile(hFile));
    }
    EXPECT_EQ(readFileBytes(sPath).size(), 3u);
}

TEST_F(FileFunctions, OpenMissingFileReportsTheSystemText) {
    const std::string sPath = dir.file("missing.dat");
    void* hFile = nullptr;
    EXPECT_FALSE(QR_OpenFile(&hFile, sPath.c_str(), kReadWrite));
    EXPECT_EQ(hFile, nullptr) << "the handle variable is written only by the open itself";
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
    EXPECT_EQ(lastMessage(), qr::sys::systemErrorText(qr::sys::kErrorNotFound));
    EXPECT_FALSE(qrtest::fileExists(sPath)) << "opening must never create";
    // A folder is found by the search but cannot be opened as a file.
    EXPECT_FALSE(QR_OpenFile(&hFile, dir.path().c_str(), kReadOnly));
    EXPECT_EQ(hFile, qr::sys::kInvalidHandle);
    EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
}

TEST_F(FileFunctions, InvalidHandlesFailAndTouchNothing) {
    void* hClosed = nullptr;
    ASSERT_TRUE(QR_NewFile(&hClosed, dir.file("c.dat").c_str(), kReadWrite));
    ASSERT_TRUE(QR_CloseFile(hClosed));
    int nStackByte = 0;
    std::vector<void*> handles = {nullptr, qr::sys::kInvalidHandle, &nStackByte};
    // Where handles are the system's own, the system gives a closed handle's value to the next
    // object it opens (here: whatever the error text needs), and using it would reach that.
    if (qrtest::backend().bHandlesNeverReused) handles.push_back(hClosed);
    for (void* hFile : handles) {
        SCOPED_TRACE(::testing::Message() << "handle " << hFile);
        char c = 'q';
        ReportError(0);
        EXPECT_FALSE(QR_CloseFile(hFile));
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(lastMessage(), qr::sys::systemErrorText(qr::sys::kErrorInvalidHandle));
        EXPECT_FALSE(QR_SeekToBegin(hFile));
        EXPECT_FALSE(QR_Seek(hFile, 1, 0));
        EXPECT_EQ(QR_Read(hFile, &c, 1), 0u);
        EXPECT_EQ(QR_Write(hFile, &c, 1), 0u);
        EXPECT_EQ(c, 'q');
    }
}

TEST_F(FileFunctions, StaleHandlesNeverReachALaterFile) {
    if (!qrtest::backend().bHandlesNeverReused) GTEST_SKIP() << "the system's handles: values are reused";
    // Open A, close A, open B: A's value must not come back as B, and using A must fail without
    // touching B, however many files come and go.
    std::set<void*> seen;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE(i);
        void* hOld = nullptr;
        void* hNew = nullptr;
        ASSERT_TRUE(QR_NewFile(&hOld, dir.file("old" + std::to_string(i)).c_str(), kReadWrite));
        ASSERT_TRUE(QR_CloseFile(hOld));
        ASSERT_TRUE(QR_NewFile(&hNew, dir.file("new" + std::to_string(i)).c_str(), kReadWrite));
        for (void* hFile : {hOld, hNew}) {
            EXPECT_TRUE(hFile != nullptr && hFile != qr::sys::kInvalidHandle);
            EXPECT_TRUE(seen.insert(hFile).second) << "handle value given out twice: " << hFile;
        }
        ReportError(0);
        EXPECT_EQ(QR_Write(hOld, "stale", 5), 0u);
        EXPECT_EQ(GetDllErrorNo(), qr::kErrSystem);
        EXPECT_EQ(lastMessage(), qr::sys::systemErrorText(EBADF));
        char c = 0;
        EXPECT_EQ(QR_Read(hOld, &c, 1), 0u);
        EXPECT_FALSE(QR_Seek(hOld, 0, 2));
        EXPECT_FALSE(QR_CloseFile(hOld));
        int64_t llEnd = -1;
        ASSERT_TRUE(qr::sys::setFilePointer(hNew, 0, qr::sys::kSeekCurrent, &llEnd));
        EXPECT_EQ(llEnd, 0) << "the stale handle moved the new file's pointer";
        ASSERT_TRUE(QR_CloseFile(hNew));
        EXPECT_EQ(readFileBytes(dir.file("new" + std::to_string(i))).size(), 0u);
    }
}

TEST_F(FileFunctions, ExistenceTest) {
    writeFileText(dir.file("Data.DAT"), "1");
    writeFileText(dir.file("b.txt"), "1");
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_directory(dir.file("nodot"));
    writeFileText(dir.file("nodot/a"), "1");
    writeFileText(dir.file("nodot/aa"), "1");
    writeFileText(dir.file("nodot/aaa"), "1");
    const std::string sBase = dir.path() + "/";
    const struct {
        const char* szName;
        bool bFound;
    } rows[] = {
        {"Data.DAT", true}, {"data.dat", !qrtest::backend().bNamesCaseSensitive} /* no wildcard */,
        {"sub", true},       {"nothing", false},
        {"*.dat", true},     {"D?ta.*", true},
        {"*.txt", true},     {"*.tx", false},
        {"c*", false},       {"nodir/*", false},
        // "." and ".." are not files: an empty folder holds nothing that matches.
        {"sub/*", false},    {"sub/*.*", false},  {"sub/.*", false},   {"sub/..*", false},
        {"sub/?", false},    {"sub/??", false},
        // Trailing dots and spaces of the pattern, as the Win32 search reads them.
        // (Wine's search drops a trailing dot after a '*' and so finds "Data.DAT" for "Data*.".)
        {"*.", true} /* the folders */,            {"Data*.", qrtest::backend().bWine},   {"b.*.", true},
        {"*.txt.", true},    {"*.tx. ", false},   {"nodot/a*.", true}, {"nodot/aa? ", true},
        {"nodot/aaaa? ", false},                   {"nodot/*. ", true}, {"nodot/*a ", true},
        {"nodot/??. ", true}, {"nodot/*b ", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        ReportError(0);
        EXPECT_EQ(IsExistFile((sBase + row.szName).c_str()), row.bFound);
        EXPECT_EQ(GetDllErrorNo(), 0) << "the existence test never reports";
    }
    EXPECT_FALSE(IsExistFile(nullptr));
    EXPECT_FALSE(IsExistFile(""));
    EXPECT_TRUE(notices.notices.empty());
}

}  // namespace
