// Win32 backend: the default notice presenter, the system's message box. Error notices: the
// caption, the error icon and an OK button, no owner window; the overwrite question: OK and
// Cancel. Where no box can be shown (a service, no interactive desktop, no display), a question is
// answered Cancel and an error notice goes to the debugger output and to standard error.
#include <string>

#include "platform/sys_notice.h"
#include "platform/win32/seam.h"

namespace qr::sys {

namespace {
// Whether the process's window station is one the user sees. Services and other
// non-interactive sessions have an invisible one, where a box would wait for nobody.
bool interactiveStation() {
    HWINSTA hStation = ::GetProcessWindowStation();
    if (hStation == nullptr) return false;
    USEROBJECTFLAGS flags{};
    DWORD nNeeded = 0;
    if (!::GetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof flags, &nNeeded)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void writeToStandardError(const std::string& sLine) {
    HANDLE hError = ::GetStdHandle(STD_ERROR_HANDLE);
    if (hError == nullptr || hError == INVALID_HANDLE_VALUE) return;
    std::size_t nDone = 0;
    while (nDone < sLine.size()) {
        DWORD nWritten = 0;
        if (!::WriteFile(hError, sLine.data() + nDone, static_cast<DWORD>(sLine.size() - nDone), &nWritten, nullptr) ||
            nWritten == 0)
            return;
        nDone += nWritten;
    }
}
}  // namespace

bool presentNotice(QR_NoticeKind kind, const char* szCaption, const char* szText) {
    const DWORD nSaved = ::GetLastError();
    const char* szShownCaption = szCaption != nullptr ? szCaption : "";
    const char* szShownText = szText != nullptr ? szText : "";
    const bool bQuestion = kind == QR_NoticeQuestion;
    const UINT nStyle = (bQuestion ? MB_OKCANCEL | MB_ICONQUESTION : MB_OK | MB_ICONERROR) | MB_TASKMODAL |
                        MB_SETFOREGROUND;
    // 0 (or, on some systems without a display, -1): the box could not be shown at all.
    const int nAnswer = interactiveStation() ? ::MessageBoxA(nullptr, szShownText, szShownCaption, nStyle) : 0;
    if (nAnswer <= 0) {
        const std::string sLine = std::string(szShownCaption) + ": " + szShownText + "\n";
        ::OutputDebugStringA(sLine.c_str());
        writeToStandardError(sLine);
    }
    ::SetLastError(nSaved);
    // Without a box nobody agreed: a question is answered Cancel.
    return bQuestion ? nAnswer == IDOK : true;
}

}  // namespace qr::sys
