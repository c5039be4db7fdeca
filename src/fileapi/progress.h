// Raw file-handle API: progress reports of the long space operations to the host's hook.
#pragma once

#include <cstdint>

#include "qrcore/fileapi.h"

namespace qr {

// One operation's progress. Takes the hook installed at construction and reports (0, total)
// at once; advance() reports at most 64 times more in between; finish() reports (total, total)
// once. Nothing is reported when no hook is installed or llTotal is not above 0.
class ProgressReport {
public:
    explicit ProgressReport(int64_t llTotal);
    ProgressReport(const ProgressReport&) = delete;
    ProgressReport& operator=(const ProgressReport&) = delete;

    void advance(int64_t llBytes);
    void finish();

private:
    void report();

    QR_ProgressHook m_pfnHook = nullptr;
    void* m_pContext = nullptr;
    int64_t m_llTotal = 0;
    int64_t m_llDone = 0;
    int64_t m_llStep = 0;
    int64_t m_llNext = 0;
    bool m_bFinished = false;
};

}  // namespace qr
