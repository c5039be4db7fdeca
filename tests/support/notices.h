// Test support: a notice handler that records every notice and answers as told.
#pragma once

#include <string>
#include <vector>

#include "qrcore/notice.h"

namespace qrtest {

struct Notice {
    QR_NoticeKind kind;
    std::string sCaption;
    std::string sText;
};

// Installs itself as the notice handler for its lifetime and restores the previous one after.
// Questions are answered with bAnswer.
class RecordingNotices {
public:
    explicit RecordingNotices(bool bAnswer = true);
    ~RecordingNotices();
    RecordingNotices(const RecordingNotices&) = delete;
    RecordingNotices& operator=(const RecordingNotices&) = delete;

    std::vector<Notice> notices;
    bool bAnswer;

    void clear() { notices.clear(); }
    // The text of the last notice, or "" when there was none.
    std::string lastText() const { return notices.empty() ? std::string() : notices.back().sText; }

private:
    static bool handle(QR_NoticeKind kind, const char* szCaption, const char* szText, void* pContext);
    QR_NoticeHandler m_pfnPrevious;
};

}  // namespace qrtest
