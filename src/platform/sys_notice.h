// Platform layer: the default presenter of notices, used when no host handler is installed
// and always for the load failure of the error list.
#pragma once

#include "qrcore/notice.h"

namespace qr::sys {

// Writes "caption: text" to standard error. When standard input and standard error are both
// terminals it waits for Enter (errors) or asks [y/N] (questions); otherwise a question is
// answered false (Cancel). Returns true for OK.
bool presentNotice(QR_NoticeKind kind, const char* szCaption, const char* szText);

}  // namespace qr::sys
