// Utilities: the in-place sort of table rows on two absolute-value keys (QuickSort).
//
// An iterative quicksort over row indices. Rows are exchanged value by value (the caller's row
// pointers never move), so the cost of a row move is nColumns exchanges. Guarantees:
// - no recursion, no allocation: pending ranges live in a fixed array inside the call; the
//   smaller part of each partition is sorted next and the larger one kept pending, so at most
//   log2(n) <= 31 ranges are ever pending and the array cannot overflow;
// - O(n log n) on every input: the pivot is a median of three (a ninther on large ranges), a
//   range whose keys are all at least those of its left neighbour's pivot is split off in one
//   pass (many equal keys cost O(n)), a badly unbalanced partition shuffles a few rows to break
//   the pattern, and after log2(n) such partitions the range is heap-sorted instead.
// Rows equal in both keys end in no fixed order, which is what allows all of this.
#include <cstddef>

#include "qrcore/util.h"
#include "util/abs64.h"

namespace {

using Index = std::ptrdiff_t;

struct Keys {
    int64_t llKey;
    int64_t llKey2;
};

inline bool before(const Keys& a, const Keys& b) {
    return a.llKey < b.llKey || (a.llKey == b.llKey && a.llKey2 < b.llKey2);
}

class Rows {
public:
    Rows(int64_t** ppRows, Index nKey, Index nKey2, Index nColumns)
        : m_ppRows(ppRows), m_nKey(nKey), m_nKey2(nKey2), m_nColumns(nColumns) {}

    Keys keys(Index i) const {
        const int64_t* pRow = m_ppRows[i];
        return {qr::abs64(pRow[m_nKey]), qr::abs64(pRow[m_nKey2])};
    }

    // Exchanges the first nColumns values of rows i and j.
    void exchange(Index i, Index j) const {
        int64_t* pA = m_ppRows[i];
        int64_t* pB = m_ppRows[j];
        for (Index c = 0; c < m_nColumns; ++c) {
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

constexpr Index kInsertionLimit = 24;  // ranges this small are insertion-sorted
constexpr Index kNintherLimit = 128;   // ranges larger than this take a ninther as pivot
constexpr int kMaxPending = 64;

void insertionSort(const Rows& rows, Index l, Index r) {
    for (Index i = l + 1; i <= r; ++i) {
        const Keys keys = rows.keys(i);
        for (Index j = i; j > l && before(keys, rows.keys(j - 1)); --j) rows.exchange(j, j - 1);
    }
}

void heapSort(const Rows& rows, Index l, Index r) {
    const Index n = r - l + 1;
    auto siftDown = [&](Index nRoot, Index nCount) {
        for (;;) {
            Index nChild = 2 * nRoot + 1;
            if (nChild >= nCount) return;
            if (nChild + 1 < nCount && before(rows.keys(l + nChild), rows.keys(l + nChild + 1)))
                ++nChild;
            if (!before(rows.keys(l + nRoot), rows.keys(l + nChild))) return;
            rows.exchange(l + nRoot, l + nChild);
            nRoot = nChild;
        }
    };
    for (Index s = n / 2 - 1; s >= 0; --s) siftDown(s, n);
    for (Index nEnd = n - 1; nEnd > 0; --nEnd) {
        rows.exchange(l, l + nEnd);
        siftDown(0, nEnd);
    }
}

// Orders rows a, b, c by their keys.
void sort3(const Rows& rows, Index a, Index b, Index c) {
    if (before(rows.keys(b), rows.keys(a))) rows.exchange(a, b);
    if (before(rows.keys(c), rows.keys(b))) {
        rows.exchange(b, c);
        if (before(rows.keys(b), rows.keys(a))) rows.exchange(a, b);
    }
}

// Leaves the chosen pivot row at the middle of [l, r] and returns its index.
Index choosePivot(const Rows& rows, Index l, Index r) {
    const Index nMid = l + (r - l) / 2;
    if (r - l + 1 > kNintherLimit) {
        sort3(rows, l, nMid, r);
        sort3(rows, l + 1, nMid - 1, r - 1);
        sort3(rows, l + 2, nMid + 1, r - 2);
        sort3(rows, nMid - 1, nMid, nMid + 1);
    } else {
        sort3(rows, l, nMid, r);
    }
    return nMid;
}

// Moves a few rows of a part to other places inside it, so that a regular input that led to a
// badly unbalanced partition does not do so again.
void breakPattern(const Rows& rows, Index l, Index r) {
    const Index n = r - l + 1;
    if (n < kInsertionLimit) return;
    const Index nStep = n / 4;
    rows.exchange(l, l + nStep);
    rows.exchange(r, r - nStep);
    if (n > kNintherLimit) {
        rows.exchange(l + 1, l + nStep + 1);
        rows.exchange(l + 2, l + nStep + 2);
        rows.exchange(r - 1, r - nStep - 1);
        rows.exchange(r - 2, r - nStep - 2);
    }
}

int floorLog2(Index n) {
    int nLog = 0;
    while (n > 1) {
        n >>= 1;
        ++nLog;
    }
    return nLog;
}

void sortRows(const Rows& rows, Index nFirst, Index nLast) {
    struct Pending {
        Index l;
        Index r;
        int nBadLeft;
    };
    Pending pending[kMaxPending];
    int nPending = 0;

    Index l = nFirst;
    Index r = nLast;
    int nBadLeft = floorLog2(r - l + 1);
    for (;;) {
        const Index n = r - l + 1;
        if (n <= kInsertionLimit) {
            if (n > 1) insertionSort(rows, l, r);
            if (nPending == 0) return;
            --nPending;
            l = pending[nPending].l;
            r = pending[nPending].r;
            nBadLeft = pending[nPending].nBadLeft;
            continue;
        }

        const Keys pivot = rows.keys(choosePivot(rows, l, r));

        // Every row left of a range sorts at or before all of its rows. If that neighbour's
        // keys equal the pivot's, the rows equal to the pivot are the range's smallest: put
        // them first in one pass; they are in place, and only the larger rows go on.
        if (l > nFirst && !before(rows.keys(l - 1), pivot)) {
            Index i = l;
            Index j = r;
            while (i <= j) {
                while (i <= j && !before(pivot, rows.keys(i))) ++i;
                while (i <= j && before(pivot, rows.keys(j))) --j;
                if (i < j) {
                    rows.exchange(i, j);
                    ++i;
                    --j;
                }
            }
            l = i;
            continue;
        }

        // Hoare partition around the pivot's keys. The scans need no bounds: the pivot row
        // stops both in the first round, and each exchange leaves a stopper for the next.
        Index i = l;
        Index j = r;
        while (i <= j) {
            while (before(rows.keys(i), pivot)) ++i;
            while (before(pivot, rows.keys(j))) --j;
            if (i <= j) {
                if (i < j) rows.exchange(i, j);
                ++i;
                --j;
            }
        }
        // Now [l, j] <= pivot, [i, r] >= pivot, and a row between them equals the pivot.
        const Index nLeftSize = j - l + 1;
        const Index nRightSize = r - i + 1;
        if (nLeftSize < n / 8 || nRightSize < n / 8) {
            if (--nBadLeft <= 0) {
                heapSort(rows, l, r);
                if (nPending == 0) return;
                --nPending;
                l = pending[nPending].l;
                r = pending[nPending].r;
                nBadLeft = pending[nPending].nBadLeft;
                continue;
            }
            breakPattern(rows, l, j);
            breakPattern(rows, i, r);
        }

        // The smaller part goes on now, the larger waits: each waiting range is at least twice
        // the size of the one being worked on, so fewer than log2(n) ever wait.
        Index nKeepL = l, nKeepR = j, nNextL = i, nNextR = r;
        if (nLeftSize >= nRightSize) {
            nKeepL = i;
            nKeepR = r;
            nNextL = l;
            nNextR = j;
        }
        // nKeep* is the smaller part, nNext* the larger one.
        if (nPending < kMaxPending) {
            pending[nPending++] = {nNextL, nNextR, nBadLeft};
        } else if (nNextR > nNextL) {
            heapSort(rows, nNextL, nNextR);  // unreachable by the bound above; kept as a guard
        }
        l = nKeepL;
        r = nKeepR;
    }
}

}  // namespace

extern "C" QR_API void QuickSort(int64_t** ppRows, int32_t nLeft, int32_t nRight, int32_t nKey,
                                 int32_t nKey2, int32_t nColumns) {
    if (ppRows == nullptr || nRight <= nLeft || nLeft < 0) return;
    if (nKey < 0 || nKey2 < 0 || nKey >= nColumns || nKey2 >= nColumns) return;
    sortRows(Rows(ppRows, nKey, nKey2, nColumns), nLeft, nRight);
}
