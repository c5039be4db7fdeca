// Reporting into the process's error state, through a recording notice handler.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "error/builtin_texts.h"
#include "error/error_state.h"
#include "platform/platform.h"
#include "support/backend.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

class ErrorState : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
        std::memset(qr::errorState().m_szErrorInfo, 0, sizeof qr::errorState().m_szErrorInfo);
    }
    void TearDown() override { ShowErrorWin(); }

    static std::string listText(int32_t lErrorNo) {
        const CErrorInfo& state = qr::errorState();
        for (int32_t i = 0; i < state.m_nErrorCount; ++i)
            if (state.m_pErrorList[i].lErrorNo == lErrorNo) return state.m_pErrorList[i].szErrorInfo;
        return "";
    }
    static std::string lastString() {
        char szBuffer[512];
        std::memset(szBuffer, 'x', sizeof szBuffer);
        GetDllErrorString(szBuffer, sizeof szBuffer);
        return szBuffer;
    }

    qrtest::RecordingNotices notices;
};

TEST_F(ErrorState, ReportByNumberShowsStoresAndRecords) {
    ASSERT_FALSE(listText(1000003).empty()) << "the shipped error list lacks 1000003";
    ReportError(1000003);
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.notices[0].kind, QR_NoticeError);
    EXPECT_EQ(notices.notices[0].sCaption, qrtest::systemText("Quarrion错误信息"));
    EXPECT_EQ(notices.notices[0].sText, listText(1000003));
    EXPECT_EQ(GetDllErrorNo(), 1000003);
    EXPECT_EQ(lastString(), listText(1000003));

    // A number without an entry shows and records the unknown-error text.
    ReportError(424242);
    EXPECT_EQ(notices.lastText(), qrtest::systemText("未知错误!"));
    EXPECT_EQ(GetDllErrorNo(), 424242);
    EXPECT_EQ(lastString(), qrtest::systemText("未知错误!"));
    // -1 assigned as a number is looked up like any other.
    ReportError(-1);
    EXPECT_EQ(notices.lastText(), qrtest::systemText("未知错误!"));
    EXPECT_EQ(GetDllErrorNo(), -1);
}

TEST_F(ErrorState, ZeroAndRecordedOnlyShowNothingAndKeepTheText) {
    ReportError(1000004);
    const std::string sShown = lastString();
    notices.clear();
    ReportError(0);
    EXPECT_EQ(GetDllErrorNo(), 0);
    ReportError(1000001);
    EXPECT_EQ(GetDllErrorNo(), 1000001);
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_EQ(lastString(), sShown);
}

TEST_F(ErrorState, ShowingOffStoresOnlyTheNumber) {
    EXPECT_EQ(lastString(), "");  // nothing shown yet
    CloseErrorWin();
    ReportError(5);
    ReportErrorString("not shown");
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_EQ(GetDllErrorNo(), -1);
    EXPECT_EQ(lastString(), "");

    ShowErrorWin();
    ReportError(1000004);
    const std::string sShown = lastString();
    CloseErrorWin();
    ReportError(1000003);
    EXPECT_EQ(GetDllErrorNo(), 1000003);
    EXPECT_EQ(lastString(), sShown);
    ShowErrorWin();
    ReportError(1000003);
    EXPECT_EQ(notices.notices.size(), 2u);
    EXPECT_EQ(lastString(), listText(1000003));
}

TEST_F(ErrorState, ReportByTextAndItsCut) {
    ReportErrorString("");
    EXPECT_EQ(GetDllErrorNo(), -1);
    EXPECT_TRUE(notices.notices.empty());
    ReportErrorString(nullptr);
    EXPECT_EQ(GetDllErrorNo(), -1);
    EXPECT_TRUE(notices.notices.empty());

    ReportErrorString("测线文件损坏");
    EXPECT_EQ(GetDllErrorNo(), -1);
    EXPECT_EQ(notices.lastText(), "测线文件损坏");
    EXPECT_EQ(lastString(), "测线文件损坏");

    // A text of 256 bytes or more is shown whole and recorded cut to 255 bytes.
    const std::string sLong(300, 'L');
    ReportErrorString(sLong.c_str());
    EXPECT_EQ(notices.lastText(), sLong);
    EXPECT_EQ(lastString(), sLong.substr(0, 255));
}

TEST_F(ErrorState, BufferSizeBoundaryOfGetDllErrorString) {
    ReportErrorString("abcdef");  // 6 bytes
    notices.clear();
    char szBuffer[16];
    std::memset(szBuffer, '#', sizeof szBuffer);
    GetDllErrorString(szBuffer, 7);
    EXPECT_STREQ(szBuffer, "abcdef");
    EXPECT_EQ(GetDllErrorNo(), -1);
    EXPECT_TRUE(notices.notices.empty());

    std::memset(szBuffer, '#', sizeof szBuffer);
    GetDllErrorString(szBuffer, 6);
    EXPECT_EQ(GetDllErrorNo(), 1000005);
    EXPECT_EQ(std::string(szBuffer, sizeof szBuffer), std::string(sizeof szBuffer, '#'));
    // The 1000005 report was shown and is now the last message.
    ASSERT_EQ(notices.notices.size(), 1u);
    EXPECT_EQ(notices.lastText(), listText(1000005));
    EXPECT_EQ(lastString(), listText(1000005));

    GetDllErrorString(szBuffer, 0);
    EXPECT_EQ(GetDllErrorNo(), 1000005);
    GetDllErrorString(szBuffer, -3);
    EXPECT_EQ(GetDllErrorNo(), 1000005);
    GetDllErrorString(nullptr, 100);
    EXPECT_EQ(GetDllErrorNo(), 1000005);
}

TEST_F(ErrorState, EmptyTextFitsAOneByteBuffer) {
    char c = 'x';
    GetDllErrorString(&c, 1);
    EXPECT_EQ(c, '\0');
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(ErrorState, SystemErrorShowsTheFailedCallsText) {
    // A real failed system call: removing a file that is not there.
    qrtest::ScratchDir dir;
    ASSERT_FALSE(qr::sys::deleteFile(dir.file("none.dat").c_str()));
    const uint32_t nCode = qr::sys::captureLastError();
    EXPECT_EQ(nCode, qr::sys::kErrorNotFound);
    ReportError(1000000);
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_EQ(notices.lastText(), qr::sys::systemErrorText(nCode));
    EXPECT_EQ(lastString(), qr::sys::systemErrorText(nCode));
    // The system's own description, not the fallback for codes it does not know.
    EXPECT_FALSE(notices.lastText().empty());
    EXPECT_EQ(notices.lastText().find("Unknown error"), std::string::npos) << notices.lastText();
}

TEST_F(ErrorState, ClassInstancesOfTheHost) {
    CErrorInfo own;  // reads the same list from the executable's folder
    EXPECT_EQ(own.GetDllErrorNo(), 0);
    EXPECT_TRUE(own.m_bErrorShow);
    EXPECT_EQ(own.m_nErrorCount, qr::errorState().m_nErrorCount);
    own = 1000003;
    std::string sText;
    own.GetDllErrorInfo(sText);
    EXPECT_EQ(sText, listText(1000003));
    EXPECT_EQ(GetDllErrorNo(), 0) << "a host's own instance must not touch the library's state";

    // Copies: assignment keeps the target's own list; construction copies it. Each list is
    // released once (checked by the sanitizer build).
    CErrorInfo copy(own);
    EXPECT_EQ(copy.GetDllErrorNo(), 1000003);
    EXPECT_NE(copy.m_pErrorList, own.m_pErrorList);
    EXPECT_EQ(copy.m_nErrorCount, own.m_nErrorCount);
    CErrorInfo other;
    _tagErrorItem* pOwnList = other.m_pErrorList;
    own.SetErrorShow(false);
    other = own;
    EXPECT_EQ(other.m_pErrorList, pOwnList);
    EXPECT_FALSE(other.m_bErrorShow);
    other.GetDllErrorInfo(sText);
    EXPECT_EQ(sText, listText(1000003));
    CErrorInfo& self = other;
    other = self;
    EXPECT_EQ(other.GetDllErrorNo(), 1000003);
}

TEST_F(ErrorState, BuiltInTextsAndTheShippedListAreInTheSystemCodePage) {
    // The build converts them (iconv); the expectation is converted by the system at run time
    // (on Windows its own code page 936 converter), from the same UTF-8.
    const struct {
        const char* szName;
        std::string sBuilt;
        const char* szUtf8;
    } rows[] = {
        {"error caption", qr::kErrorCaption, "Quarrion错误信息"},
        {"question caption", qr::kQuestionCaption, "Quarrion提示信息"},
        {"unknown error", qr::kUnknownError, "未知错误!"},
        {"list not opened", qr::kListCannotOpen, "打开QuarrionError.inf文件错误!"},
        {"list malformed", qr::kListBadFormat, "QuarrionError.inf格式错误!"},
        {"overwrite question", qr::kRewriteSuffix, "已存在，覆盖此文件？"},
        {"list entry 1000003", listText(1000003), "文件打开方式无效!"},
        {"list entry 1000005", listText(1000005), "缓冲区太小，容纳不下错误信息!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        EXPECT_FALSE(row.sBuilt.empty());
        EXPECT_EQ(row.sBuilt, qrtest::systemText(row.szUtf8));
    }
}

}  // namespace
