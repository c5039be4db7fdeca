// Benchmark: writing 256 MiB to a memory file, byte by byte with PutC and in 4 KiB blocks with
// Write, against appending the same bytes to a std::vector<unsigned char> in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "qrcore/file.h"

namespace {

constexpr int64_t kTotal = int64_t{256} << 20;
constexpr uint32_t kBlock = 4096;

std::vector<unsigned char> makeBlock() {
    std::vector<unsigned char> block(kBlock);
    for (uint32_t i = 0; i < kBlock; ++i) block[i] = static_cast<unsigned char>(i * 131u + 7u);
    return block;
}

void VectorPushBackBytes(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<unsigned char> data;
        for (int64_t i = 0; i < kTotal; ++i) data.push_back(static_cast<unsigned char>(i));
        benchmark::DoNotOptimize(data.data());
        if (static_cast<int64_t>(data.size()) != kTotal) state.SkipWithError("short vector");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

void MemFilePutCBytes(benchmark::State& state) {
    for (auto _ : state) {
        CxFile file;
        if (!file.CreateMemFile(0)) state.SkipWithError("CreateMemFile failed");
        for (int64_t i = 0; i < kTotal; ++i) file.PutC(static_cast<unsigned char>(i));
        benchmark::DoNotOptimize(file.m_pBuffer);
        if (file.GetFileSize() != kTotal) state.SkipWithError("short memory file");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

void VectorAppendBlocks(benchmark::State& state) {
    const auto block = makeBlock();
    for (auto _ : state) {
        std::vector<unsigned char> data;
        for (int64_t i = 0; i < kTotal; i += kBlock) data.insert(data.end(), block.begin(), block.end());
        benchmark::DoNotOptimize(data.data());
        if (static_cast<int64_t>(data.size()) != kTotal) state.SkipWithError("short vector");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

void MemFileWriteBlocks(benchmark::State& state) {
    const auto block = makeBlock();
    for (auto _ : state) {
        CxFile file;
        if (!file.CreateMemFile(0)) state.SkipWithError("CreateMemFile failed");
        for (int64_t i = 0; i < kTotal; i += kBlock)
            if (file.Write(block.data(), kBlock) != kBlock) state.SkipWithError("short write");
        benchmark::DoNotOptimize(file.m_pBuffer);
        if (file.GetFileSize() != kTotal) state.SkipWithError("short memory file");
    }
    state.SetBytesProcessed(state.iterations() * kTotal);
}

}  // namespace

// Baseline first, then the library, each pair measured in the same run.
BENCHMARK(VectorPushBackBytes)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(MemFilePutCBytes)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(VectorAppendBlocks)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(MemFileWriteBlocks)->Unit(benchmark::kMillisecond)->Iterations(4);
