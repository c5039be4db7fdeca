// File objects: CxFile's life cycle: construction, copies and their sharing, opening and
// creating the three kinds, and Close. Transfers and queries are in cxfile_transfer.cpp.
#include <cstring>

#include "file/share_ring.h"
#include "error/error_state.h"
#include "file/temp_support.h"
#include "platform/platform.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"

// Sharing between copies. Copies of one object form a ring through m_pSharePrev/m_pShareNext;
// an object that shares with nobody links to itself. Everyone in a ring holds the same handle
// and the same buffer (the memory operations keep pointer, capacity and length equal across the
// ring), so whoever leaves the ring while others stay simply lets go, and only the last one
// releases. A copy never allocates, so copying cannot fail.

namespace {

constexpr uint32_t kModeReadWrite = 3;  // access read and write, no sharing
constexpr uint32_t kModeReadOnly = 1;   // access read only, no sharing
constexpr std::size_t kNameCapacity = sizeof(CxFile::m_szFileName);

// Refuses a name that m_szFileName cannot hold before anything is opened or created, so that a
// refused Create never empties an existing file. Stores 1000000 with the system's reason.
bool acceptName(const char* szFileName) {
    if (szFileName == nullptr) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    if (::strnlen(szFileName, kNameCapacity) >= kNameCapacity) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return false;
    }
    return true;
}

// Takes over a freshly opened handle. Whatever this object shared with copies stays with them;
// what it held alone stays where it was (opening releases nothing).
void adoptHandle(CxFile& file, void* hFile, const char* szFileName, QR_FileType nType) {
    file.m_hFile = hFile;
    const std::size_t nLength = ::strnlen(szFileName, kNameCapacity - 1);  // checked to fit
    std::memcpy(file.m_szFileName, szFileName, nLength);
    file.m_szFileName[nLength] = '\0';
    file.m_nFileType = nType;
}

}  // namespace

CxFile::CxFile()
    : m_pBuffer(nullptr),
      m_nFileType(QR_DiskFile),
      m_bAttached(0),
      m_bReadOnly(false),
      m_hFile(qr::sys::kInvalidHandle),
      m_szFileName{},
      m_nBufferSize(0),
      m_nPos(0),
      m_nFileSize(0),
      m_nReserved(0),
      m_nOwnerProcess(qr::sys::currentProcessId()),
      m_pSharePrev(this),
      m_pShareNext(this) {
    Initialize(QR_DiskFile);
}

CxFile::CxFile(const CxFile& src)
    : m_pBuffer(src.m_pBuffer),
      m_nFileType(src.m_nFileType),
      m_bAttached(src.m_bAttached),
      m_bReadOnly(src.m_bReadOnly),
      m_hFile(src.m_hFile),
      m_szFileName{},
      m_nBufferSize(src.m_nBufferSize),
      m_nPos(src.m_nPos),
      m_nFileSize(src.m_nFileSize),
      m_nReserved(src.m_nReserved),
      m_nOwnerProcess(src.m_nOwnerProcess),
      m_pSharePrev(this),
      m_pShareNext(this) {
    std::memcpy(m_szFileName, src.m_szFileName, sizeof m_szFileName);
    joinShare(src);
}

CxFile::~CxFile() { Close(); }

CxFile& CxFile::operator=(const CxFile& src) {
    if (this == &src) return *this;
    Close();  // afterwards this object shares with nobody
    m_pBuffer = src.m_pBuffer;
    m_nFileType = src.m_nFileType;
    m_bAttached = src.m_bAttached;
    m_bReadOnly = src.m_bReadOnly;
    m_hFile = src.m_hFile;
    std::memcpy(m_szFileName, src.m_szFileName, sizeof m_szFileName);
    m_nBufferSize = src.m_nBufferSize;
    m_nPos = src.m_nPos;
    m_nFileSize = src.m_nFileSize;
    m_nReserved = src.m_nReserved;
    m_nOwnerProcess = src.m_nOwnerProcess;
    joinShare(src);
    return *this;
}

void CxFile::joinShare(const CxFile& src) { qr::joinRing(this, src, &CxFile::m_pShareNext, &CxFile::m_pSharePrev); }

// Unlinks this object from its ring; true when other copies remain in it.
bool CxFile::leaveShare() { return qr::leaveRing(this, &CxFile::m_pShareNext, &CxFile::m_pSharePrev); }

void CxFile::Initialize(QR_FileType nType) {
    leaveShare();
    m_pBuffer = nullptr;
    m_nFileType = nType;
    m_bAttached = 0;
    m_nBufferSize = m_nFileSize = m_nPos = 0;
    m_nReserved = 0;
    m_hFile = qr::sys::kInvalidHandle;
    m_szFileName[0] = '\0';
}

void CxFile::Initialize(unsigned char* pBuffer, uint32_t nLength) {
    leaveShare();
    m_pBuffer = pBuffer;
    m_nFileType = QR_MemFile;
    m_nPos = 0;
    m_nBufferSize = m_nFileSize = m_nReserved = nLength;
    m_bAttached = 1;
    m_hFile = qr::sys::kInvalidHandle;
    m_szFileName[0] = '\0';
}

void* CxFile::GetFileHandle() const { return m_hFile; }

std::string CxFile::GetFileName() const {
    return std::string(m_szFileName, ::strnlen(m_szFileName, sizeof m_szFileName));
}

bool CxFile::CreateMemFile(int32_t nSize) {
    if (m_pBuffer != nullptr) return true;
    if (nSize < 0) return false;
    m_nPos = 0;
    m_nBufferSize = m_nFileSize = nSize;
    auto* pBuffer = static_cast<unsigned char*>(qr::sys::memAllocZeroed(static_cast<std::size_t>(nSize)));
    if (pBuffer == nullptr) return false;
    // The new buffer is this object's alone; a handle that copies still share stays theirs.
    if (leaveShare()) m_hFile = qr::sys::kInvalidHandle;
    m_pBuffer = pBuffer;
    m_nReserved = nSize;
    m_bAttached = 0;  // only reachable after attaching a null buffer: this buffer is our own
    m_nFileType = QR_MemFile;
    return true;
}

bool CxFile::Open(const char* szFileName, bool bReadOnly) {
    m_bReadOnly = bReadOnly;
    if (!acceptName(szFileName)) return false;
    void* hFile = qr::sys::kInvalidHandle;  // the held handle survives a failed open
    if (!QR_OpenFile(&hFile, szFileName, bReadOnly ? kModeReadOnly : kModeReadWrite)) return false;
    dropShared();
    adoptHandle(*this, hFile, szFileName, QR_DiskFile);
    m_nOwnerProcess = qr::sys::currentProcessId();
    return true;
}

bool CxFile::Create(const char* szFileName) {
    if (!acceptName(szFileName)) return false;
    void* hFile = qr::sys::kInvalidHandle;
    if (!QR_NewFile(&hFile, szFileName, kModeReadWrite)) return false;
    dropShared();
    adoptHandle(*this, hFile, szFileName, QR_DiskFile);
    m_nOwnerProcess = qr::sys::currentProcessId();
    m_bReadOnly = false;
    return true;
}

// Lets go of what other copies share with this object (they keep it); false when it shares
// with nobody, and then holds everything as before.
bool CxFile::dropShared() {
    if (!leaveShare()) return false;
    m_hFile = qr::sys::kInvalidHandle;
    if (m_bAttached == 0) {
        m_pBuffer = nullptr;
        m_nReserved = 0;
    }
    return true;
}

std::string CxFile::MakeTempFileName(const char* szPrefix) { return qr::makeTempPath(szPrefix, "tmp"); }

bool CxFile::CreateTempFile(const char* szPrefix, int64_t nSize) {
    const std::string sPath = MakeTempFileName(szPrefix);
    if (sPath.empty()) return false;
    if (sPath.size() >= kNameCapacity) {
        qr::sys::deleteFile(sPath.c_str());
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return false;
    }
    void* hFile = qr::openTempPlaceholder(sPath.c_str());
    if (!qr::sys::isValidHandle(hFile)) {
        qr::sys::deleteFile(sPath.c_str());
        return false;
    }
    dropShared();
    adoptHandle(*this, hFile, sPath.c_str(), QR_DiskFile);
    m_nOwnerProcess = qr::sys::currentProcessId();
    m_bReadOnly = false;
    // A failed reservation leaves an open plain disk file, which Close closes without deleting.
    if (!QR_Seek(m_hFile, nSize, 0)) return false;
    if (!qr::sys::setEndOfFile(m_hFile)) {
        qr::setError(qr::kErrSystem);
        return false;
    }
    m_nFileSize = nSize;
    m_nFileType = QR_TempFile;
    return true;
}

bool CxFile::InitTempFile() { return qr::writeZeros(m_hFile, m_nFileSize); }

// Closes the last holder's handle; a temporary file is then deleted. The handle is forgotten
// even when closing fails: the system may have released it already, and closing it again could
// hit a handle that was given out anew.
//
// A child made by fork() without exec holds copies of its parent's objects, whose handles reach
// the parent's very open files. A temporary file is the process's that opened it (the opening
// operations record their process, and copies keep it): in any other process Close closes only
// that process's handle and never deletes the file, whether the child closes its copy, destroys
// it or just ends through exit().
bool CxFile::releaseHandle() {
    const bool bClosed = QR_CloseFile(m_hFile);
    m_hFile = qr::sys::kInvalidHandle;
    if (!bClosed) return false;  // a temporary file that is still open is kept
    if (m_nFileType != QR_TempFile || m_nOwnerProcess != qr::sys::currentProcessId()) return true;
    if (!qr::sys::deleteFile(m_szFileName)) {
        qr::setError(qr::kErrSystem);
        return false;
    }
    return true;
}

bool CxFile::Close() {
    if (dropShared()) return true;  // another copy still holds handle and buffer
    bool bOk = true;
    if (qr::sys::isValidHandle(m_hFile)) bOk = releaseHandle();
    if (m_bAttached != 0) return bOk;  // a caller's buffer: nothing freed or reset
    qr::sys::memFree(m_pBuffer);
    m_pBuffer = nullptr;
    m_nReserved = 0;
    return bOk;
}
