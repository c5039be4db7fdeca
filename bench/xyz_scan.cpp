// qrtool's scan and columns over a large XYZ file against a plain line count in the same run.
//
// The file (1 GiB by default; QRCORE_BENCH_XYZ_BYTES sets another size, with K, M or G) is
// written once in $TMPDIR (or /tmp) in the shape of a real export: survey lines of 15,000
// records of about 85 bytes, a channel line, flight comments, a few nulls; it is removed at the
// end. Every pass reads the whole file, warm in the page cache.
//
// LineCount is the baseline: the file read through the library in 1 MiB blocks, line feeds
// counted with memchr. ScanLayouts is the scanner's work in this process (every line split and
// every record's layout found, as columns does). QrtoolScan and QrtoolColumns run the tool
// itself on the file (output discarded); WcLines and AwkFields run `wc -l` and an awk count of
// records per field count for comparison. Rates are decimal GB per second of processor time
// (GB/s; a child's user + system time), and of wall time (GB/s_wall); vs_line_count is the rate
// divided by the line count's.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "survey_text.h"
#include "text_scanner.h"

extern char** environ;

namespace {

int64_t fileBytes() {
    const char* szSize = std::getenv("QRCORE_BENCH_XYZ_BYTES");
    if (szSize == nullptr || *szSize == '\0') return int64_t{1} << 30;
    char* pEnd = nullptr;
    int64_t llSize = std::strtoll(szSize, &pEnd, 10);
    if (*pEnd == 'K' || *pEnd == 'k') llSize <<= 10;
    if (*pEnd == 'M' || *pEnd == 'm') llSize <<= 20;
    if (*pEnd == 'G' || *pEnd == 'g') llSize <<= 30;
    return llSize > 0 ? llSize : int64_t{1} << 30;
}

// The benchmark file, written on first use and removed when the program ends.
class XyzFile {
public:
    XyzFile() {
        const char* szDir = std::getenv("TMPDIR");
        m_sPath = std::string(szDir != nullptr && *szDir != '\0' ? szDir : "/tmp") + "/qrcore-bench-" +
                  std::to_string(::getpid()) + ".xyz";
        std::FILE* pFile = std::fopen(m_sPath.c_str(), "wb");
        if (pFile == nullptr) return;
        const int64_t llTarget = fileBytes();
        std::mt19937 rng(1);
        std::string sBlock =
            "/ Aeromagnetic survey export\n/\n/ X Y FID TIME GPSZ RADALT MAG MAGCOR FLIGHT\n";
        int64_t llFiducial = 100000;
        for (int nLine = 0; m_llBytes + static_cast<int64_t>(sBlock.size()) < llTarget; ++nLine) {
            if (nLine % 40 == 0) {
                sBlock += "//Flight ";
                sBlock += std::to_string(100 + nLine / 40);
                sBlock += '\n';
            }
            sBlock += nLine % 10 == 9 ? "Tie " : "Line ";
            sBlock += std::to_string(10010 + 10 * nLine);
            sBlock += '\n';
            for (int i = 0; i < 15000; ++i, ++llFiducial) {
                char szRecord[160];
                const double dMag = 51234.5 + static_cast<double>(rng() % 20000) / 1000.0;
                std::snprintf(szRecord, sizeof szRecord, "%11.2f %11.2f %9lld %10.2f %7.2f %7.2f %10.3f %10s %5d\n",
                              431900.0 + static_cast<double>(rng() % 100000) / 100.0,
                              6512000.0 + static_cast<double>(rng() % 100000) / 100.0, static_cast<long long>(llFiducial),
                              36000.0 + static_cast<double>(i) / 10.0, 300.0 + static_cast<double>(rng() % 500) / 100.0,
                              120.0 + static_cast<double>(rng() % 500) / 100.0, dMag,
                              rng() % 997 == 0 ? "*" : std::to_string(dMag - 3.25).c_str(), 100 + nLine / 40);
                sBlock += szRecord;
            }
            if (std::fwrite(sBlock.data(), 1, sBlock.size(), pFile) != sBlock.size()) break;
            m_llBytes += static_cast<int64_t>(sBlock.size());
            sBlock.clear();
        }
        if (std::fclose(pFile) != 0) m_llBytes = 0;
    }
    ~XyzFile() { std::remove(m_sPath.c_str()); }
    XyzFile(const XyzFile&) = delete;
    XyzFile& operator=(const XyzFile&) = delete;
    const std::string& path() const { return m_sPath; }
    int64_t bytes() const { return m_llBytes; }

private:
    std::string m_sPath;
    int64_t m_llBytes = 0;
};

const XyzFile& xyzFile() {
    static const XyzFile s_file;
    return s_file;
}

double g_dLineCountRate = 0;  // GB per processor second of the baseline

// Processor and wall seconds of a stretch of work: this process, or the children it waited for.
struct Times {
    double dCpu = 0, dWall = 0;
};
class Stopwatch {
public:
    explicit Stopwatch(bool bChildren) : m_bChildren(bChildren), m_dCpu0(cpu()), m_wall0(std::chrono::steady_clock::now()) {}
    Times elapsed() const {
        return {cpu() - m_dCpu0, std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall0).count()};
    }

private:
    double cpu() const {
        if (!m_bChildren) return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    bool m_bChildren;
    double m_dCpu0;
    std::chrono::steady_clock::time_point m_wall0;
};

void report(benchmark::State& state, const Times& times, bool bBaseline) {
    const double dBytes = static_cast<double>(state.iterations()) * static_cast<double>(xyzFile().bytes());
    state.SetBytesProcessed(static_cast<int64_t>(dBytes));
    const double dRate = times.dCpu > 0 ? dBytes / times.dCpu / 1e9 : 0;
    state.counters["GB/s"] = dRate;
    state.counters["GB/s_wall"] = times.dWall > 0 ? dBytes / times.dWall / 1e9 : 0;
    if (bBaseline) g_dLineCountRate = dRate;
    if (g_dLineCountRate > 0) state.counters["vs_line_count"] = dRate / g_dLineCountRate;
}

bool haveFile(benchmark::State& state) {
    if (xyzFile().bytes() > 0) return true;
    state.SkipWithError("the benchmark file could not be written");
    return false;
}

// Opens the benchmark file for one pass; false (the benchmark skipped with the reason) if it fails.
bool openFile(benchmark::State& state, qrtool::FileSource& source) {
    if (source.open(xyzFile().path())) return true;
    state.SkipWithError(source.error().c_str());
    return false;
}

void LineCount(benchmark::State& state) {
    if (!haveFile(state)) return;
    std::vector<char> buffer(std::size_t{1} << 20);
    int64_t llLines = 0;
    const Stopwatch watch(false);
    for (auto _ : state) {
        qrtool::FileSource source;
        if (!openFile(state, source)) return;
        llLines = 0;
        for (int64_t n; (n = source.read(buffer.data(), buffer.size())) > 0;) {
            const char* p = buffer.data();
            const char* pEnd = p + n;
            while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(pEnd - p)))) != nullptr) {
                ++llLines;
                ++p;
            }
        }
        benchmark::DoNotOptimize(llLines);
    }
    report(state, watch.elapsed(), true);
    state.counters["lines"] = static_cast<double>(llLines);
}

// What columns does with every line: layouts of the records, channel names from the comments.
struct LayoutWork : qrtool::LineVisitor {
    qrtool::LayoutCollector layouts;
    qrtool::ChannelFinder channels;
    void onLine(const qrtool::ScanLine& line) override {
        if (line.kind == qrtool::LineKind::Comment) {
            channels.comment(line.pText, line.nLength);
        } else if (line.kind == qrtool::LineKind::Record) {
            if (!channels.settled()) channels.settle(line.fields());
            layouts.add(line);
        }
    }
};

void ScanLayouts(benchmark::State& state) {
    if (!haveFile(state)) return;
    int64_t llRecords = 0;
    const Stopwatch watch(false);
    for (auto _ : state) {
        qrtool::FileSource source;
        if (!openFile(state, source)) return;
        LayoutWork work;
        qrtool::TextScanner scanner;
        if (scanner.run(source, work) != qrtool::ScanStatus::Done) {
            state.SkipWithError("scan failed");
            return;
        }
        llRecords = 0;
        for (const qrtool::Layout& layout : work.layouts.summary().layouts) llRecords += layout.llRecords;
    }
    report(state, watch.elapsed(), false);
    state.counters["records"] = static_cast<double>(llRecords);
}

// Runs a program with standard output to /dev/null and waits for it.
bool runProgram(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int nError = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nError != 0) return false;
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, 0) < 0) {
    }
    return WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0;
}

void Program(benchmark::State& state, std::vector<std::string> args) {
    if (!haveFile(state)) return;
    for (std::string& s : args)
        if (s == "FILE") s = xyzFile().path();
    const Stopwatch watch(true);
    for (auto _ : state) {
        const Stopwatch one(true);
        if (!runProgram(args)) {
            state.SkipWithError((args[0] + " failed").c_str());
            return;
        }
        state.SetIterationTime(one.elapsed().dCpu);  // the child's processor time
    }
    report(state, watch.elapsed(), false);
}

}  // namespace

BENCHMARK(LineCount)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ScanLayouts)->Unit(benchmark::kMillisecond)->Iterations(3);
// For the programs the Time column is the child's processor time.
BENCHMARK_CAPTURE(Program, QrtoolScan, {QRTOOL_PATH, "scan", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, QrtoolColumns, {QRTOOL_PATH, "columns", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, WcLines, {"wc", "-l", "FILE"})->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, AwkFields, {"awk", "{ n[NF]++ } END { for (k in n) print k, n[k] }", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
