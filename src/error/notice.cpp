// Error subsystem: the host-replaceable notice handler.
#include "error/notice.h"

#include <mutex>

#include "platform/sys_notice.h"

namespace {
// Constant-initialised, so a notice during the library's own start-up finds it ready.
std::mutex g_noticeMutex;
QR_NoticeHandler g_pfnHandler = nullptr;
void* g_pContext = nullptr;
}  // namespace

extern "C" QR_API QR_NoticeHandler QR_CALL QR_SetNoticeHandler(QR_NoticeHandler handler, void* context) {
    std::lock_guard<std::mutex> lock(g_noticeMutex);
    QR_NoticeHandler pfnPrevious = g_pfnHandler;
    g_pfnHandler = handler;
    g_pContext = handler ? context : nullptr;
    return pfnPrevious;
}

namespace qr {

bool showNotice(QR_NoticeKind kind, const char* szCaption, const char* szText) {
    QR_NoticeHandler pfnHandler = nullptr;
    void* pContext = nullptr;
    {
        // Copied under the lock, called outside it: a modal handler must not block the others.
        std::lock_guard<std::mutex> lock(g_noticeMutex);
        pfnHandler = g_pfnHandler;
        pContext = g_pContext;
    }
    if (pfnHandler != nullptr) return pfnHandler(kind, szCaption, szText, pContext);
    return sys::presentNotice(kind, szCaption, szText);
}

}  // namespace qr
