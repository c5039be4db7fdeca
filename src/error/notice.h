// Error subsystem: showing notices through the host's handler or the default presenter.
#pragma once

#include "error/builtin_texts.h"  // kErrorCaption, kQuestionCaption (system code page)
#include "qrcore/notice.h"

namespace qr {

// Shows a notice and waits for the answer: true for OK. Never called with a library lock held.
bool showNotice(QR_NoticeKind kind, const char* szCaption, const char* szText);

}  // namespace qr
