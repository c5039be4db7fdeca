// Raw file-handle API: the exported create, open, close, seek, read, write, existence and
// overwrite-question functions over platform file handles.
#include <cstring>
#include <string>

#include "error/error_state.h"
#include "error/notice.h"
#include "fileapi/edit_journal.h"
#include "fileapi/open_mode.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"

namespace {

// The question is composed in a buffer of this many bytes, terminator included.
constexpr std::size_t kQuestionBuffer = 1024;

// True when szFileName and the question's suffix fit the question buffer.
bool fitsQuestion(const char* szFileName) {
    return std::strlen(szFileName) + std::strlen(qr::kRewriteSuffix) + 1 <= kQuestionBuffer;
}

// Reports a failed platform call (1000000 with its last error) and returns false.
bool failSystem() {
    qr::setError(qr::kErrSystem);
    return false;
}


// An existing file whose edit was interrupted is finished (or refused) before it is opened; a
// journal locked by an edit running right now is left to that edit, and something at the
// journal's name that is not the owner's journal is no journal at all. A caller who may not
// apply the owner's journal is refused: the file is half-edited. False after reporting.
bool recoverBeforeOpen(const char* szFileName) {
    switch (qr::recoverFile(szFileName)) {
    case qr::Recovery::kFailed: return false;
    case qr::Recovery::kWaits: qr::setSystemError(qr::sys::kErrorJournalWaits); return false;
    default: return true;
    }
}

// Decodes nMode (1000003 when invalid) and opens the file; the caller's handle variable is
// written only by the open itself, also with the invalid value when it fails (1000000).
bool openWithMode(void** phFile, const char* szFileName, uint32_t nMode, uint32_t nDisposition) {
    qr::OpenMode mode;
    if (!qr::decodeOpenMode(nMode, &mode)) {
        qr::setError(qr::kErrBadMode);
        return false;
    }
    *phFile = qr::sys::createFile(szFileName, mode.nAccess, mode.nShare, nDisposition, true);
    if (*phFile == qr::sys::kInvalidHandle) return failSystem();
    return true;
}
}  // namespace

extern "C" {

QR_API bool QR_CALL RequestRewriteFile(const char* szFileName) {
    if (szFileName == nullptr) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    // A name that does not fit the question is refused outright: asking about a cut name could
    // make the user agree to replace a different file.
    if (!fitsQuestion(szFileName)) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return false;
    }
    const std::string sQuestion = std::string(szFileName) + qr::kRewriteSuffix;
    if (!qr::showNotice(QR_NoticeQuestion, qr::kQuestionCaption, sQuestion.c_str())) {
        qr::setError(qr::kErrRecorded);
        return false;
    }
    return true;
}

QR_API bool QR_CALL IsExistFile(const char* szFileName) {
    // The search's own failure code must not leak into a later report: keep the caller's.
    const uint32_t nSaved = qr::sys::lastError();
    const bool bFound = szFileName != nullptr && qr::sys::findFile(szFileName);
    qr::sys::setLastError(nSaved);
    return bFound;
}

QR_API bool QR_CALL QR_NewFile(void** phFile, const char* szFileName, uint32_t nMode) {
    // A name with a wildcard in its last component is a pattern, not a file: asking about the
    // file it matches and then creating one named after the pattern would both be wrong.
    if (phFile == nullptr || szFileName == nullptr || qr::sys::isWildcardName(szFileName)) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    if (!fitsQuestion(szFileName)) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return false;
    }
    // The user is asked before the mode is looked at.
    if (IsExistFile(szFileName) && (!recoverBeforeOpen(szFileName) || !RequestRewriteFile(szFileName))) return false;
    return openWithMode(phFile, szFileName, nMode, qr::sys::kCreateAlways);
}

QR_API bool QR_CALL QR_OpenFile(void** phFile, const char* szFileName, uint32_t nMode) {
    if (phFile == nullptr || szFileName == nullptr || qr::sys::isWildcardName(szFileName)) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    if (!qr::sys::findFile(szFileName)) return failSystem();
    if (!recoverBeforeOpen(szFileName)) return false;
    return openWithMode(phFile, szFileName, nMode, qr::sys::kOpenExisting);
}

QR_API bool QR_CALL QR_CloseFile(void* hFile) {
    if (!qr::sys::closeHandle(hFile)) return failSystem();
    return true;
}

QR_API bool QR_CALL QR_SeekToBegin(void* hFile) {
    if (!qr::sys::setFilePointer(hFile, 0, qr::sys::kSeekBegin, nullptr)) return failSystem();
    return true;
}

QR_API bool QR_CALL QR_Seek(void* hFile, int64_t llOffset, uint32_t nOrigin) {
    int64_t llNewPos = 0;
    if (!qr::sys::setFilePointer(hFile, llOffset, nOrigin, &llNewPos)) return failSystem();
    if (nOrigin == qr::sys::kSeekBegin && llNewPos != llOffset) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    return true;
}

QR_API uint32_t QR_CALL QR_Read(void* hFile, void* pBuffer, uint32_t nCount) {
    uint32_t nRead = 0;
    if (!qr::sys::readFile(hFile, pBuffer, nCount, &nRead)) {
        failSystem();
        return 0;
    }
    return nRead;
}

QR_API uint32_t QR_CALL QR_Write(void* hFile, const void* pBuffer, uint32_t nCount) {
    uint32_t nWritten = 0;
    // The platform write either moves every byte or fails with its cause recorded.
    qr::sys::writeFile(hFile, pBuffer, nCount, &nWritten);
    if (nWritten != nCount) failSystem();
    return nWritten;
}

QR_API bool QR_CALL QR_SetEndOfFile(void* hFile) {
    if (!qr::sys::setEndOfFile(hFile)) return failSystem();
    return true;
}

}  // extern "C"
