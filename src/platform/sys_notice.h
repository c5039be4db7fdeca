// Platform layer: the default presenter of notices, used when no host handler is installed
// and always for the load failure of the error list.
#pragma once

#include "qrcore/notice.h"

namespace qr::sys {

// POSIX: writes "caption: text" to standard error. When standard input and standard error are
// both terminals it waits for Enter (errors) or asks [y/N] (questions); otherwise a question is
// answered false (Cancel). Windows: the system's message box (error icon and OK; the question
// with OK and Cancel; no owner window); where none can be shown, a question is answered false and
// "caption: text" goes to the debugger output and standard error. Returns true for OK. The
// calling thread's last error is unchanged.
bool presentNotice(QR_NoticeKind kind, const char* szCaption, const char* szText);

}  // namespace qr::sys
