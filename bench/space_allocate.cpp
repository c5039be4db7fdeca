// Benchmark: AllocateDiskSpace and FreeDiskSpace of 1 MiB at a block-aligned position in the
// middle of a 4 GiB file, in place (whole file-system blocks) against the chunked move of the
// tail on the same file in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bench_file.h"
#include "fileapi/space_functions.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace {

constexpr int64_t kMiB = 0x100000;
constexpr int64_t kGiB = 1024 * kMiB;
constexpr int64_t kPos = 2 * kGiB;  // the middle, whole blocks

bench::ScratchFile& file() {
    static bench::ScratchFile s_file("qrbench-space", 4 * kGiB, [](std::vector<unsigned char>& buffer) {
        for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);
    });
    return s_file;
}

// bAllocate: time the insertion (the removal restores the file untimed), else the reverse.
void spaceBench(benchmark::State& state, bool bFast, bool bAllocate) {
    CloseErrorWin();
    qr::setSpaceFastPath(bFast);
    void* hFile = nullptr;
    if (!QR_OpenFile(&hFile, file().sPath.c_str(), 0)) {
        state.SkipWithError("cannot open the data file");
        return;
    }
    for (auto _ : state) {
        if (!bAllocate) {
            state.PauseTiming();
            if (!AllocateDiskSpace(hFile, kPos, kMiB)) state.SkipWithError("AllocateDiskSpace failed");
            state.ResumeTiming();
            if (!FreeDiskSpace(hFile, kPos, kMiB)) state.SkipWithError("FreeDiskSpace failed");
        } else {
            if (!AllocateDiskSpace(hFile, kPos, kMiB)) state.SkipWithError("AllocateDiskSpace failed");
            state.PauseTiming();
            if (!FreeDiskSpace(hFile, kPos, kMiB)) state.SkipWithError("FreeDiskSpace failed");
            state.ResumeTiming();
        }
    }
    QR_CloseFile(hFile);
    qr::setSpaceFastPath(true);
}

void BM_AllocateChunked(benchmark::State& state) { spaceBench(state, false, true); }
void BM_AllocateInPlace(benchmark::State& state) { spaceBench(state, true, true); }
void BM_FreeChunked(benchmark::State& state) { spaceBench(state, false, false); }
void BM_FreeInPlace(benchmark::State& state) { spaceBench(state, true, false); }

}  // namespace

BENCHMARK(BM_AllocateChunked)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_AllocateInPlace)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
BENCHMARK(BM_FreeChunked)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_FreeInPlace)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();
