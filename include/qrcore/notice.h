/* QRCore notices: the one channel through which the library shows a message or asks a question.
 *
 * Every error box and the overwrite question go through the installed handler. The reporting
 * thread waits until the handler returns. The library never holds a lock of its own while it
 * calls the handler. Without a handler, the default presenter writes "caption: text" to standard
 * error; only when standard input and standard error are both terminals does it wait for Enter
 * (errors) or ask [y/N] (questions). Without a terminal a question is answered Cancel.
 * On Windows the default presenter is the system's message box (MessageBoxA: error notices with
 * the error icon and OK, the question with OK and Cancel, no owner window); where no box can be
 * shown (a service, no interactive desktop) a question is answered Cancel and an error notice is
 * written to the debugger output and standard error. Texts are in the system's code page (936 for
 * the library's own texts on Windows). Handlers are QR_CALLBACK (__cdecl on 32-bit Windows). */
#ifndef QRCORE_NOTICE_H
#define QRCORE_NOTICE_H

#include <stdbool.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

typedef enum QR_NoticeKind { QR_NoticeError = 0, QR_NoticeQuestion = 1 } QR_NoticeKind;

/* Returns true for OK, false for Cancel; the result of an error notice is ignored. */
typedef bool (QR_CALLBACK* QR_NoticeHandler)(QR_NoticeKind kind, const char* caption, const char* text, void* context);

/* Installs handler (null restores the default presenter); returns the previous handler
 * (null when the default presenter was in place). context is handed to every call. */
QR_API QR_NoticeHandler QR_CALL QR_SetNoticeHandler(QR_NoticeHandler handler, void* context);

QR_EXTERN_C_END

#endif
