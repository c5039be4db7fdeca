// Benchmarks of CxMapFile views, each against its baseline in the same run: a list-view cycle on
// 64 KiB against a bare mmap/munmap of the same range, and a 1 GiB sequential read through 64 MiB
// views against read() into a buffer, both from the page cache.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qrcore/error.h"
#include "qrcore/mapfile.h"
#include "qrcore/notice.h"

namespace {

constexpr int64_t kSmallFile = 64 << 20;
constexpr int32_t kSmallView = 64 << 10;
constexpr int64_t kBigFile = int64_t{1} << 30;
constexpr int32_t kBigView = 64 << 20;

bool quiet(QR_NoticeKind, const char*, const char*, void*) { return false; }

std::string tempPath(const char* szName) {
    const char* szDir = std::getenv("TMPDIR");
    return std::string(szDir != nullptr && *szDir != '\0' ? szDir : "/tmp") + "/" + szName + std::to_string(::getpid());
}

// A file of llSize bytes of real data (no holes, so reads come from cached pages), removed when
// the program ends.
class DataFile {
public:
    DataFile(const char* szName, int64_t llSize) : m_sPath(tempPath(szName)) {
        const int fd = ::open(m_sPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
        std::vector<unsigned char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 31 + 7);
        for (int64_t llDone = 0; llDone < llSize; llDone += static_cast<int64_t>(block.size())) {
            block[0] = static_cast<unsigned char>(llDone >> 20);
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
        }
        ::close(fd);
        warm();
    }
    ~DataFile() { ::unlink(m_sPath.c_str()); }
    const std::string& path() const { return m_sPath; }
    // Reads the file once so that every run reads from the page cache.
    void warm() const {
        const int fd = ::open(m_sPath.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<char> buffer(8 << 20);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }

private:
    std::string m_sPath;
};

const DataFile& smallFile() {
    static const DataFile s_file("qrbench-views-small-", kSmallFile);
    return s_file;
}

const DataFile& bigFile() {
    static const DataFile s_file("qrbench-views-big-", kBigFile);
    return s_file;
}

uint64_t sumWords(const void* p, std::size_t nBytes) {
    const auto* pWords = static_cast<const uint64_t*>(p);
    uint64_t nSum = 0;
    for (std::size_t i = 0; i < nBytes / 8; ++i) nSum += pWords[i];
    return nSum;
}

// SetView / UseView / FreeView of one 64 KiB view, walking through the file.
void BM_ListViewCycle64K(benchmark::State& state) {
    QR_SetNoticeHandler(quiet, nullptr);
    CxMapFile map;
    if (!map.MapFile(smallFile().path().c_str(), false, true, false)) {
        state.SkipWithError("MapFile failed");
        return;
    }
    int64_t llOffset = 0;
    for (auto _ : state) {
        if (!map.SetView(1, llOffset, kSmallView)) {
            state.SkipWithError("SetView failed");
            break;
        }
        const auto* p = static_cast<const volatile unsigned char*>(map.UseView(1));
        benchmark::DoNotOptimize(p[0]);
        map.FreeView(1);
        llOffset = (llOffset + kSmallView) % kSmallFile;
    }
    map.UnMap();
}
BENCHMARK(BM_ListViewCycle64K);

// Baseline: the bare system calls for the same view.
void BM_BareMmapMunmap64K(benchmark::State& state) {
    const int fd = ::open(smallFile().path().c_str(), O_RDONLY | O_CLOEXEC);
    int64_t llOffset = 0;
    for (auto _ : state) {
        void* p = ::mmap(nullptr, kSmallView, PROT_READ, MAP_SHARED, fd, llOffset);
        if (p == MAP_FAILED) {
            state.SkipWithError("mmap failed");
            break;
        }
        benchmark::DoNotOptimize(static_cast<const volatile unsigned char*>(p)[0]);
        ::munmap(p, kSmallView);
        llOffset = (llOffset + kSmallView) % kSmallFile;
    }
    ::close(fd);
}
BENCHMARK(BM_BareMmapMunmap64K);

// 1 GiB read sequentially through 64 MiB list views, every word summed.
void BM_Read1GiBThroughViews(benchmark::State& state) {
    QR_SetNoticeHandler(quiet, nullptr);
    const DataFile& file = bigFile();
    uint64_t nSum = 0;
    for (auto _ : state) {
        CxMapFile map;
        if (!map.MapFile(file.path().c_str(), false, true, false)) {
            state.SkipWithError("MapFile failed");
            break;
        }
        for (int64_t llOffset = 0; llOffset < kBigFile; llOffset += kBigView) {
            if (!map.SetView(0, llOffset, kBigView)) {
                state.SkipWithError("SetView failed");
                break;
            }
            nSum += sumWords(map.UseView(0), static_cast<std::size_t>(map.GetView(0)->lSize));
            map.FreeView(0);
        }
        map.UnMap();
    }
    benchmark::DoNotOptimize(nSum);
    state.SetBytesProcessed(state.iterations() * kBigFile);
}
BENCHMARK(BM_Read1GiBThroughViews)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// Baseline: read() into a buffer of state.range(0) bytes (64 MiB as the views, and 1 MiB, which
// stays in the processor's cache), every word summed.
void BM_Read1GiBWithRead(benchmark::State& state) {
    const DataFile& file = bigFile();
    std::vector<char> buffer(static_cast<std::size_t>(state.range(0)));
    uint64_t nSum = 0;
    for (auto _ : state) {
        const int fd = ::open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0) break;
            nSum += sumWords(buffer.data(), static_cast<std::size_t>(n));
        }
        ::close(fd);
    }
    benchmark::DoNotOptimize(nSum);
    state.SetBytesProcessed(state.iterations() * kBigFile);
}
BENCHMARK(BM_Read1GiBWithRead)->Arg(kBigView)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
