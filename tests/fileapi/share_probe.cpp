// Test helper for the share-mode tests: a second real process that opens a file with the
// modes it is given and prints what happened, one line per mode: "<mode> <1|0> <last error>".
//   share_probe open <path> <mode>...    QR_OpenFile with each mode in turn (closed again)
//   share_probe new <path> <mode>        QR_NewFile, answering the overwrite question with OK
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/notice.h"

namespace {
bool answerOk(QR_NoticeKind, const char*, const char*, void*) { return true; }

void tryOne(bool bCreate, const char* szPath, const char* szMode) {
    const auto nMode = static_cast<uint32_t>(std::strtoul(szMode, nullptr, 0));
    void* hFile = nullptr;
    const bool bOk = bCreate ? QR_NewFile(&hFile, szPath, nMode) : QR_OpenFile(&hFile, szPath, nMode);
    std::printf("%s %d %u\n", szMode, bOk ? 1 : 0, bOk ? 0u : qr::sys::lastError());
    if (bOk) QR_CloseFile(hFile);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    QR_SetNoticeHandler(&answerOk, nullptr);
    CloseErrorWin();
    const bool bCreate = std::strcmp(argv[1], "new") == 0;
    for (int i = 3; i < argc; ++i) tryOne(bCreate, argv[2], argv[i]);
    return 0;
}
