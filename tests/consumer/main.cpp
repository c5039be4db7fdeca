// A program of another project that uses the installed library.
#include <cstdio>
#include <cstring>

#include <qrcore/qrcore.h>

static bool quiet(QR_NoticeKind, const char*, const char* szText, void*) {
    std::printf("notice: %s\n", szText);
    return true;
}

int main() {
    QR_SetNoticeHandler(quiet, nullptr);
    ReportErrorString("consumer-ok");
    char szText[64];
    GetDllErrorString(szText, sizeof szText);
    std::printf("%d %s\n", GetDllErrorNo(), szText);
    return std::strcmp(szText, "consumer-ok") == 0 && GetDllErrorNo() == -1 ? 0 : 1;
}
