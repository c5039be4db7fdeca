// QuickSort of 1,000,000 rows x 4 columns against std::sort of the same rows by the same keys
// (|column 0|, then |column 1|), on random values and on inputs that defeat naive quicksorts.
// Every benchmark times both sorts on identical copies in each iteration and reports
// vs_std = QuickSort / std::sort; the adversarial ones also report vs_random = their QuickSort
// time / the random case's QuickSort time (measured first, in the same run). Times are
// processor times, so that the load of a shared machine does not enter the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "qrcore/util.h"
#include "util/row_sort_engine.h"

namespace {

constexpr std::size_t kRows = 1000000;
constexpr int kColumns = 4;

struct Row {
    int64_t v[kColumns];
};

int64_t absKey(int64_t v) { return v < 0 ? static_cast<int64_t>(0 - static_cast<uint64_t>(v)) : v; }

bool rowLess(const Row& a, const Row& b) {
    const int64_t a0 = absKey(a.v[0]), b0 = absKey(b.v[0]);
    return a0 < b0 || (a0 == b0 && absKey(a.v[1]) < absKey(b.v[1]));
}

enum class Pattern { Random, Sorted, Reversed, AllEqual, OrganPipe, MedianOfThreeKiller, Adversary };

// The input that McIlroy's adversary builds against this very sort: keys are fixed only when a
// comparison forces it, always to make the pivot as bad as possible (see the adversary test).
std::vector<int64_t> adversaryKeys(std::size_t n) {
    struct Game {
        std::vector<int64_t> values, positions;
        int64_t nGas, nFixed = 0, nCandidate = 0;
        int64_t compare(int64_t x, int64_t y) {
            auto& v = values;
            const auto ux = static_cast<std::size_t>(x), uy = static_cast<std::size_t>(y);
            if (v[ux] == nGas && v[uy] == nGas) v[x == nCandidate ? ux : uy] = nFixed++;
            if (v[ux] == nGas) nCandidate = x;
            else if (v[uy] == nGas) nCandidate = y;
            return v[ux] - v[uy];
        }
    };
    struct Rows {
        Game* p;
        qr::rowsort::Keys keys(qr::rowsort::Index i) const { return {p->positions[static_cast<std::size_t>(i)], 0}; }
        bool before(const qr::rowsort::Keys& a, const qr::rowsort::Keys& b) const { return p->compare(a.llKey, b.llKey) < 0; }
        bool less(qr::rowsort::Index i, qr::rowsort::Index j) const { return before(keys(i), keys(j)); }
        void exchange(qr::rowsort::Index i, qr::rowsort::Index j) const {
            std::swap(p->positions[static_cast<std::size_t>(i)], p->positions[static_cast<std::size_t>(j)]);
        }
    };
    Game game{std::vector<int64_t>(n, static_cast<int64_t>(n)), std::vector<int64_t>(n), static_cast<int64_t>(n)};
    for (std::size_t i = 0; i < n; ++i) game.positions[i] = static_cast<int64_t>(i);
    qr::rowsort::sortRows(Rows{&game}, 0, static_cast<qr::rowsort::Index>(n), -1);
    return game.values;
}

std::vector<Row> makeRows(Pattern pattern) {
    std::mt19937_64 rng(42);
    std::vector<Row> rows(kRows);
    const std::size_t k = kRows / 2;
    const std::vector<int64_t> adversary = pattern == Pattern::Adversary ? adversaryKeys(kRows) : std::vector<int64_t>();
    for (std::size_t i = 0; i < kRows; ++i) {
        Row& row = rows[i];
        for (int64_t& v : row.v) v = static_cast<int64_t>(rng());
        switch (pattern) {
            case Pattern::Random: break;
            case Pattern::Sorted: row.v[0] = static_cast<int64_t>(i); break;
            case Pattern::Reversed: row.v[0] = static_cast<int64_t>(kRows - i); break;
            case Pattern::AllEqual: row.v[0] = 7; row.v[1] = -7; break;
            case Pattern::OrganPipe: row.v[0] = static_cast<int64_t>(i < k ? i : kRows - i); break;
            case Pattern::MedianOfThreeKiller:
                row.v[0] = static_cast<int64_t>(i < k ? (i % 2 == 0 ? i + 1 : k + i) : 2 * (i - k + 1));
                break;
            case Pattern::Adversary: row.v[0] = adversary[i]; break;
        }
        if (pattern != Pattern::Random && pattern != Pattern::AllEqual) row.v[1] = 0;
    }
    return rows;
}

double g_dRandomSeconds = 0;  // the random case's QuickSort time per sort

void runSorts(benchmark::State& state, Pattern pattern) {
    const std::vector<Row> master = makeRows(pattern);
    std::vector<Row> forStd(kRows), forOurs(kRows);
    std::vector<int64_t*> pointers(kRows);
    for (std::size_t i = 0; i < kRows; ++i) pointers[i] = forOurs[i].v;
    double dStd = 0, dOurs = 0;
    int64_t nSorts = 0;
    for (auto _ : state) {
        forStd = master;
        forOurs = master;
        const std::clock_t t0 = std::clock();
        std::sort(forStd.begin(), forStd.end(), rowLess);
        const std::clock_t t1 = std::clock();
        QuickSort(pointers.data(), 0, static_cast<int32_t>(kRows - 1), 0, 1, kColumns);
        const std::clock_t t2 = std::clock();
        benchmark::DoNotOptimize(forStd.data());
        benchmark::DoNotOptimize(forOurs.data());
        const double dOursNow = static_cast<double>(t2 - t1) / CLOCKS_PER_SEC;
        dStd += static_cast<double>(t1 - t0) / CLOCKS_PER_SEC;
        dOurs += dOursNow;
        ++nSorts;
        state.SetIterationTime(dOursNow);
    }
    // Both must agree on the key order, or the timing means nothing.
    for (std::size_t i = 0; i < kRows; ++i) {
        if (rowLess(forStd[i], forOurs[i]) || rowLess(forOurs[i], forStd[i])) {
            state.SkipWithError("QuickSort and std::sort disagree");
            return;
        }
    }
    const double dOursPerSort = dOurs / static_cast<double>(nSorts);
    if (pattern == Pattern::Random) g_dRandomSeconds = dOursPerSort;
    state.counters["std_ms"] = 1000.0 * dStd / static_cast<double>(nSorts);
    state.counters["ours_ms"] = 1000.0 * dOursPerSort;
    state.counters["vs_std"] = dOurs / dStd;
    if (g_dRandomSeconds > 0) state.counters["vs_random"] = dOursPerSort / g_dRandomSeconds;
}

}  // namespace

BENCHMARK_CAPTURE(runSorts, Random, Pattern::Random)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_CAPTURE(runSorts, Sorted, Pattern::Sorted)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(runSorts, Reversed, Pattern::Reversed)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(runSorts, AllEqual, Pattern::AllEqual)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(runSorts, OrganPipe, Pattern::OrganPipe)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(runSorts, MedianOfThreeKiller, Pattern::MedianOfThreeKiller)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK_CAPTURE(runSorts, Adversary, Pattern::Adversary)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
