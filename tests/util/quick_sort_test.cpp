// The row sort on two absolute-value keys, checked against std::sort on the same rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qrcore/util.h"
#include "util/row_sort.h"

namespace {

// The sort key of a value, written independently of the library: |v|, with the most negative
// value (whose negation does not exist) staying itself and so sorting first.
int64_t keyOf(int64_t v) {
    if (v == INT64_MIN) return INT64_MIN;
    return v < 0 ? -v : v;
}

struct Table {
    int nWidth = 0;
    std::vector<int64_t> values;  // row-major, nWidth values per row slot
    std::vector<int64_t*> rows;

    Table(std::size_t nRows, int nRowWidth) : nWidth(nRowWidth), values(nRows * static_cast<std::size_t>(nRowWidth)) {
        for (std::size_t i = 0; i < nRows; ++i) rows.push_back(values.data() + i * static_cast<std::size_t>(nWidth));
    }
    std::vector<int64_t> prefix(std::size_t i, int nColumns) const {
        return {rows[i], rows[i] + nColumns};
    }
};

using Prefix = std::vector<int64_t>;

using Sorter = std::function<void(int64_t**, int32_t, int32_t, int32_t, int32_t, int32_t)>;

// Sorts t.rows[l..r] with QuickSort (or another sorter of the same form) and checks the result
// against std::sort of the same rows.
void sortAndCheck(Table& t, int32_t l, int32_t r, int32_t nKey, int32_t nKey2, int32_t nColumns,
                  const Sorter& sorter = QuickSort) {
    const Table before = t;
    auto less = [&](const Prefix& a, const Prefix& b) {
        const auto ka = std::make_pair(keyOf(a[static_cast<std::size_t>(nKey)]), keyOf(a[static_cast<std::size_t>(nKey2)]));
        const auto kb = std::make_pair(keyOf(b[static_cast<std::size_t>(nKey)]), keyOf(b[static_cast<std::size_t>(nKey2)]));
        return ka < kb;
    };
    std::vector<Prefix> expected;
    for (int32_t i = l; i <= r; ++i) expected.push_back(before.prefix(static_cast<std::size_t>(i), nColumns));
    std::sort(expected.begin(), expected.end(), less);

    sorter(t.rows.data(), l, r, nKey, nKey2, nColumns);

    std::vector<Prefix> got;
    for (int32_t i = l; i <= r; ++i) got.push_back(t.prefix(static_cast<std::size_t>(i), nColumns));
    // Same key sequence as std::sort (rows equal in both keys may come in any order) ...
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_FALSE(less(got[i], expected[i]) || less(expected[i], got[i])) << "row " << i;
    }
    // ... and the same rows: nothing lost, nothing doubled.
    std::vector<Prefix> gotSorted = got;
    std::sort(gotSorted.begin(), gotSorted.end());
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(gotSorted, expected);
    // Values beyond nColumns stay in their slot, and rows outside [l, r] are untouched.
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
        const bool bInside = static_cast<int32_t>(i) >= l && static_cast<int32_t>(i) <= r;
        for (int c = bInside ? nColumns : 0; c < t.nWidth; ++c)
            ASSERT_EQ(t.rows[i][c], before.rows[i][c]) << "slot " << i << " column " << c;
    }
}

// Fills column nColumn of every row from f(i, n).
void fillColumn(Table& t, int nColumn, const std::function<int64_t(std::size_t, std::size_t)>& f) {
    for (std::size_t i = 0; i < t.rows.size(); ++i) t.rows[i][nColumn] = f(i, t.rows.size());
}

// The classic input that drives a median-of-three quicksort quadratic: for n = 2k,
// 1, k+1, 3, k+3, ..., k-1, 2k-1, then 2, 4, ..., 2k.
int64_t medianOfThreeKiller(std::size_t i, std::size_t n) {
    const std::size_t k = n / 2;
    if (i < k) return static_cast<int64_t>(i % 2 == 0 ? i + 1 : k + i);
    return static_cast<int64_t>(2 * (i - k + 1));
}

struct Pattern {
    const char* szName;
    std::function<int64_t(std::size_t, std::size_t)> f;
};

std::vector<Pattern> patterns() {
    auto rng = std::make_shared<std::mt19937_64>(99);
    return {
        {"random", [rng](std::size_t, std::size_t) { return static_cast<int64_t>((*rng)()); }},
        {"random small signed", [rng](std::size_t, std::size_t) { return static_cast<int64_t>((*rng)() % 21) - 10; }},
        {"sorted", [](std::size_t i, std::size_t) { return static_cast<int64_t>(i); }},
        {"reversed", [](std::size_t i, std::size_t n) { return static_cast<int64_t>(n - i); }},
        {"all equal", [](std::size_t, std::size_t) { return int64_t{42}; }},
        {"organ pipe", [](std::size_t i, std::size_t n) { return static_cast<int64_t>(i < n / 2 ? i : n - i); }},
        {"median-of-3 killer", medianOfThreeKiller},
        {"sawtooth", [](std::size_t i, std::size_t) { return static_cast<int64_t>(i % 97); }},
        {"alternating signs", [](std::size_t i, std::size_t n) { return static_cast<int64_t>(i % 2 ? -(n - i) : (n - i)); }},
        {"extremes", [rng](std::size_t, std::size_t) {
             const int64_t v[] = {INT64_MIN, INT64_MAX, -INT64_MAX, 0, 1, -1};
             return v[(*rng)() % 6];
         }},
    };
}

TEST(QuickSort, ExamplesOrderByAbsoluteKeys) {
    Table t(3, 2);
    const int64_t keys[] = {-5, 3, 4};
    for (int i = 0; i < 3; ++i) t.rows[static_cast<std::size_t>(i)][0] = keys[i];
    QuickSort(t.rows.data(), 0, 2, 0, 0, 2);
    EXPECT_EQ(t.rows[0][0], 3);
    EXPECT_EQ(t.rows[1][0], 4);
    EXPECT_EQ(t.rows[2][0], -5);

    Table u(3, 2);
    const int64_t second[] = {3, -2, 1};
    for (int i = 0; i < 3; ++i) {
        u.rows[static_cast<std::size_t>(i)][0] = 7;
        u.rows[static_cast<std::size_t>(i)][1] = second[i];
    }
    QuickSort(u.rows.data(), 0, 2, 0, 1, 2);
    EXPECT_EQ(u.rows[0][1], 1);
    EXPECT_EQ(u.rows[1][1], -2);
    EXPECT_EQ(u.rows[2][1], 3);
}

TEST(QuickSort, EmptyRangesAndInvalidArgumentsChangeNothing) {
    Table t(4, 3);
    const int64_t keys[] = {4, 3, 2, 1};
    for (int i = 0; i < 4; ++i) t.rows[static_cast<std::size_t>(i)][0] = keys[i];
    const std::vector<int64_t> original = t.values;
    const struct {
        const char* szName;
        int32_t l, r, k, k2, c;
    } rows[] = {
        {"one row", 2, 2, 0, 0, 3}, {"left above right", 3, 0, 0, 0, 3},
        {"negative left", -1, 3, 0, 0, 3}, {"key not below columns", 0, 3, 3, 0, 3},
        {"second key not below columns", 0, 3, 0, 5, 3}, {"negative key", 0, 3, -1, 0, 3},
        {"no columns", 0, 3, 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        QuickSort(t.rows.data(), row.l, row.r, row.k, row.k2, row.c);
        EXPECT_EQ(t.values, original);
    }
    QuickSort(nullptr, 0, 3, 0, 0, 3);
}

TEST(QuickSort, MatchesStdSortOnEveryPatternAndSize) {
    const std::size_t sizes[] = {2, 3, 5, 8, 17, 24, 25, 31, 64, 129, 200, 1000, 5000};
    for (const Pattern& pattern : patterns()) {
        for (std::size_t n : sizes) {
            SCOPED_TRACE(std::string(pattern.szName) + ", " + std::to_string(n) + " rows");
            Table t(n, 5);
            fillColumn(t, 0, pattern.f);
            fillColumn(t, 1, patterns()[1].f);  // many equal secondary keys
            fillColumn(t, 2, [](std::size_t i, std::size_t) { return static_cast<int64_t>(i); });
            fillColumn(t, 3, [](std::size_t i, std::size_t) { return -static_cast<int64_t>(i); });
            fillColumn(t, 4, [](std::size_t i, std::size_t) { return static_cast<int64_t>(i) * 7; });
            // Sort on columns 0 and 1, exchanging four of the five values: column 4 stays put.
            ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, static_cast<int32_t>(n - 1), 0, 1, 4));
            // And with the keys the other way round, on all five columns.
            ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, static_cast<int32_t>(n - 1), 1, 0, 5));
        }
    }
}

TEST(QuickSort, SortsASubRangeOnly) {
    Table t(1000, 3);
    std::mt19937_64 rng(5);
    for (auto& v : t.values) v = static_cast<int64_t>(rng() % 1000) - 500;
    ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 100, 899, 2, 0, 3));
    ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, 1, 0, 0, 1));
    ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 998, 999, 0, 0, 2));
}

TEST(QuickSort, ExchangesExactlyTheGivenColumns) {
    Table t(2, 5);
    t.rows[0][0] = 9;
    t.rows[1][0] = 1;
    for (int c = 1; c < 5; ++c) {
        t.rows[0][c] = 10 + c;
        t.rows[1][c] = 20 + c;
    }
    QuickSort(t.rows.data(), 0, 1, 0, 0, 3);
    const std::vector<int64_t> expected = {1, 21, 22, 13, 14, 9, 11, 12, 23, 24};
    EXPECT_EQ(t.values, expected);
}

TEST(QuickSort, EveryColumnCount) {
    for (int32_t nColumns = 1; nColumns <= 7; ++nColumns) {
        SCOPED_TRACE(nColumns);
        Table t(3000, 8);
        std::mt19937_64 rng(static_cast<uint64_t>(nColumns));
        for (auto& v : t.values) v = static_cast<int64_t>(rng() % 41) - 20;
        ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, 2999, nColumns - 1, 0, nColumns));
    }
}

// The heap sort that ends runs of unbalanced partitions, alone and as reached by the engine when
// it tolerates only one such partition per range.
TEST(QuickSort, HeapSortFallback) {
    const Sorter heap = [](int64_t** pp, int32_t l, int32_t r, int32_t k, int32_t k2, int32_t c) {
        qr::heapSortTableRows(pp, l, static_cast<std::ptrdiff_t>(r) + 1, k, k2, c);
    };
    const Sorter impatient = [](int64_t** pp, int32_t l, int32_t r, int32_t k, int32_t k2, int32_t c) {
        qr::sortTableRows(pp, l, static_cast<std::ptrdiff_t>(r) + 1, k, k2, c, 1);
    };
    const std::size_t sizes[] = {2, 3, 7, 30, 500, 20000};
    for (const Pattern& pattern : patterns()) {
        for (std::size_t n : sizes) {
            SCOPED_TRACE(std::string(pattern.szName) + ", " + std::to_string(n) + " rows");
            for (const Sorter* pSorter : {&heap, &impatient}) {
                Table t(n, 4);
                fillColumn(t, 0, pattern.f);
                fillColumn(t, 1, patterns()[1].f);
                fillColumn(t, 3, [](std::size_t i, std::size_t) { return static_cast<int64_t>(i); });
                ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, static_cast<int32_t>(n - 1), 0, 1, 3, *pSorter));
            }
        }
    }
}

// Large inputs of every pattern: a quadratic fallback or a stack overflow would show here.
TEST(QuickSort, LargeAdversarialInputs) {
    const std::size_t n = 100000;
    for (const Pattern& pattern : patterns()) {
        SCOPED_TRACE(pattern.szName);
        Table t(n, 4);
        fillColumn(t, 0, pattern.f);
        fillColumn(t, 1, pattern.f);
        fillColumn(t, 2, [](std::size_t i, std::size_t) { return static_cast<int64_t>(i); });
        ASSERT_NO_FATAL_FAILURE(sortAndCheck(t, 0, static_cast<int32_t>(n - 1), 0, 1, 4));
    }
}

}  // namespace
