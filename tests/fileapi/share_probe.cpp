// Test helper for the share-mode tests: a second real process that opens a file with the modes
// it is given and prints what happened, one line per mode: "<mode> <1|0> <last error> <size>",
// size being the file's size right after the attempt.
//   share_probe open <path> <contents> <mode>...   QR_OpenFile
//   share_probe new <path> <contents> <mode>...    QR_NewFile, answering the overwrite question with OK
//   share_probe <1-5> <path> <contents> <mode>...  the platform open with that creation disposition
// Each handle is closed again at once, and a file that an attempt emptied gets its former
// contents back before the next attempt.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fileapi/open_mode.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/notice.h"

namespace {
bool answerOk(QR_NoticeKind, const char*, const char*, void*) { return true; }

bool openOne(const std::string& sHow, const char* szPath, uint32_t nMode, void** phFile) {
    if (sHow == "open") return QR_OpenFile(phFile, szPath, nMode);
    if (sHow == "new") return QR_NewFile(phFile, szPath, nMode);
    qr::OpenMode mode;
    if (!qr::decodeOpenMode(nMode, &mode)) return false;
    const auto nDisposition = static_cast<uint32_t>(std::strtoul(sHow.c_str(), nullptr, 10));
    *phFile = qr::sys::createFile(szPath, mode.nAccess, mode.nShare, nDisposition, false);
    return qr::sys::isValidHandle(*phFile);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    QR_SetNoticeHandler(&answerOk, nullptr);
    CloseErrorWin();
    const std::string sHow = argv[1];
    const char* szPath = argv[2];
    // The contents to restore after an open that emptied the file, given by the caller: reading
    // them here could be refused by the very share modes tested.
    const std::string sContents = argv[3];
    for (int i = 4; i < argc; ++i) {
        const auto nMode = static_cast<uint32_t>(std::strtoul(argv[i], nullptr, 0));
        void* hFile = nullptr;
        const bool bOk = openOne(sHow, szPath, nMode, &hFile);
        const uint32_t nError = bOk ? 0u : qr::sys::lastError();
        std::error_code ec;
        const auto nSize = std::filesystem::file_size(szPath, ec);
        std::printf("%s %d %u %lld\n", argv[i], bOk ? 1 : 0, nError, ec ? -1LL : static_cast<long long>(nSize));
        if (bOk) QR_CloseFile(hFile);
        if (ec || nSize != sContents.size()) std::ofstream(szPath, std::ios::binary | std::ios::trunc) << sContents;
    }
    return 0;
}
