// A program of another project that uses the installed library.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <qrcore/qrcore.h>

static bool quiet(QR_NoticeKind, const char*, const char* szText, void*) {
    std::printf("notice: %s\n", szText);
    return true;
}

int main(int argc, char** argv) {
    QR_SetNoticeHandler(quiet, nullptr);
    if (argc > 1) {
        // The text of an error number, from the error list placed beside the program.
        ReportError(std::atoi(argv[1]));
        char szText[256];
        GetDllErrorString(szText, sizeof szText);
        std::printf("%d %s\n", GetDllErrorNo(), szText);
        return 0;
    }
    ReportErrorString("consumer-ok");
    char szText[64];
    GetDllErrorString(szText, sizeof szText);
    std::printf("%d %s\n", GetDllErrorNo(), szText);
    return std::strcmp(szText, "consumer-ok") == 0 && GetDllErrorNo() == -1 ? 0 : 1;
}
