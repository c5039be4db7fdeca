// Benchmark: MoveData of 1 GiB inside a 2 GiB file, both directions with overlap, against
// copying 1 GiB between two files of the same disk with dd (bs=1M conv=fsync) in the same run.
// Both end flushed to disk. Reports the peak resident memory a move adds to the process.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace {

constexpr int64_t kMiB = 0x100000;
constexpr int64_t kGiB = 1024 * kMiB;

// The data files, made once and removed when the program ends.
struct Files {
    std::string sBig, sSource, sTarget;
    Files() {
        const std::string sFolder = qr::sys::tempFolder();
        const std::string sTag = std::to_string(::getpid());
        sBig = sFolder + "qrbench-move-" + sTag + ".dat";
        sSource = sFolder + "qrbench-dd-src-" + sTag + ".dat";
        sTarget = sFolder + "qrbench-dd-dst-" + sTag + ".dat";
        fill(sBig, 2 * kGiB);
        fill(sSource, kGiB);
    }
    ~Files() {
        ::unlink(sBig.c_str());
        ::unlink(sSource.c_str());
        ::unlink(sTarget.c_str());
    }
    static void fill(const std::string& sPath, int64_t llSize) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(8 * kMiB));
        uint32_t nState = 12345;
        for (auto& b : buffer) b = static_cast<unsigned char>((nState = nState * 1103515245u + 12345u) >> 24);
        const int nFd = ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (nFd < 0) std::abort();
        for (int64_t llDone = 0; llDone < llSize; llDone += static_cast<int64_t>(buffer.size())) {
            if (::write(nFd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) std::abort();
            buffer[static_cast<std::size_t>(llDone / kMiB) % buffer.size()] ^= 0x5A;
        }
        ::fsync(nFd);
        ::close(nFd);
    }
};

Files& files() {
    static Files s_files;
    return s_files;
}

// Resident memory in KiB from /proc/self/status (VmRSS now, VmHWM the peak since the reset).
int64_t statusKiB(const char* szKey) {
    std::ifstream in("/proc/self/status");
    std::string sLine;
    while (std::getline(in, sLine)) {
        if (sLine.rfind(szKey, 0) == 0) return std::atoll(sLine.c_str() + std::string(szKey).size());
    }
    return -1;
}

void resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

void moveBench(benchmark::State& state, bool bTowardsEnd) {
    Files& f = files();
    CloseErrorWin();
    void* hFile = nullptr;
    if (!QR_OpenFile(&hFile, f.sBig.c_str(), 0)) {
        state.SkipWithError("cannot open the data file");
        return;
    }
    // The baseline is the resident memory before the first move, with the heap's free memory
    // given back first so that a reused block cannot hide the move's buffer; the peak is taken
    // over all moves.
    ::malloc_trim(0);
    const int64_t llBase = statusKiB("VmRSS:");
    resetPeak();
    for (auto _ : state) {
        const _tagMoveData move = bTowardsEnd ? _tagMoveData{0, 512 * kMiB, kGiB} : _tagMoveData{512 * kMiB, 0, kGiB};
        if (!MoveData(hFile, &move)) state.SkipWithError("MoveData failed");
    }
    const int64_t llPeakDelta = statusKiB("VmHWM:") - llBase;
    QR_CloseFile(hFile);
    state.SetBytesProcessed(state.iterations() * kGiB);
    state.counters["peak_rss_added_KiB"] = static_cast<double>(llPeakDelta);
}

void BM_MoveData1GiBTowardsEnd(benchmark::State& state) { moveBench(state, true); }
void BM_MoveData1GiBTowardsStart(benchmark::State& state) { moveBench(state, false); }

void BM_BaselineDdCopy1GiB(benchmark::State& state) {
    Files& f = files();
    const std::string sIf = "if=" + f.sSource, sOf = "of=" + f.sTarget;
    for (auto _ : state) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int nNull = ::open("/dev/null", O_WRONLY);
            ::dup2(nNull, 2);
            ::execlp("dd", "dd", sIf.c_str(), sOf.c_str(), "bs=1M", "conv=fsync", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) state.SkipWithError("dd failed");
        state.PauseTiming();
        ::unlink(f.sTarget.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * kGiB);
}

}  // namespace

BENCHMARK(BM_BaselineDdCopy1GiB)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_MoveData1GiBTowardsEnd)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_MoveData1GiBTowardsStart)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
