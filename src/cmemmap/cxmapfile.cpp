// Memory-mapped files: CxMapFile, its named mapping objects, its views and the view list.
// Reaches files through the raw file functions and everything else through the platform layer.
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "error/error_state.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "qrcore/mapfile.h"

// Debug builds check the callers' preconditions and trace why a mapping was not made, naming this
// source unit and the line; release builds do neither.
#ifndef NDEBUG
#define QR_MAPFILE_ASSERT(expr) ((expr) ? static_cast<void>(0) : qr::mapfileAssertFailed(#expr, __LINE__))
#define QR_MAPFILE_TRACE(text) qr::mapfileTrace(text, __LINE__)
#else
#define QR_MAPFILE_ASSERT(expr) static_cast<void>(0)
#define QR_MAPFILE_TRACE(text) static_cast<void>(0)
#endif

namespace qr {

#ifndef NDEBUG
[[noreturn]] void mapfileAssertFailed(const char* szExpr, int nLine) {
    std::fprintf(stderr, "cmemmap\\cxmapfile(%d): assertion failed: %s\n", nLine, szExpr);
    std::fflush(stderr);
    std::abort();
}

void mapfileTrace(const char* szText, int nLine) {
    std::fprintf(stderr, "cmemmap\\cxmapfile(%d): %s", nLine, szText);
    std::fflush(stderr);
}
#endif

namespace {

constexpr _tagMemView kEmptyView = {-1, 0, 0, 0, nullptr, nullptr, false};

// How often a random name is drawn again when the one drawn is taken; random mapping names lie in
// 0 to 32767, so running out means that thousands of them are alive.
constexpr int kRandomNameRounds = 256;
// Mutex numbers above the drawn range, handed out when drawing keeps meeting taken names.
std::atomic<int32_t> g_nNextMutexNumber{32768};

constexpr std::size_t kNameCapacity = 256;  // m_szFileName, m_szMappingName

// Copies sText into a 256-byte name member; false (nothing copied) when it does not fit.
bool storeName(char* szTarget, const std::string& sText) {
    if (sText.size() >= kNameCapacity) return false;
    std::memcpy(szTarget, sText.c_str(), sText.size() + 1);
    return true;
}

// "<szStem><nNumber>.mpf", the text of the random names.
std::string formatNumbered(const char* szStem, int32_t nNumber) {
    char szText[64];
    std::snprintf(szText, sizeof szText, "%s%d.mpf", szStem, static_cast<int>(nNumber));
    return szText;
}

void* offsetAddress(void* pBase, int32_t lDelta) {
    if (pBase == nullptr) return nullptr;
    return static_cast<char*>(pBase) + lDelta;
}

// Copies nLength bytes between two views that may show overlapping ranges of one file at
// different addresses, with the result of a copy through a buffer: the copy runs away from the
// overlap in pieces no longer than the distance of the two ranges, so no piece reads what an
// earlier piece wrote. Memory stays bounded.
void copyBetweenViews(char* pDst, int64_t llDstOffset, const char* pSrc, int64_t llSrcOffset, std::size_t nLength) {
    if (pDst == pSrc && llDstOffset == llSrcOffset) return;
    const int64_t llDistance = llDstOffset > llSrcOffset ? llDstOffset - llSrcOffset : llSrcOffset - llDstOffset;
    if (llDistance == 0) return;  // the same bytes of the same file
    constexpr std::size_t kPiece = 1u << 20;
    const std::size_t nPiece = static_cast<uint64_t>(llDistance) < kPiece ? static_cast<std::size_t>(llDistance) : kPiece;
    if (llDstOffset > llSrcOffset) {
        std::size_t nEnd = nLength;
        while (nEnd > 0) {
            const std::size_t n = nEnd < nPiece ? nEnd : nPiece;
            nEnd -= n;
            std::memmove(pDst + nEnd, pSrc + nEnd, n);
        }
    } else {
        for (std::size_t nDone = 0; nDone < nLength;) {
            const std::size_t n = nLength - nDone < nPiece ? nLength - nDone : nPiece;
            std::memmove(pDst + nDone, pSrc + nDone, n);
            nDone += n;
        }
    }
}

}  // namespace
}  // namespace qr

using qr::kErrSystem;

CxMapFile::CxMapFile() { Initialize(); }

CxMapFile::CxMapFile(const char* szFileName) {
    Initialize();
    MapFile(szFileName, false, false, false);
}

CxMapFile::CxMapFile(void* hFile) {
    Initialize();
    MapHandle(hFile, false, false);
}

CxMapFile::~CxMapFile() { UnMap(); }

void CxMapFile::Initialize() {
    m_szFileName[0] = '\0';
    m_szMappingName[0] = '\0';
    m_bAppendNull = false;
    m_bReadOnly = false;
    m_hFile = qr::sys::kInvalidHandle;
    m_hFileMapping = qr::sys::kInvalidHandle;
    m_nMappingSize = 0;
    m_CurrentView = qr::kEmptyView;
    m_pViewList = nullptr;
}

void CxMapFile::WaitMoment(double dSeconds) {
    // Truncation toward zero into the 32-bit tick range; what does not fit is held to its edge.
    const double dTicks = dSeconds * 1000.0;
    int32_t nTicks = 0;
    if (std::isnan(dTicks)) {
        nTicks = 0;
    } else if (dTicks >= 2147483647.0) {
        nTicks = std::numeric_limits<int32_t>::max();
    } else if (dTicks <= -2147483648.0) {
        nTicks = std::numeric_limits<int32_t>::min();
    } else {
        nTicks = static_cast<int32_t>(dTicks);
    }
    const int64_t llTarget = qr::sys::clockMilliseconds() + nTicks;
    while (qr::sys::clockMilliseconds() < llTarget) {
    }
}

std::string CxMapFile::CreateMappingName(const char* szName, bool bRandom) {
    std::string sName;
    if (szName == nullptr && bRandom) {
        // Drawn from the library's own generator: the caller's rand() sequence is left alone, and
        // no clock tick is spent on seeding.
        sName = qr::formatNumbered("MappingName", static_cast<int32_t>(qr::sys::randomBelow(32768)));
    } else if (szName != nullptr) {
        sName = szName;
    }
    // Byte by byte, so a 0x5C that is the second byte of a double-byte character goes too.
    for (char& ch : sName)
        if (ch == '\\') ch = '_';
    return sName;
}

std::string CxMapFile::CreateMutexName() {
    return std::string(m_szMappingName) + "_Mutex_" +
           qr::formatNumbered("MutexName", static_cast<int32_t>(qr::sys::randomBelow(32768)));
}

void* CxMapFile::OpenFile(const char* szFileName, bool bAppendNull, bool bReadOnly, bool bSparse) {
    m_bAppendNull = bAppendNull;
    m_bReadOnly = bReadOnly;
    if (szFileName != nullptr && std::strlen(szFileName) >= qr::kNameCapacity) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return nullptr;
    }
    if (!QR_OpenFile(&m_hFile, szFileName, bReadOnly ? 1u : 3u)) return nullptr;
    if (bSparse && !qr::sys::markFileSparse(m_hFile)) {
        qr::setError(kErrSystem);
        return m_hFile;
    }
    qr::storeName(m_szFileName, szFileName != nullptr ? szFileName : "");
    return m_hFile;
}

bool CxMapFile::MapFile(const char* szFileName, bool bAppendNull, bool bReadOnly, bool bSparse) {
    if (bAppendNull && bReadOnly) {
        // Refused before the file is opened.
        m_bAppendNull = bAppendNull;
        m_bReadOnly = bReadOnly;
        return RefuseAppendNullReadOnly();
    }
    if (OpenFile(szFileName, bAppendNull, bReadOnly, bSparse) == nullptr) return false;
    return CreateMapping(0);
}

bool CxMapFile::MapHandle(void* hFile, bool bAppendNull, bool bReadOnly) {
    m_hFile = hFile;
    m_bAppendNull = bAppendNull;
    m_bReadOnly = bReadOnly;
    return CreateMapping(0);
}

bool CxMapFile::MapMemory(int64_t llSize, bool bAppendNull, bool bReadOnly, const char* szName) {
    QR_MAPFILE_ASSERT(llSize > 0);
    const std::string sName = CreateMappingName(szName, true);
    if (sName.size() >= qr::kNameCapacity) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        return false;
    }
    m_bAppendNull = bAppendNull;
    m_bReadOnly = bReadOnly;
    m_hFile = qr::sys::kInvalidHandle;
    qr::storeName(m_szMappingName, sName);
    return CreateMappingObject(llSize, szName == nullptr);
}

bool CxMapFile::CreateMapping(int64_t llSize) {
    QR_MAPFILE_ASSERT(llSize >= 0);
    return CreateMappingObject(llSize, false);
}

bool CxMapFile::RefuseAppendNullReadOnly() {
    // The two terminator bytes lie beyond the data: a read-only mapping can neither grow a file
    // to hold them nor write them.
    qr::setSystemError(qr::sys::kErrorInvalidArgument);
    return false;
}

bool CxMapFile::CreateMappingObject(int64_t llSize, bool bRandomName) {
    if (llSize < 0) {
        m_hFileMapping = nullptr;
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        return false;
    }
    bool bRandom = bRandomName;
    if (m_hFile != qr::sys::kInvalidHandle) {
        int64_t llFileSize = 0;
        if (!qr::sys::getFileSize(m_hFile, &llFileSize)) {
            qr::setError(kErrSystem);
            UnMap();
            return false;
        }
        if (llFileSize == 0) {
            QR_MAPFILE_TRACE("File size is 0, not attempting to memory map the file\n");
            UnMap();
            return false;
        }
        m_nMappingSize = llSize != 0 ? llSize : llFileSize;
        if (m_szFileName[0] != '\0') {
            qr::storeName(m_szMappingName, CreateMappingName(m_szFileName, false));
            bRandom = false;
        } else {
            qr::storeName(m_szMappingName, CreateMappingName(nullptr, true));
            bRandom = true;
        }
    } else {
        m_nMappingSize = llSize;
    }
    if (m_bAppendNull) m_nMappingSize = m_nMappingSize <= INT64_MAX - 2 ? m_nMappingSize + 2 : m_nMappingSize;

    if (m_bAppendNull && m_bReadOnly) {
        m_hFileMapping = nullptr;
        return RefuseAppendNullReadOnly();
    }
    const uint32_t nProtect = m_bReadOnly ? qr::sys::kPageReadOnly : qr::sys::kPageReadWrite;
    // A random name is made exclusively: when it is taken, another is drawn. The object records
    // append-null mode, so that no later creator writes terminators into an object not made for
    // them.
    const uint32_t nFlags = (bRandom ? qr::sys::kMapCreateExclusive : 0u) |
                            (m_bAppendNull ? qr::sys::kMapCreateAppendNull : 0u);
    bool bExisted = false;
    for (int nRound = 0; nRound < qr::kRandomNameRounds; ++nRound) {
        if (bRandom && nRound > 0) qr::storeName(m_szMappingName, CreateMappingName(nullptr, true));
        m_hFileMapping = qr::sys::createFileMapping(m_hFile, nProtect, m_nMappingSize, m_szMappingName, true, nFlags,
                                                    &bExisted);
        if (m_hFileMapping != nullptr) break;
        if (!bRandom || qr::sys::lastError() != qr::sys::kErrorAlreadyExists) break;
    }
    if (m_hFileMapping == nullptr) {
        qr::setError(kErrSystem);
        return false;
    }
    // An object that existed keeps its own size: views are cut against that, never against the
    // size this caller asked for. A new object has the size asked for (some systems keep page-file
    // objects in whole pages and would report more than its data).
    if (!bExisted) return true;
    const int64_t llObjectSize = qr::sys::fileMappingSize(m_hFileMapping);
    if (llObjectSize < 0) {
        qr::setError(kErrSystem);
        qr::sys::closeFileMapping(m_hFileMapping);
        m_hFileMapping = nullptr;
        return false;
    }
    m_nMappingSize = llObjectSize;
    return true;
}

bool CxMapFile::OpenMapping(const char* szName, bool bReadOnly) {
    m_bAppendNull = false;
    m_bReadOnly = bReadOnly;
    const std::string sName = CreateMappingName(szName, false);
    if (!qr::storeName(m_szMappingName, sName)) {
        qr::setSystemError(qr::sys::kErrorNameTooLong);
        UnMap();
        return false;
    }
    m_hFileMapping = qr::sys::openFileMapping(bReadOnly ? qr::sys::kMapRead : qr::sys::kMapWrite, false, m_szMappingName);
    if (m_hFileMapping == nullptr) {
        qr::setError(kErrSystem);
        UnMap();
        return false;
    }
    // The opener learns the size of what it opened, so its views are cut against the real end.
    const int64_t llSize = qr::sys::fileMappingSize(m_hFileMapping);
    if (llSize < 0) {
        qr::setError(kErrSystem);
        UnMap();
        return false;
    }
    m_nMappingSize = llSize;
    return true;
}

void CxMapFile::UnMap() {
    if (m_hFileMapping != nullptr && m_hFileMapping != qr::sys::kInvalidHandle)
        qr::sys::closeFileMapping(m_hFileMapping);
    m_hFileMapping = nullptr;
    if (m_hFile != qr::sys::kInvalidHandle) {
        qr::sys::closeHandle(m_hFile);
        m_hFile = qr::sys::kInvalidHandle;
    }
    m_bReadOnly = true;
    m_szMappingName[0] = '\0';
}

std::string CxMapFile::GetFileName() { return m_szFileName; }
std::string CxMapFile::GetMappingName() { return m_szMappingName; }
void* CxMapFile::GetFileHandle() const { return m_hFile; }
void* CxMapFile::GetFileMappingHandle() const { return m_hFileMapping; }
int64_t CxMapFile::GetMappingSize() const { return m_nMappingSize; }
int64_t CxMapFile::GetMapViewStart() const { return m_CurrentView.llOffset; }
bool CxMapFile::GetReadOlny() const { return m_bReadOnly; }
bool CxMapFile::GetAppendNull() const { return m_bAppendNull; }

void CxMapFile::AdjustViewParam(int64_t& llOffset, int32_t& lSize) {
    const int64_t llGranularity = qr::sys::allocationGranularity();
    // Aligned down also below 0 (a broken request then fails to map rather than handing out an
    // address before the view).
    int64_t llInGranule = llOffset % llGranularity;
    if (llInGranule < 0) llInGranule += llGranularity;
    const int64_t llAligned = llOffset - llInGranule;
    const int64_t llDataEnd = m_bAppendNull ? m_nMappingSize - 2 : m_nMappingSize;
    // Counted in 64 bits and compared without overflow, so that a length near the 32-bit limit
    // is cut at the data end instead of wrapping; a length that still does not fit becomes -1,
    // which no view can be mapped with.
    int64_t llSize = llInGranule + lSize;
    if (llAligned >= 0 && llSize > llDataEnd - llAligned) llSize = llDataEnd - llAligned;
    llOffset = llAligned;
    lSize = llSize >= INT32_MIN && llSize <= INT32_MAX ? static_cast<int32_t>(llSize) : -1;
}

void* CxMapFile::MapView(_tagMemView& view) {
    QR_MAPFILE_ASSERT(view.llOffset >= 0 && view.lSize > 0);
    return MapViewRecord(view);
}

void* CxMapFile::MapViewRecord(_tagMemView& view) {
    UnMapView(view);
    const int64_t llRequested = view.llOffset;
    AdjustViewParam(view.llOffset, view.lSize);
    view.lDelta = static_cast<int32_t>(llRequested - view.llOffset);
    if (view.lSize < 0) {
        qr::setSystemError(qr::sys::kErrorInvalidArgument);
        UnMap();
        return nullptr;
    }
    const std::size_t nLength = static_cast<std::size_t>(view.lSize) + (m_bAppendNull ? 2u : 0u);
    view.pBase = qr::sys::mapViewOfFile(m_hFileMapping, m_bReadOnly ? qr::sys::kMapRead : qr::sys::kMapWrite,
                                        view.llOffset, nLength);
    if (view.pBase == nullptr) {
        qr::setError(kErrSystem);
        UnMap();
        return nullptr;
    }
    // Only a view that reaches the end of the data gets the two zero bytes: they are then the
    // mapping's own two extra bytes. Earlier views end inside the data, which stays untouched.
    const int64_t llDataEnd = m_nMappingSize - 2;
    if (m_bAppendNull && !m_bReadOnly && view.lSize > 0 && view.llOffset + view.lSize == llDataEnd) {
        static_cast<char*>(view.pBase)[view.lSize] = '\0';
        static_cast<char*>(view.pBase)[view.lSize + 1] = '\0';
    }
    view.bOpened = true;
    // The name is unique within the process: a name drawn twice is drawn again.
    for (int nRound = 0; nRound < qr::kRandomNameRounds + 1; ++nRound) {
        std::string sName = CreateMutexName();
        if (nRound == qr::kRandomNameRounds)
            sName = std::string(m_szMappingName) + "_Mutex_" +
                    qr::formatNumbered("MutexName", qr::g_nNextMutexNumber.fetch_add(1));
        bool bExisted = false;
        view.hMutex = qr::sys::createMutex(false, sName.c_str(), &bExisted);
        if (view.hMutex == nullptr || !bExisted) break;
        qr::sys::closeMutex(view.hMutex);
        view.hMutex = nullptr;
    }
    m_CurrentView = view;
    return qr::offsetAddress(view.pBase, view.lDelta);
}

void CxMapFile::UnMapView(_tagMemView& view) {
    void* const pBase = view.pBase;
    void* const hMutex = view.hMutex;
    uint32_t nFlushError = 0;
    if (pBase != nullptr) {
        // A failed flush may mean lost data: it is reported, and the view is unmapped all the same.
        // A read-only object's views never wrote a byte: they have nothing to flush.
        if (!m_bReadOnly && !qr::sys::flushViewOfFile(pBase, view.lSize > 0 ? static_cast<std::size_t>(view.lSize) : 0u))
            nFlushError = qr::sys::lastError();
        qr::sys::unmapViewOfFile(pBase);
        view.pBase = nullptr;
        if (m_CurrentView.pBase == pBase) m_CurrentView = qr::kEmptyView;
    }
    if (hMutex != nullptr) {
        qr::sys::closeMutex(hMutex);
        view.hMutex = nullptr;
    }
    if (nFlushError != 0) qr::setSystemError(nFlushError);
}

bool CxMapFile::Flush(_tagMemView& view) {
    if (view.pBase == nullptr) return false;
    return qr::sys::flushViewOfFile(view.pBase, view.lSize > 0 ? static_cast<std::size_t>(view.lSize) : 0u);
}

void* CxMapFile::OpenView(_tagMemView& view, int32_t nTimeOut) {
    if (view.pBase == nullptr) return nullptr;
    if (m_bReadOnly) {
        view.bOpened = true;
        return view.pBase;
    }
    const uint32_t nWait = nTimeOut < 0 ? qr::sys::kInfinite : static_cast<uint32_t>(nTimeOut);
    const uint32_t nResult = qr::sys::waitForSingleObject(view.hMutex, nWait);
    if (nResult == qr::sys::kWaitObject0) {
        view.bOpened = true;
        return view.pBase;
    }
    // An abandoned mutex came with its ownership; give it back, or no one could hold the view
    // again while this thread lives.
    if (nResult == qr::sys::kWaitAbandoned) qr::sys::releaseMutex(view.hMutex);
    return nullptr;
}

bool CxMapFile::CloseView(_tagMemView& view) {
    if (!view.bOpened) return false;
    view.bOpened = false;
    qr::sys::releaseMutex(view.hMutex);
    return true;
}

_tagMemView* CxMapFile::FindView(int32_t lViewID, _tagMemViewList** ppPrev) {
    _tagMemViewList* pPrev = nullptr;
    for (_tagMemViewList* pNode = m_pViewList; pNode != nullptr; pNode = pNode->pNext) {
        if (pNode->MemView.lViewID == lViewID) {
            if (ppPrev != nullptr) *ppPrev = pPrev;
            return &pNode->MemView;
        }
        pPrev = pNode;
    }
    if (ppPrev != nullptr) *ppPrev = pPrev;
    return nullptr;
}

bool CxMapFile::SetView(int32_t lViewID, int64_t llOffset, int32_t lSize) {
    QR_MAPFILE_ASSERT(lViewID >= 0 && llOffset >= 0 && lSize > 0);
    _tagMemViewList* pLast = nullptr;
    if (FindView(lViewID, &pLast) != nullptr) return false;
    auto* pNode = static_cast<_tagMemViewList*>(qr::sys::memAlloc(sizeof(_tagMemViewList)));
    if (pNode == nullptr) {
        qr::setError(kErrSystem);
        return false;
    }
    pNode->MemView = qr::kEmptyView;
    pNode->pNext = nullptr;
    (pLast != nullptr ? pLast->pNext : m_pViewList) = pNode;
    pNode->MemView.lViewID = lViewID;
    pNode->MemView.llOffset = llOffset;
    pNode->MemView.lSize = lSize;
    AdjustViewParam(pNode->MemView.llOffset, pNode->MemView.lSize);
    if (MapViewRecord(pNode->MemView) == nullptr) {
        // A view that cannot be mapped is not kept: the caller learns of the failure now, not at
        // the first use of the id.
        (pLast != nullptr ? pLast->pNext : m_pViewList) = nullptr;
        qr::sys::memFree(pNode);
        return false;
    }
    return true;
}

void* CxMapFile::UseView(int32_t lViewID) {
    if (lViewID == m_CurrentView.lViewID) return qr::offsetAddress(m_CurrentView.pBase, m_CurrentView.lDelta);
    _tagMemView* pView = FindView(lViewID, nullptr);
    if (pView == nullptr) return nullptr;
    if (pView->pBase != nullptr) return qr::offsetAddress(pView->pBase, pView->lDelta);
    MapViewRecord(*pView);
    m_CurrentView = *pView;
    return qr::offsetAddress(pView->pBase, pView->lDelta);
}

_tagMemView* CxMapFile::GetView(int32_t lViewID) { return FindView(lViewID, nullptr); }

void CxMapFile::FreeView(int32_t lViewID) {
    _tagMemViewList* pPrev = nullptr;
    _tagMemView* pView = FindView(lViewID, &pPrev);
    if (pView == nullptr) return;
    const bool bCurrent = lViewID == m_CurrentView.lViewID;
    if (pView->pBase != nullptr) UnMapView(*pView);
    _tagMemViewList* pNode = pPrev != nullptr ? pPrev->pNext : m_pViewList;
    (pPrev != nullptr ? pPrev->pNext : m_pViewList) = pNode->pNext;
    qr::sys::memFree(pNode);
    if (bCurrent) {
        m_CurrentView = qr::kEmptyView;
        _tagMemViewList* pNeighbour = pPrev != nullptr ? pPrev : m_pViewList;
        if (pNeighbour != nullptr) MapViewRecord(pNeighbour->MemView);
    }
}

void CxMapFile::FreeView() {
    _tagMemViewList* pNode = m_pViewList;
    while (pNode != nullptr) {
        _tagMemViewList* pNext = pNode->pNext;
        UnMapView(pNode->MemView);
        qr::sys::memFree(pNode);
        pNode = pNext;
    }
    m_pViewList = nullptr;
    m_CurrentView = qr::kEmptyView;
}

void CxMapFile::ViewCopy(int32_t lDestID, int32_t lSrcID) {
    if (FindView(lSrcID, nullptr) == nullptr || FindView(lDestID, nullptr) == nullptr) return;
    const _tagMemView saved = m_CurrentView;
    void* pSrc = UseView(lSrcID);
    void* pDst = UseView(lDestID);
    const _tagMemView* pSrcView = FindView(lSrcID, nullptr);
    const _tagMemView* pDstView = FindView(lDestID, nullptr);
    if (pSrc != nullptr && pDst != nullptr && pSrcView != nullptr && pDstView != nullptr) {
        const int32_t lLength = pSrcView->lSize < pDstView->lSize ? pSrcView->lSize : pDstView->lSize;
        if (lLength > 0)
            qr::copyBetweenViews(static_cast<char*>(pDst), pDstView->llOffset + pDstView->lDelta,
                                 static_cast<const char*>(pSrc), pSrcView->llOffset + pSrcView->lDelta,
                                 static_cast<std::size_t>(lLength));
    }
    m_CurrentView = saved;
    FreeView(lSrcID);
    FreeView(lDestID);
}
