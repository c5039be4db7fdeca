// POSIX backend: the default notice presenter on standard error, asking only at a terminal.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/sys_notice.h"
#include "platform/sys_process.h"

namespace qr::sys {

namespace {
void writeAll(int fd, const std::string& sText) {
    const char* p = sText.data();
    std::size_t nLeft = sText.size();
    while (nLeft > 0) {
        const ssize_t n = ::write(fd, p, nLeft);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        nLeft -= static_cast<std::size_t>(n);
    }
}

// One line from standard input, unbuffered so that nothing of the host's input is consumed
// beyond the answer. Empty at end of input.
std::string readAnswer() {
    std::string sLine;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') return sLine;
        if (sLine.size() < 64) sLine.push_back(c);
    }
}
}  // namespace

bool presentNotice(QR_NoticeKind kind, const char* szCaption, const char* szText) {
    const int nSaved = errno;
    std::string sMessage = std::string(szCaption ? szCaption : "") + ": " + (szText ? szText : "");
    const bool bInteractive = stdinIsTerminal() && stderrIsTerminal();
    bool bResult = kind != QR_NoticeQuestion;
    if (!bInteractive) {
        writeAll(STDERR_FILENO, sMessage + "\n");
    } else if (kind == QR_NoticeQuestion) {
        writeAll(STDERR_FILENO, sMessage + " [y/N] ");
        const std::string sAnswer = readAnswer();
        bResult = !sAnswer.empty() && (sAnswer[0] == 'y' || sAnswer[0] == 'Y');
    } else {
        writeAll(STDERR_FILENO, sMessage + "\n(press Enter) ");
        readAnswer();
    }
    errno = nSaved;
    return bResult;
}

}  // namespace qr::sys
