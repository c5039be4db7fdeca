// Test support: recording notice handler.
#include "support/notices.h"

namespace qrtest {

RecordingNotices::RecordingNotices(bool bAnswerIn)
    : bAnswer(bAnswerIn), m_pfnPrevious(QR_SetNoticeHandler(&RecordingNotices::handle, this)) {}

RecordingNotices::~RecordingNotices() { QR_SetNoticeHandler(m_pfnPrevious, nullptr); }

bool RecordingNotices::handle(QR_NoticeKind kind, const char* szCaption, const char* szText, void* pContext) {
    auto* pSelf = static_cast<RecordingNotices*>(pContext);
    pSelf->notices.push_back({kind, szCaption ? szCaption : "", szText ? szText : ""});
    return kind == QR_NoticeQuestion ? pSelf->bAnswer : true;
}

}  // namespace qrtest
