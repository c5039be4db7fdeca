// File objects: CTempFile, a scratch file in the folder for temporary files that is created by
// the constructors and deleted by Close. Copies share the file through a ring, as CxFile's do.
#include "file/share_ring.h"
#include "error/error_state.h"
#include "file/temp_support.h"
#include "platform/platform.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"

CTempFile::CTempFile() : CTempFile(int64_t{0}) {}

CTempFile::CTempFile(const char* szPrefix) : CTempFile(szPrefix, 0) {}

CTempFile::CTempFile(const char* szPrefix, int64_t nSize)
    : m_hFile(qr::sys::kInvalidHandle),
      m_nFileSize(0),
      m_bOwnsFile(false),
      m_nOwnerProcess(qr::sys::currentProcessId()),
      m_pSharePrev(this),
      m_pShareNext(this) {
    m_strFileName = MakeTempFileName(szPrefix);
    m_bOwnsFile = !m_strFileName.empty();
    Create(nSize);
}

CTempFile::CTempFile(int64_t nSize) : CTempFile(nullptr, nSize) {}

CTempFile::CTempFile(const CTempFile& src)
    : m_hFile(src.m_hFile),
      m_strFileName(src.m_strFileName),
      m_nFileSize(src.m_nFileSize),
      m_bOwnsFile(src.m_bOwnsFile),
      m_nOwnerProcess(src.m_nOwnerProcess),
      m_pSharePrev(this),
      m_pShareNext(this) {
    joinShare(src);
}

CTempFile& CTempFile::operator=(const CTempFile& src) {
    if (this == &src) return *this;
    Close();  // afterwards this object shares with nobody
    m_hFile = src.m_hFile;
    m_strFileName = src.m_strFileName;
    m_nFileSize = src.m_nFileSize;
    m_bOwnsFile = src.m_bOwnsFile;
    m_nOwnerProcess = src.m_nOwnerProcess;
    joinShare(src);
    return *this;
}

CTempFile::~CTempFile() { Close(); }

void CTempFile::joinShare(const CTempFile& src) { qr::joinRing(this, src, &CTempFile::m_pShareNext, &CTempFile::m_pSharePrev); }

bool CTempFile::leaveShare() { return qr::leaveRing(this, &CTempFile::m_pShareNext, &CTempFile::m_pSharePrev); }

int64_t CTempFile::GetFileSize() const { return m_nFileSize; }
void* CTempFile::GetFileHandle() const { return m_hFile; }
std::string CTempFile::GetFileName() const { return m_strFileName; }

std::string CTempFile::MakeTempFileName(const char* szPrefix) { return qr::makeTempPath(szPrefix, "Tmp"); }

void* CTempFile::Create(int64_t nSize) {
    if (m_strFileName.empty()) {
        m_strFileName = MakeTempFileName(nullptr);
        m_bOwnsFile = !m_strFileName.empty();
    }
    m_nFileSize = 0;
    // Without a name the generator's error (1000000) is the one to keep.
    void* hFile = m_strFileName.empty() ? nullptr : qr::openTempPlaceholder(m_strFileName.c_str());
    if (!qr::sys::isValidHandle(hFile)) {
        m_hFile = nullptr;
        if (m_bOwnsFile) qr::sys::deleteFile(m_strFileName.c_str());
        m_bOwnsFile = false;
        return nullptr;
    }
    const int64_t llSize = nSize < qr::kZeroPiece ? qr::kZeroPiece : nSize;
    bool bReserved = QR_Seek(hFile, llSize, 0);
    if (bReserved && !qr::sys::setEndOfFile(hFile)) {
        qr::setError(qr::kErrSystem);
        bReserved = false;
    }
    if (!bReserved) {
        // Clean up without a report of its own, so the error that caused this survives.
        qr::sys::closeHandle(hFile);
        qr::sys::deleteFile(m_strFileName.c_str());
        m_bOwnsFile = false;
        m_hFile = nullptr;
        return nullptr;
    }
    m_hFile = hFile;
    m_nFileSize = llSize;
    return m_hFile;
}

bool CTempFile::Initialize() { return qr::writeZeros(m_hFile, m_nFileSize); }

bool CTempFile::SeekToBegin() { return QR_SeekToBegin(m_hFile); }

bool CTempFile::Seek(int64_t nOffset, uint32_t nOrigin) { return QR_Seek(m_hFile, nOffset, nOrigin); }

uint32_t CTempFile::Read(void* pBuffer, uint32_t nCount) { return QR_Read(m_hFile, pBuffer, nCount); }

uint32_t CTempFile::Write(const void* pBuffer, uint32_t nCount) { return QR_Write(m_hFile, pBuffer, nCount); }

// A child made by fork() without exec holds copies of its parent's objects, whose handles reach
// the parent's very open file. The file is the creating process's alone (each constructor records
// its own process, and copies keep the creator's): in any other process Close closes only that
// process's handle and never deletes the file, whether the child closes its copy, destroys it or
// just ends through exit().
void CTempFile::Close() {
    if (leaveShare()) {
        // Another copy still holds the file: let go of it.
        m_hFile = qr::sys::kInvalidHandle;
        m_bOwnsFile = false;
        return;
    }
    // A null handle is a failed creation: there is nothing to close, and closing it would bury
    // the error that made it fail.
    if (qr::sys::isValidHandle(m_hFile)) QR_CloseFile(m_hFile);
    m_hFile = qr::sys::kInvalidHandle;
    if (m_bOwnsFile && m_nOwnerProcess == qr::sys::currentProcessId()) qr::sys::deleteFile(m_strFileName.c_str());
    m_bOwnsFile = false;
}
