// Utilities: the row-sort engine behind QuickSort, reachable by the tests with a chosen
// tolerance for unbalanced partitions, and its heap-sort fallback.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qr {

// Sorts the rows [nBegin, nEnd) by (|column nKey|, |column nKey2|), exchanging the first
// nColumns values of rows. Arguments are trusted (0 <= keys < nColumns, valid rows).
// nBadAllowed: how many badly unbalanced partitions a range may take before it is heap-sorted;
// below 0, log2 of the row count.
void sortTableRows(int64_t** ppRows, std::ptrdiff_t nBegin, std::ptrdiff_t nEnd, std::ptrdiff_t nKey,
                   std::ptrdiff_t nKey2, std::ptrdiff_t nColumns, int nBadAllowed = -1);

// The fallback alone: heap sort of the rows [nBegin, nEnd), same order and exchanges.
void heapSortTableRows(int64_t** ppRows, std::ptrdiff_t nBegin, std::ptrdiff_t nEnd,
                       std::ptrdiff_t nKey, std::ptrdiff_t nKey2, std::ptrdiff_t nColumns);

}  // namespace qr
