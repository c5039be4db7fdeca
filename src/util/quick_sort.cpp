// Utilities: the in-place sort of table rows on two absolute-value keys (QuickSort).
//
// The rows are reached through the caller's row pointers, which never move: a row move is an
// exchange of its first nColumns values. The sort itself is in row_sort_engine.h.
#include <cstddef>

#include "qrcore/util.h"
#include "util/abs64.h"
#include "util/row_sort.h"
#include "util/row_sort_engine.h"

namespace {

using qr::rowsort::Index;
using qr::rowsort::Keys;

// The rows under sort. kColumns > 0 fixes the count of values exchanged at compile time (the
// common narrow tables); 0 takes it from nColumns.
template <int kColumns>
class Rows {
public:
    Rows(int64_t** ppRows, Index nKey, Index nKey2, Index nColumns)
        : m_ppRows(ppRows), m_nKey(nKey), m_nKey2(nKey2), m_nColumns(kColumns > 0 ? kColumns : nColumns) {}

    Keys keys(Index i) const {
        const int64_t* pRow = m_ppRows[i];
        return {qr::abs64(pRow[m_nKey]), qr::abs64(pRow[m_nKey2])};
    }

    // a sorts before b. Written without short-circuit so that it compiles without branches.
    static bool before(const Keys& a, const Keys& b) {
        return (a.llKey < b.llKey) | ((a.llKey == b.llKey) & (a.llKey2 < b.llKey2));
    }

    bool less(Index i, Index j) const { return before(keys(i), keys(j)); }

    // Exchanges the first nColumns values of rows i and j.
    void exchange(Index i, Index j) const {
        int64_t* pA = m_ppRows[i];
        int64_t* pB = m_ppRows[j];
        const Index nColumns = kColumns > 0 ? kColumns : m_nColumns;
        for (Index c = 0; c < nColumns; ++c) {
            const int64_t llValue = pA[c];
            pA[c] = pB[c];
            pB[c] = llValue;
        }
    }

private:
    int64_t** m_ppRows;
    Index m_nKey;
    Index m_nKey2;
    Index m_nColumns;
};

template <int kColumns>
void sortWith(int64_t** ppRows, Index nBegin, Index nEnd, Index nKey, Index nKey2, Index nColumns,
              int nBadAllowed) {
    qr::rowsort::sortRows(Rows<kColumns>(ppRows, nKey, nKey2, nColumns), nBegin, nEnd, nBadAllowed);
}

}  // namespace

namespace qr {

void sortTableRows(int64_t** ppRows, Index nBegin, Index nEnd, Index nKey, Index nKey2,
                   Index nColumns, int nBadAllowed) {
    // Narrow tables get their exchanges unrolled.
    switch (nColumns) {
        case 1: sortWith<1>(ppRows, nBegin, nEnd, nKey, nKey2, nColumns, nBadAllowed); break;
        case 2: sortWith<2>(ppRows, nBegin, nEnd, nKey, nKey2, nColumns, nBadAllowed); break;
        case 3: sortWith<3>(ppRows, nBegin, nEnd, nKey, nKey2, nColumns, nBadAllowed); break;
        case 4: sortWith<4>(ppRows, nBegin, nEnd, nKey, nKey2, nColumns, nBadAllowed); break;
        default: sortWith<0>(ppRows, nBegin, nEnd, nKey, nKey2, nColumns, nBadAllowed); break;
    }
}

void heapSortTableRows(int64_t** ppRows, Index nBegin, Index nEnd, Index nKey, Index nKey2,
                       Index nColumns) {
    qr::rowsort::heapSort(Rows<0>(ppRows, nKey, nKey2, nColumns), nBegin, nEnd);
}

}  // namespace qr

extern "C" QR_API void QR_CALL QuickSort(int64_t** ppRows, int32_t nLeft, int32_t nRight, int32_t nKey,
                                 int32_t nKey2, int32_t nColumns) {
    if (ppRows == nullptr || nRight <= nLeft || nLeft < 0) return;
    if (nKey < 0 || nKey2 < 0 || nKey >= nColumns || nKey2 >= nColumns) return;
    qr::sortTableRows(ppRows, nLeft, static_cast<Index>(nRight) + 1, nKey, nKey2, nColumns);
}
