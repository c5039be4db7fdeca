// Error subsystem: the module object that holds the process's error state, and the exported
// error functions.
#include <cstring>
#include <string>

#include "error/error_state.h"
#include "platform/platform.h"

namespace {

// The library's one application object. Its only member is the error state; constructing it
// reads the error list, and a failed read ends the process before any exported function runs.
class CQRError {
public:
    CErrorInfo m_ErrorInfo;
};

// Constructed first among the library's static objects, so no other static initialiser of the
// library can report into it before it exists.
__attribute__((init_priority(101))) CQRError g_ModuleApp;

}  // namespace

namespace qr {

CErrorInfo& errorState() { return g_ModuleApp.m_ErrorInfo; }

void setError(int32_t lErrorNo) { g_ModuleApp.m_ErrorInfo = lErrorNo; }

void setSystemError(uint32_t nSystemCode) {
    sys::setLastError(nSystemCode);
    g_ModuleApp.m_ErrorInfo = kErrSystem;
}

}  // namespace qr

extern "C" {

QR_API void QR_CALL ShowErrorWin(void) { g_ModuleApp.m_ErrorInfo.SetErrorShow(true); }

QR_API void QR_CALL CloseErrorWin(void) { g_ModuleApp.m_ErrorInfo.SetErrorShow(false); }

QR_API void QR_CALL ReportError(int32_t lErrorNo) { g_ModuleApp.m_ErrorInfo = lErrorNo; }

QR_API void QR_CALL ReportErrorString(const char* szError) { g_ModuleApp.m_ErrorInfo = szError; }

QR_API int32_t QR_CALL GetDllErrorNo(void) { return g_ModuleApp.m_ErrorInfo.GetDllErrorNo(); }

QR_API void QR_CALL GetDllErrorString(char* szBuffer, int32_t nSize) {
    std::string sText;
    g_ModuleApp.m_ErrorInfo.GetDllErrorInfo(sText);
    if (szBuffer == nullptr || nSize <= 0 || static_cast<std::size_t>(nSize) <= sText.size()) {
        g_ModuleApp.m_ErrorInfo = qr::kErrBufferTooSmall;
        return;
    }
    std::memcpy(szBuffer, sText.c_str(), sText.size() + 1);
}

}  // extern "C"
