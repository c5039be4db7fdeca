// Benchmark: the journal of interrupted edits against the unjournaled move, in the same run, on
// the same 2 GiB file: an insertion and a removal near the start that shift the rest of the file
// by one journal window and by 40 bytes, chunked (not in place), with and without the
// journal. Each iteration times one edit; the reverse edit that restores the file runs untimed
// and unjournaled. Counts the flushes the timed edit makes. QRCORE_BENCH_WINDOW (bytes) tries
// another journal window.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_file.h"
#include "fileapi/edit_journal.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace {

constexpr int64_t kMiB = 0x100000;
constexpr int64_t kGiB = 1024 * kMiB;
constexpr int64_t kPos = 4099;  // near the start, not whole blocks

// Pseudo-random bytes, as measured data is: a periodic pattern would let a shift rewrite blocks
// with the bytes they already hold, which some storage makes unrealistically cheap.
bench::ScratchFile& file() {
    static uint64_t s_nState = 0x9E3779B97F4A7C15ULL;
    static bench::ScratchFile s_file("qrbench-journal", 2 * kGiB, [](std::vector<unsigned char>& buffer) {
        for (auto& b : buffer) {
            s_nState ^= s_nState << 13;
            s_nState ^= s_nState >> 7;
            s_nState ^= s_nState << 17;
            b = static_cast<unsigned char>(s_nState >> 56);
        }
    });
    return s_file;
}

// QRCORE_BENCH_WINDOW (bytes) tries another journal window.
const bool g_bWindowSet = [] {
    if (const char* szWindow = std::getenv("QRCORE_BENCH_WINDOW")) qr::setJournalWindow(std::strtoll(szWindow, nullptr, 0));
    return true;
}();

// bInsert: times AllocateDiskSpace (FreeDiskSpace restores), else the reverse.
void editBench(benchmark::State& state, bool bJournal, bool bInsert, int64_t llShift) {
    CloseErrorWin();
    qr::setSpaceFastPath(false);
    void* hFile = nullptr;
    if (!QR_OpenFile(&hFile, file().sPath.c_str(), 0)) {
        state.SkipWithError("cannot open the data file");
        return;
    }
    const auto timed = [&](bool bAllocate) {
        QR_SetSpaceJournal(bJournal);
        const bool bOk = bAllocate ? AllocateDiskSpace(hFile, kPos, llShift) : FreeDiskSpace(hFile, kPos, llShift);
        QR_SetSpaceJournal(false);
        return bOk;
    };
    const auto untimed = [&](bool bAllocate) {
        QR_SetSpaceJournal(false);
        return bAllocate ? AllocateDiskSpace(hFile, kPos, llShift) : FreeDiskSpace(hFile, kPos, llShift);
    };
    int64_t llFlushes = 0;
    for (auto _ : state) {
        if (!bInsert) {
            state.PauseTiming();
            if (!untimed(true)) state.SkipWithError("AllocateDiskSpace failed");
            state.ResumeTiming();
        }
        const int64_t llBefore = qr::sys::faultCalls(qr::sys::Op::Flush);
        if (!timed(bInsert)) state.SkipWithError("the timed edit failed");
        llFlushes += qr::sys::faultCalls(qr::sys::Op::Flush) - llBefore;
        if (bInsert) {
            state.PauseTiming();
            if (!untimed(false)) state.SkipWithError("FreeDiskSpace failed");
            state.ResumeTiming();
        }
    }
    QR_CloseFile(hFile);
    QR_SetSpaceJournal(true);
    qr::setSpaceFastPath(true);
    state.counters["flushes"] = static_cast<double>(llFlushes) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(state.iterations() * 2 * kGiB);
}

int64_t window() { return qr::journalWindow(); }

void BM_InsertWindow_Unjournaled(benchmark::State& state) { editBench(state, false, true, window()); }
void BM_InsertWindow_Journaled(benchmark::State& state) { editBench(state, true, true, window()); }
void BM_RemoveWindow_Unjournaled(benchmark::State& state) { editBench(state, false, false, window()); }
void BM_RemoveWindow_Journaled(benchmark::State& state) { editBench(state, true, false, window()); }
void BM_Insert40Bytes_Unjournaled(benchmark::State& state) { editBench(state, false, true, 40); }
void BM_Insert40Bytes_Journaled(benchmark::State& state) { editBench(state, true, true, 40); }
void BM_Remove40Bytes_Unjournaled(benchmark::State& state) { editBench(state, false, false, 40); }
void BM_Remove40Bytes_Journaled(benchmark::State& state) { editBench(state, true, false, 40); }

}  // namespace

BENCHMARK(BM_InsertWindow_Unjournaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_InsertWindow_Journaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RemoveWindow_Unjournaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RemoveWindow_Journaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Insert40Bytes_Unjournaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Insert40Bytes_Journaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Remove40Bytes_Unjournaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_Remove40Bytes_Journaled)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
