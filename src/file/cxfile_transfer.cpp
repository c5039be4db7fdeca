// File objects: CxFile's transfers, seeks and queries, branching on the kind, and the growth
// of a memory file's buffer.
#include <cstring>
#include <limits>

#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"

// Memory growth. The capacity the object shows (m_nBufferSize) grows in whole steps of 4096
// bytes above the old capacity. Growing the block itself by 4096 bytes each time would copy the
// data once per step, quadratic in the file's length, so the block is reserved half as large
// again as before (m_nReserved) and the visible capacity moves on inside it. Bytes from
// m_nFileSize up to m_nBufferSize are kept zero: new capacity is zeroed as it becomes visible,
// so a memory file never shows stale heap contents.

namespace {
constexpr int64_t kGrowStep = 4096;
constexpr int64_t kPutCAhead = 1024;
constexpr int64_t kMaxPos = std::numeric_limits<int64_t>::max();
// A block must be addressable; a size beyond this cannot be allocated anyway.
constexpr int64_t kMaxBlock = std::numeric_limits<std::ptrdiff_t>::max() / 2;
}  // namespace

// Makes the visible capacity at least llSize (> m_nBufferSize). False, with buffer, data and
// capacity unchanged, when the buffer is a caller's or no memory is left.
bool CxFile::growTo(int64_t llSize) {
    if (m_bAttached != 0) return false;  // a caller's buffer is never reallocated
    const int64_t llOld = m_nBufferSize > 0 ? m_nBufferSize : 0;
    if (llSize > kMaxBlock) return false;
    const int64_t llSteps = (llSize - m_nBufferSize + kGrowStep - 1) / kGrowStep;
    const int64_t llNew = m_nBufferSize + llSteps * kGrowStep;
    if (m_pBuffer == nullptr) {
        // A fresh block: everything below the capacity reads as zero, the old length included.
        void* pBlock = qr::sys::memAllocZeroed(static_cast<std::size_t>(llNew));
        if (pBlock == nullptr) return false;
        m_pBuffer = static_cast<unsigned char*>(pBlock);
        m_nReserved = llNew;
    } else {
        if (llNew > m_nReserved) {
            int64_t llReserve = m_nReserved + m_nReserved / 2;
            if (llReserve < llNew || llReserve > kMaxBlock) llReserve = llNew;
            void* pBlock = qr::sys::memRealloc(m_pBuffer, static_cast<std::size_t>(llReserve));
            if (pBlock == nullptr && llReserve > llNew) {
                llReserve = llNew;  // the exact size may still be had
                pBlock = qr::sys::memRealloc(m_pBuffer, static_cast<std::size_t>(llReserve));
            }
            if (pBlock == nullptr) return false;
            m_pBuffer = static_cast<unsigned char*>(pBlock);
            m_nReserved = llReserve;
        }
        std::memset(m_pBuffer + llOld, 0, static_cast<std::size_t>(llNew - llOld));
    }
    m_nBufferSize = llNew;
    publishBuffer();
    return true;
}

// Hands buffer, capacity and length on to the copies that share this memory file.
void CxFile::publishBuffer() {
    for (CxFile* pPeer = m_pShareNext; pPeer != this; pPeer = pPeer->m_pShareNext) {
        pPeer->m_pBuffer = m_pBuffer;
        pPeer->m_nBufferSize = m_nBufferSize;
        pPeer->m_nFileSize = m_nFileSize;
        pPeer->m_nReserved = m_nReserved;
    }
}

unsigned char* CxFile::Alloc(uint32_t nSize) {
    if (nSize <= m_nBufferSize) return m_pBuffer;
    return growTo(nSize) ? m_pBuffer : nullptr;
}

bool CxFile::SeekToBegin() {
    switch (m_nFileType) {
    case QR_MemFile:
        if (m_pBuffer == nullptr) return false;
        m_nPos = 0;
        return true;
    case QR_DiskFile:
    case QR_TempFile:
        return QR_SeekToBegin(m_hFile);
    }
    return true;
}

bool CxFile::Seek(int64_t nOffset, uint32_t nOrigin) {
    switch (m_nFileType) {
    case QR_MemFile: {
        if (m_pBuffer == nullptr) return false;
        int64_t llBase = 0;
        if (nOrigin == 1) {
            llBase = m_nPos;
        } else if (nOrigin == 2) {
            llBase = m_nFileSize;
        } else if (nOrigin != 0) {
            return false;
        }
        // Bases are never negative, so only a sum beyond 63 bits can overflow.
        if (nOffset > 0 && llBase > kMaxPos - nOffset) return false;
        const int64_t llNew = llBase + nOffset;
        m_nPos = llNew < 0 ? 0 : llNew;
        return true;
    }
    case QR_DiskFile:
    case QR_TempFile:
        return QR_Seek(m_hFile, nOffset, nOrigin);
    }
    return true;
}

uint32_t CxFile::Read(void* pBuffer, uint32_t nCount) {
    switch (m_nFileType) {
    case QR_MemFile: {
        if (m_pBuffer == nullptr || pBuffer == nullptr || m_nPos > m_nFileSize || nCount == 0) return 0;
        const int64_t llLeft = m_nFileSize - m_nPos;
        const uint32_t nRead = llLeft < nCount ? static_cast<uint32_t>(llLeft) : nCount;
        std::memcpy(pBuffer, m_pBuffer + m_nPos, nRead);
        m_nPos += nRead;
        return nRead;
    }
    case QR_DiskFile:
    case QR_TempFile:
        return QR_Read(m_hFile, pBuffer, nCount);
    }
    return 0;
}

uint32_t CxFile::Write(const void* pBuffer, uint32_t nCount) {
    switch (m_nFileType) {
    case QR_MemFile: {
        if (m_pBuffer == nullptr || pBuffer == nullptr || nCount == 0) return 0;
        if (m_nPos > kMaxPos - nCount) return 0;
        int64_t llEnd = m_nPos + nCount;
        if (llEnd > m_nBufferSize) {
            if (m_bAttached != 0) {
                // Only what fits in the caller's buffer.
                if (m_nPos >= m_nBufferSize) return 0;
                llEnd = m_nBufferSize;
            } else if (!growTo(llEnd)) {
                return 0;
            }
        }
        const uint32_t nWritten = static_cast<uint32_t>(llEnd - m_nPos);
        std::memcpy(m_pBuffer + m_nPos, pBuffer, nWritten);
        m_nPos = llEnd;
        if (llEnd > m_nFileSize) {
            m_nFileSize = llEnd;
            if (m_pShareNext != this) publishBuffer();
        }
        return nWritten;
    }
    case QR_DiskFile:
    case QR_TempFile:
        return QR_Write(m_hFile, pBuffer, nCount);
    }
    return 0;
}

// The common case, a memory file with room left that shares with no copy, is kept to a few
// loads and stores without calls: byte-wise writers call this hundreds of millions of times.
bool CxFile::PutC(unsigned char cByte) {
    unsigned char* pBuffer = m_pBuffer;
    const int64_t llPos = m_nPos;
    if (m_nFileType == QR_MemFile && pBuffer != nullptr && llPos < m_nBufferSize && m_pShareNext == this)
        [[likely]] {
        const int64_t llNext = llPos + 1;
        m_nPos = llNext;
        if (llNext > m_nFileSize) m_nFileSize = llNext;
        pBuffer[llPos] = cByte;  // last: a byte store may alias the fields above
        return true;
    }
    return putSlow(cByte);
}

bool CxFile::putSlow(unsigned char cByte) {
    if (m_nFileType == QR_MemFile) {
        if (m_pBuffer == nullptr) return false;
        if (m_nPos >= m_nBufferSize) {
            // At or beyond the capacity: ask for 1024 bytes beyond the position.
            if (m_nPos > kMaxPos - kPutCAhead || !growTo(m_nPos + kPutCAhead)) return false;
        }
        m_pBuffer[m_nPos++] = cByte;
        if (m_nPos > m_nFileSize) {
            m_nFileSize = m_nPos;
            if (m_pShareNext != this) publishBuffer();
        }
        return true;
    }
    if (m_nFileType == QR_DiskFile || m_nFileType == QR_TempFile) return Write(&cByte, 1) != 0;
    return true;
}

unsigned char CxFile::GetC() {
    if (m_nFileType == QR_MemFile && m_pBuffer == nullptr) return 0;
    unsigned char cByte = 0;
    return Read(&cByte, 1) == 1 ? cByte : 0;
}

int64_t CxFile::GetPos() {
    switch (m_nFileType) {
    case QR_MemFile:
        return m_pBuffer == nullptr ? -1 : m_nPos;
    case QR_DiskFile:
    case QR_TempFile: {
        int64_t llPos = 0;
        if (!qr::sys::setFilePointer(m_hFile, 0, qr::sys::kSeekCurrent, &llPos)) {
            qr::setError(qr::kErrSystem);
            return 0;
        }
        return llPos;
    }
    }
    return 0;
}

int64_t CxFile::GetFileSize() {
    switch (m_nFileType) {
    case QR_MemFile:
        return m_nFileSize;
    case QR_DiskFile:
    case QR_TempFile: {
        int64_t llSize = 0;
        if (!qr::sys::getFileSize(m_hFile, &llSize)) return -1;
        m_nFileSize = llSize;
        return llSize;
    }
    }
    return 0;
}

int32_t CxFile::Flush() {
    if (m_nFileType == QR_DiskFile || m_nFileType == QR_TempFile)
        return qr::sys::flushFileBuffers(m_hFile) ? 1 : 0;
    return 0;
}

bool CxFile::Eof() {
    switch (m_nFileType) {
    case QR_MemFile:
        return m_pBuffer == nullptr || m_nPos >= m_nFileSize;
    case QR_DiskFile:
    case QR_TempFile:
        return GetPos() >= GetFileSize();
    }
    return false;
}
