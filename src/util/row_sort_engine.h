// Utilities: the row-sort engine behind QuickSort, over any row source R that offers
//   Keys keys(Index i), bool before(const Keys&, const Keys&), bool less(Index, Index) and
//   void exchange(Index, Index),
// so that the tests can also drive it with an adversary that chooses the keys while it runs.
//
// A pattern-defeating quicksort over row indices, iterative. Guarantees:
// - no recursion, no allocation: pending ranges live in a fixed array inside the call; the
//   smaller part of each partition is sorted next and the larger one kept pending, so fewer
//   than log2(n) <= 31 ranges are ever pending and the array cannot overflow;
// - O(n log n) on every input: the pivot is a median of three (a pseudo-median of nine on
//   large ranges); a range whose left neighbour equals the pivot has every row equal to the
//   pivot split off in one pass (many equal keys cost O(n)); a badly unbalanced partition moves
//   a few rows to break the pattern, and after log2(n) such partitions the range is heap-sorted;
// - few branch mispredictions on random keys: the partition classifies rows a block at a time
//   without branching and exchanges the misplaced ones afterwards.
// Rows equal in both keys end in no fixed order, which is what allows all of this.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace qr::rowsort {

using Index = std::ptrdiff_t;

struct Keys {
    int64_t llKey;
    int64_t llKey2;
};

inline constexpr Index kInsertionLimit = 24;    // ranges shorter than this are insertion-sorted
inline constexpr Index kNintherLimit = 128;     // ranges longer than this take a pseudo-median of nine
inline constexpr Index kPartialInsertionMoves = 8;
inline constexpr Index kBlock = 64;             // rows classified per block of the partition
inline constexpr int kMaxPending = 64;

// Sorts [l, r). With bUnguarded the row before l must sort at or before every row of the
// range, and serves as the stopper.
template <class R>
void insertionSort(const R& rows, Index l, Index r, bool bUnguarded) {
    for (Index i = l + 1; i < r; ++i) {
        const Keys keys = rows.keys(i);
        Index j = i;
        if (bUnguarded) {
            while (rows.before(keys, rows.keys(j - 1))) {
                rows.exchange(j, j - 1);
                --j;
            }
        } else {
            while (j > l && rows.before(keys, rows.keys(j - 1))) {
                rows.exchange(j, j - 1);
                --j;
            }
        }
    }
}

// Insertion sort of [l, r) that gives up (false) once it has moved rows more than a few
// places in all; true when the range is sorted.
template <class R>
bool partialInsertionSort(const R& rows, Index l, Index r) {
    Index nMoves = 0;
    for (Index i = l + 1; i < r; ++i) {
        const Keys keys = rows.keys(i);
        Index j = i;
        while (j > l && rows.before(keys, rows.keys(j - 1))) {
            rows.exchange(j, j - 1);
            --j;
        }
        nMoves += i - j;
        if (nMoves > kPartialInsertionMoves) return i + 1 == r;
    }
    return true;
}

template <class R>
void heapSort(const R& rows, Index l, Index r) {
    const Index n = r - l;
    auto siftDown = [&](Index nRoot, Index nCount) {
        for (;;) {
            Index nChild = 2 * nRoot + 1;
            if (nChild >= nCount) return;
            if (nChild + 1 < nCount && rows.less(l + nChild, l + nChild + 1)) ++nChild;
            if (!rows.less(l + nRoot, l + nChild)) return;
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
template <class R>
void sort3(const R& rows, Index a, Index b, Index c) {
    if (rows.less(b, a)) rows.exchange(a, b);
    if (rows.less(c, b)) {
        rows.exchange(b, c);
        if (rows.less(b, a)) rows.exchange(a, b);
    }
}

// Partitions [l, r) around the pivot row at l: returns its final place p, with every row of
// [l, p) before the pivot and every row of (p, r) not before it. bAlreadyPartitioned tells that
// no exchange was needed. Some row of (l, r) must not sort before the pivot (the pivot
// selection leaves one there); it stops the first scan.
template <class R>
Index partitionRight(const R& rows, Index l, Index r, bool& bAlreadyPartitioned) {
    const Keys pivot = rows.keys(l);
    Index nFirst = l;
    Index nLast = r;
    while (rows.before(rows.keys(++nFirst), pivot)) {
    }
    if (nFirst - 1 == l) {
        while (nFirst < nLast && !rows.before(rows.keys(--nLast), pivot)) {
        }
    } else {
        while (!rows.before(rows.keys(--nLast), pivot)) {
        }
    }
    bAlreadyPartitioned = nFirst >= nLast;
    if (!bAlreadyPartitioned) {
        rows.exchange(nFirst, nLast);
        ++nFirst;
        // Classify a block of rows from each side without branches, recording the offsets of
        // rows on the wrong side; then exchange them in pairs.
        unsigned char offsetsL[kBlock];
        unsigned char offsetsR[kBlock];
        Index nBaseL = nFirst, nBaseR = nLast;
        Index nNumL = 0, nNumR = 0, nStartL = 0, nStartR = 0;
        while (nFirst < nLast) {
            const Index nUnknown = nLast - nFirst;
            const Index nSplitL = nNumL == 0 ? (nNumR == 0 ? nUnknown / 2 : nUnknown) : 0;
            const Index nSplitR = nNumR == 0 ? nUnknown - nSplitL : 0;
            const Index nTakeL = std::min(nSplitL, kBlock);
            const Index nTakeR = std::min(nSplitR, kBlock);
            for (Index i = 0; i < nTakeL; ++i) {
                offsetsL[nNumL] = static_cast<unsigned char>(i);
                nNumL += !rows.before(rows.keys(nFirst), pivot);
                ++nFirst;
            }
            for (Index i = 0; i < nTakeR;) {
                offsetsR[nNumR] = static_cast<unsigned char>(++i);
                nNumR += rows.before(rows.keys(--nLast), pivot);
            }
            const Index nPairs = std::min(nNumL, nNumR);
            for (Index k = 0; k < nPairs; ++k)
                rows.exchange(nBaseL + offsetsL[nStartL + k], nBaseR - offsetsR[nStartR + k]);
            nNumL -= nPairs;
            nNumR -= nPairs;
            nStartL += nPairs;
            nStartR += nPairs;
            if (nNumL == 0) {
                nStartL = 0;
                nBaseL = nFirst;
            }
            if (nNumR == 0) {
                nStartR = 0;
                nBaseR = nLast;
            }
        }
        // Rows still recorded on one side go to the boundary.
        if (nNumL > 0) {
            while (nNumL-- > 0) rows.exchange(nBaseL + offsetsL[nStartL + nNumL], --nLast);
            nFirst = nLast;
        }
        if (nNumR > 0) {
            while (nNumR-- > 0) rows.exchange(nBaseR - offsetsR[nStartR + nNumR], nFirst++);
            nLast = nFirst;
        }
    }
    const Index nPivot = nFirst - 1;
    rows.exchange(l, nPivot);
    return nPivot;
}

// Partitions [l, r) around the pivot row at l when no row sorts before it: rows equal to the
// pivot go left. Returns the pivot's final place; every row after it sorts after the pivot.
template <class R>
Index partitionLeft(const R& rows, Index l, Index r) {
    const Keys pivot = rows.keys(l);
    Index nFirst = l;
    Index nLast = r;
    while (rows.before(pivot, rows.keys(--nLast))) {
    }
    if (nLast + 1 == r) {
        while (nFirst < nLast && !rows.before(pivot, rows.keys(++nFirst))) {
        }
    } else {
        while (!rows.before(pivot, rows.keys(++nFirst))) {
        }
    }
    while (nFirst < nLast) {
        rows.exchange(nFirst, nLast);
        while (rows.before(pivot, rows.keys(--nLast))) {
        }
        while (!rows.before(pivot, rows.keys(++nFirst))) {
        }
    }
    rows.exchange(l, nLast);
    return nLast;
}

// Moves a few rows of [l, r) to other places inside it, so that a regular input that led to a
// badly unbalanced partition does not do so again.
template <class R>
void breakPattern(const R& rows, Index l, Index r) {
    const Index n = r - l;
    if (n < kInsertionLimit) return;
    const Index nStep = n / 4;
    rows.exchange(l, l + nStep);
    rows.exchange(r - 1, r - nStep);
    if (n > kNintherLimit) {
        rows.exchange(l + 1, l + nStep + 1);
        rows.exchange(l + 2, l + nStep + 2);
        rows.exchange(r - 2, r - nStep - 1);
        rows.exchange(r - 3, r - nStep - 2);
    }
}

inline int floorLog2(Index n) {
    int nLog = 0;
    while (n > 1) {
        n >>= 1;
        ++nLog;
    }
    return nLog;
}

// Sorts [nBegin, nEnd).
template <class R>
void sortRows(const R& rows, Index nBegin, Index nEnd, int nBadAllowedEach) {
    struct Pending {
        Index l;
        Index r;
        int nBadAllowed;
    };
    Pending pending[kMaxPending];
    int nPending = 0;

    Index l = nBegin;
    Index r = nEnd;
    int nBadAllowed = nBadAllowedEach >= 0 ? nBadAllowedEach : floorLog2(r - l);
    for (;;) {
        const Index n = r - l;
        bool bDone = n < kInsertionLimit;
        if (bDone) {
            insertionSort(rows, l, r, l > nBegin);
        } else {
            // Pivot to l: a median of three, or of three medians of three.
            const Index nHalf = n / 2;
            if (n > kNintherLimit) {
                sort3(rows, l, l + nHalf, r - 1);
                sort3(rows, l + 1, l + nHalf - 1, r - 2);
                sort3(rows, l + 2, l + nHalf + 1, r - 3);
                sort3(rows, l + nHalf - 1, l + nHalf, l + nHalf + 1);
                rows.exchange(l, l + nHalf);
            } else {
                sort3(rows, l + nHalf, l, r - 1);
            }

            // Every row left of the range sorts at or before all of its rows. If that
            // neighbour equals the pivot, the rows equal to the pivot are the range's smallest:
            // they are split off in place and only the larger rows go on.
            if (l > nBegin && !rows.less(l - 1, l)) {
                l = partitionLeft(rows, l, r) + 1;
                continue;
            }

            bool bAlreadyPartitioned = false;
            const Index nPivot = partitionRight(rows, l, r, bAlreadyPartitioned);
            const Index nSizeL = nPivot - l;
            const Index nSizeR = r - (nPivot + 1);
            if (nSizeL < n / 8 || nSizeR < n / 8) {
                if (--nBadAllowed <= 0) {
                    heapSort(rows, l, r);
                    bDone = true;
                } else {
                    breakPattern(rows, l, nPivot);
                    breakPattern(rows, nPivot + 1, r);
                }
            } else if (bAlreadyPartitioned && partialInsertionSort(rows, l, nPivot) &&
                       partialInsertionSort(rows, nPivot + 1, r)) {
                bDone = true;
            }
            if (!bDone) {
                // The smaller part goes on now and the larger one waits. Each waiting range is
                // at least as large as the part worked on, which is at most half of the range
                // it came from: fewer than log2(n) ranges ever wait.
                Index nSmallL = l, nSmallR = nPivot, nLargeL = nPivot + 1, nLargeR = r;
                if (nSizeL > nSizeR) {
                    nSmallL = nPivot + 1;
                    nSmallR = r;
                    nLargeL = l;
                    nLargeR = nPivot;
                }
                if (nPending < kMaxPending)
                    pending[nPending++] = {nLargeL, nLargeR, nBadAllowed};
                else
                    heapSort(rows, nLargeL, nLargeR);  // unreachable by the bound above; a guard
                l = nSmallL;
                r = nSmallR;
                continue;
            }
        }
        if (nPending == 0) return;
        --nPending;
        l = pending[nPending].l;
        r = pending[nPending].r;
        nBadAllowed = pending[nPending].nBadAllowed;
    }
}

}  // namespace qr::rowsort
