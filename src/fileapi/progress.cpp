// Raw file-handle API: the process-wide progress hook and the rate-bounded reporter.
#include "fileapi/progress.h"

#include <algorithm>
#include <mutex>

namespace {
std::mutex g_hookMutex;
QR_ProgressHook g_pfnHook = nullptr;
void* g_pHookContext = nullptr;

// Reports between the first and the last are spaced by at least a 64th of the total.
constexpr int64_t kMaxReports = 64;
}  // namespace

extern "C" QR_API QR_ProgressHook QR_CALL QR_SetProgressHook(QR_ProgressHook pfnHook, void* pContext) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    QR_ProgressHook pfnPrevious = g_pfnHook;
    g_pfnHook = pfnHook;
    g_pHookContext = pfnHook != nullptr ? pContext : nullptr;
    return pfnPrevious;
}

namespace qr {

ProgressReport::ProgressReport(int64_t llTotal) {
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        m_pfnHook = g_pfnHook;
        m_pContext = g_pHookContext;
    }
    if (llTotal <= 0) m_pfnHook = nullptr;
    if (m_pfnHook == nullptr) return;
    m_llTotal = llTotal;
    m_llStep = std::max<int64_t>(1, (llTotal + kMaxReports - 1) / kMaxReports);
    m_llNext = m_llStep;
    report();
}

void ProgressReport::advance(int64_t llBytes) {
    if (m_pfnHook == nullptr || llBytes <= 0) return;
    m_llDone = std::min(m_llTotal, m_llDone + std::min(llBytes, m_llTotal));
    // The last report belongs to finish(), which only a successful operation reaches.
    if (m_llDone >= m_llNext && m_llDone < m_llTotal) {
        report();
        m_llNext = m_llDone + m_llStep;
    }
}

void ProgressReport::finish() {
    if (m_pfnHook == nullptr || m_bFinished) return;
    m_bFinished = true;
    m_llDone = m_llTotal;
    report();
}

void ProgressReport::report() { m_pfnHook(m_llDone, m_llTotal, m_pContext); }

}  // namespace qr
