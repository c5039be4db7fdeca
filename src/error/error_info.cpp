// Error subsystem: CErrorInfo, the error state and its reporting rules.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "error/error_list.h"
#include "error/error_state.h"
#include "error/notice.h"
#include "platform/platform.h"

namespace {

// Copies at most nCapacity - 1 bytes of szText and terminates.
void copyCut(char* szTarget, std::size_t nCapacity, const char* szText) {
    const std::size_t nLength = std::min(std::strlen(szText), nCapacity - 1);
    std::memcpy(szTarget, szText, nLength);
    szTarget[nLength] = '\0';
}

_tagErrorItem* copyList(const _tagErrorItem* pList, int32_t nCount) {
    if (pList == nullptr || nCount <= 0) return nullptr;
    const std::size_t nBytes = sizeof(_tagErrorItem) * static_cast<std::size_t>(nCount);
    auto* pCopy = static_cast<_tagErrorItem*>(qr::sys::memAlloc(nBytes));
    if (pCopy != nullptr) std::memcpy(pCopy, pList, nBytes);
    return pCopy;
}

}  // namespace

CErrorInfo::CErrorInfo()
    : m_lErrorNo(0), m_bErrorShow(true), m_szErrorInfo{}, m_nErrorCount(0), m_pErrorList(nullptr) {
    // There is never an error state without its list: a failed load ends the process, with a
    // failure status so that no script mistakes a program that never ran for one that did.
    if (!LoadErrorList()) qr::sys::exitProcess(1);
}

CErrorInfo::CErrorInfo(const CErrorInfo& other)
    : m_lErrorNo(other.m_lErrorNo), m_bErrorShow(other.m_bErrorShow), m_szErrorInfo{},
      m_nErrorCount(0), m_pErrorList(copyList(other.m_pErrorList, other.m_nErrorCount)) {
    std::memcpy(m_szErrorInfo, other.m_szErrorInfo, sizeof m_szErrorInfo);
    if (m_pErrorList != nullptr) m_nErrorCount = other.m_nErrorCount;
}

CErrorInfo::~CErrorInfo() {
    m_lErrorNo = 0;
    m_bErrorShow = true;
    m_nErrorCount = 0;
    qr::sys::memFree(m_pErrorList);
    m_pErrorList = nullptr;
}

bool CErrorInfo::LoadErrorList() {
    const std::vector<std::string> candidates =
        qr::errorListCandidates(qr::sys::executablePath(), qr::sys::libraryPath(), QRCORE_DATA_FROM_LIBRARY);
    std::vector<std::string> outcomes;
    std::FILE* pFile = nullptr;
    for (const std::string& sPath : candidates) {
        errno = 0;
        pFile = std::fopen(sPath.c_str(), "r");
        outcomes.emplace_back(pFile != nullptr ? "read" : errno != 0 ? std::strerror(errno) : "cannot be opened");
        if (pFile != nullptr) break;
    }
    qr::ErrorListStatus status = qr::ErrorListStatus::CannotOpen;
    std::vector<_tagErrorItem> items;
    if (pFile != nullptr) {
        status = qr::readErrorList(pFile, items);
        std::fclose(pFile);
    }
    if (status != qr::ErrorListStatus::Ok) {
        qr::showNotice(QR_NoticeError, qr::kErrorCaption,
                       status == qr::ErrorListStatus::CannotOpen ? qr::kListCannotOpen : qr::kListBadFormat);
        // The notice keeps the system's own text; where to look and what to do goes to whoever
        // reads standard error (a developer starting the program from a shell or a build).
        std::fputs(qr::errorListGuidance(candidates, outcomes, status).c_str(), stderr);
        std::fflush(stderr);
        return false;
    }
    // An unreadable entry lowers the count, so an entry that was never read can never match.
    // A list too large to allocate is an empty list.
    m_pErrorList = copyList(items.data(), static_cast<int32_t>(items.size()));
    m_nErrorCount = m_pErrorList != nullptr ? static_cast<int32_t>(items.size()) : 0;
    return true;
}

CErrorInfo& CErrorInfo::operator=(int32_t lErrorNo) {
    m_lErrorNo = lErrorNo;
    if (lErrorNo == 0 || !m_bErrorShow || lErrorNo == qr::kErrRecorded) return *this;

    std::string sText;
    if (lErrorNo == qr::kErrSystem) {
        sText = qr::sys::systemErrorText(qr::sys::lastError());
    } else {
        const char* szText = qr::kUnknownError;
        for (int32_t i = 0; i < m_nErrorCount; ++i) {
            if (m_pErrorList[i].lErrorNo == lErrorNo) {
                szText = m_pErrorList[i].szErrorInfo;
                break;
            }
        }
        sText = szText;
    }
    if (sText.size() > sizeof m_szErrorInfo - 1) sText.resize(sizeof m_szErrorInfo - 1);
    qr::showNotice(QR_NoticeError, qr::kErrorCaption, sText.c_str());
    copyCut(m_szErrorInfo, sizeof m_szErrorInfo, sText.c_str());
    return *this;
}

CErrorInfo& CErrorInfo::operator=(const char* szError) {
    m_lErrorNo = -1;
    if (!m_bErrorShow || szError == nullptr || *szError == '\0') return *this;
    // Shown as given; recorded cut to 255 bytes.
    qr::showNotice(QR_NoticeError, qr::kErrorCaption, szError);
    copyCut(m_szErrorInfo, sizeof m_szErrorInfo, szError);
    return *this;
}

CErrorInfo& CErrorInfo::operator=(const CErrorInfo& other) {
    if (this == &other) return *this;
    m_lErrorNo = other.m_lErrorNo;
    m_bErrorShow = other.m_bErrorShow;
    std::memcpy(m_szErrorInfo, other.m_szErrorInfo, sizeof m_szErrorInfo);
    return *this;
}

int32_t CErrorInfo::GetDllErrorNo() const { return m_lErrorNo; }

void CErrorInfo::GetDllErrorInfo(std::string& sText) const { sText = m_szErrorInfo; }

void CErrorInfo::SetErrorShow(bool bShow) { m_bErrorShow = bShow; }
