// The row-sort engine against an adversary that fixes the keys while the sort runs (McIlroy,
// "A Killer Adversary for Quicksort"): every key starts as "gas", above all fixed keys, and is
// fixed only when a comparison of two gas keys forces it, always so that the pivot looks as bad
// as possible. Without the heap-sort fallback this drives the sort quadratic; with it the
// comparisons must stay O(n log n). The keys found are then a real worst-case input for QuickSort.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "qrcore/util.h"
#include "util/row_sort_engine.h"

namespace {

using qr::rowsort::Index;
using qr::rowsort::Keys;

struct Game {
    std::vector<int64_t> values;     // per item: its fixed key, or kGas
    std::vector<int64_t> positions;  // per row position: the item there
    int64_t nGas = 0;
    int64_t nFixed = 0;
    int64_t nCandidate = 0;
    int64_t nCompares = 0;

    explicit Game(std::size_t n) : values(n, static_cast<int64_t>(n)), positions(n), nGas(static_cast<int64_t>(n)) {
        std::iota(positions.begin(), positions.end(), int64_t{0});
    }

    int64_t compare(int64_t x, int64_t y) {
        ++nCompares;
        auto& v = values;
        const auto ux = static_cast<std::size_t>(x), uy = static_cast<std::size_t>(y);
        if (v[ux] == nGas && v[uy] == nGas) {
            if (x == nCandidate)
                v[ux] = nFixed++;
            else
                v[uy] = nFixed++;
        }
        if (v[ux] == nGas)
            nCandidate = x;
        else if (v[uy] == nGas)
            nCandidate = y;
        return v[ux] - v[uy];
    }
};

// A row source for the engine whose keys are item numbers, compared through the game.
struct AdversaryRows {
    Game* pGame;
    Keys keys(Index i) const { return {pGame->positions[static_cast<std::size_t>(i)], 0}; }
    bool before(const Keys& a, const Keys& b) const { return pGame->compare(a.llKey, b.llKey) < 0; }
    bool less(Index i, Index j) const { return before(keys(i), keys(j)); }
    void exchange(Index i, Index j) const {
        std::swap(pGame->positions[static_cast<std::size_t>(i)], pGame->positions[static_cast<std::size_t>(j)]);
    }
};

TEST(QuickSortAdversary, WithoutTheFallbackTheAdversaryForcesQuadraticWork) {
    // Shows the adversary has teeth: the same engine, never giving up on quicksort.
    const std::size_t n = 4000;
    Game game(n);
    qr::rowsort::sortRows(AdversaryRows{&game}, 0, static_cast<Index>(n), INT_MAX);
    EXPECT_GT(static_cast<double>(game.nCompares), static_cast<double>(n) * static_cast<double>(n) / 20);
}

TEST(QuickSortAdversary, ComparisonsStayWithinNLogN) {
    for (std::size_t n : {100u, 1000u, 20000u}) {
        SCOPED_TRACE(n);
        Game game(n);
        qr::rowsort::sortRows(AdversaryRows{&game}, 0, static_cast<Index>(n), -1);
        const double dNLogN = static_cast<double>(n) * std::log2(static_cast<double>(n));
        EXPECT_LT(static_cast<double>(game.nCompares), 4 * dNLogN);
        // The engine's own order is right under the adversary's final keys.
        for (std::size_t i = 1; i < n; ++i)
            ASSERT_LE(game.values[static_cast<std::size_t>(game.positions[i - 1])],
                      game.values[static_cast<std::size_t>(game.positions[i])]);

        // The keys the adversary chose, as a real table in the original order: QuickSort must
        // sort it like std::sort.
        std::vector<int64_t> values(n * 2);
        std::vector<int64_t*> rows(n);
        for (std::size_t i = 0; i < n; ++i) {
            rows[i] = &values[2 * i];
            rows[i][0] = (i % 2 != 0 ? -1 : 1) * game.values[i];  // signs must not matter
            rows[i][1] = static_cast<int64_t>(i);
        }
        std::vector<int64_t> expected = game.values;
        std::sort(expected.begin(), expected.end());
        QuickSort(rows.data(), 0, static_cast<int32_t>(n - 1), 0, 0, 2);
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(QR_llabs(rows[i][0]), expected[i]) << i;
    }
}

}  // namespace
