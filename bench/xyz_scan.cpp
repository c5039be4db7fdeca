// qrtool's scan and columns over large survey files against a plain line count and `wc -l` on
// the same file in the same run.
//
// Two files (1 GiB each by default; QRCORE_BENCH_XYZ_BYTES sets another size, with K, M or G)
// are written once in $TMPDIR (or /tmp) and removed at the end; every pass reads a whole file,
// warm in the page cache:
// - an XYZ export: survey lines of 15,000 records of about 85 bytes under Line/Tie headers, a
//   channel line, flight comments, a few '*' nulls;
// - an ASEG-GDF2 export (.dat with its .dfn): fixed-width records of 120 bytes whose line and
//   flight numbers are columns, NULL= values for most fields and a 5-element array, some nulls.
//
// LineCount is the baseline: the file read through the library in 1 MiB blocks, line feeds
// counted with memchr. ScanLayouts is the scanner's work in this process (every line split and
// every record's layout found, as columns does). The Program runs start the tool itself (output
// discarded): scan and columns on the XYZ file; on the GDF file, scan with its .dfn (lines
// from the LINE field, nulls checked in every defined field) and scan of the same records
// without the definition, lines split on column 1 (--line-column 1 --flight-column 2). WcLines
// and AwkFields run `wc -l` and an awk count of records per field count for comparison. Rates
// are decimal GB per second of processor time (GB/s; a child's user + system time), and of wall
// time (GB/s_wall); vs_line_count and vs_wc are the rate divided by the line count's and by
// wc's on the same file.
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
#include <map>
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

// A benchmark file, written on first use and removed when the program ends.
class BenchFile {
public:
    BenchFile(const char* szSuffix, void (BenchFile::*pfnWrite)(std::FILE*, int64_t)) {
        const char* szDir = std::getenv("TMPDIR");
        m_sBase = std::string(szDir != nullptr && *szDir != '\0' ? szDir : "/tmp") + "/qrcore-bench-" + std::to_string(::getpid());
        m_sPath = m_sBase + szSuffix;
        std::FILE* pFile = std::fopen(m_sPath.c_str(), "wb");
        if (pFile == nullptr) return;
        (this->*pfnWrite)(pFile, fileBytes());
        if (std::fclose(pFile) != 0) m_llBytes = 0;
    }
    ~BenchFile() {
        std::remove(m_sPath.c_str());
        for (const std::string& sPath : m_extra) std::remove(sPath.c_str());
    }
    BenchFile(const BenchFile&) = delete;
    BenchFile& operator=(const BenchFile&) = delete;
    const std::string& path() const { return m_sPath; }
    int64_t bytes() const { return m_llBytes; }
    // The same bytes under another name (a hard link), removed at the end too.
    std::string alias(const char* szSuffix) {
        const std::string sPath = m_sBase + szSuffix;
        if (::link(m_sPath.c_str(), sPath.c_str()) != 0) return m_sPath;
        m_extra.push_back(sPath);
        return sPath;
    }

    void writeXyz(std::FILE* pFile, int64_t llTarget) {
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
            if (std::fwrite(sBlock.data(), 1, sBlock.size(), pFile) != sBlock.size()) return;
            m_llBytes += static_cast<int64_t>(sBlock.size());
            sBlock.clear();
        }
    }

    void writeGdf(std::FILE* pFile, int64_t llTarget) {
        std::FILE* pDefinition = std::fopen((m_sBase + ".dfn").c_str(), "wb");
        if (pDefinition == nullptr) return;
        m_extra.push_back(m_sBase + ".dfn");
        const char* szDefinition =
            "DEFN   ST=RECD,RT=COMM;RT:A4;COMMENTS:A76\n"
            "DEFN 1 ST=RECD,RT=;LINE:I10:NAME=Line number\n"
            "DEFN 2 ST=RECD,RT=;FLIGHT:I6:NAME=Flight number\n"
            "DEFN 3 ST=RECD,RT=;FID:F12.1:UNITS=s\n"
            "DEFN 4 ST=RECD,RT=;EASTING:F12.2:UNITS=m:NULL=-9999999.99\n"
            "DEFN 5 ST=RECD,RT=;NORTHING:F12.2:UNITS=m:NULL=-9999999.99\n"
            "DEFN 6 ST=RECD,RT=;ALT:F8.2:UNITS=m:NULL=-999.99\n"
            "DEFN 7 ST=RECD,RT=;MAG:F10.3:UNITS=nT:NULL=-99999.999\n"
            "DEFN 8 ST=RECD,RT=;EM:5F10.3:NULL=-9999.999\n"
            "DEFN 9 ST=RECD,RT=;END DEFN\n";
        if (std::fputs(szDefinition, pDefinition) < 0 || std::fclose(pDefinition) != 0) return;
        std::mt19937 rng(2);
        std::string sBlock;
        int64_t llFiducial = 100000;
        for (int nLine = 0; m_llBytes + static_cast<int64_t>(sBlock.size()) < llTarget; ++nLine) {
            for (int i = 0; i < 15000; ++i, ++llFiducial) {
                char szRecord[200];
                const double dMag = 51234.5 + static_cast<double>(rng() % 20000) / 1000.0;
                std::snprintf(szRecord, sizeof szRecord, "%10d%6d%12.1f%12.2f%12.2f%8.2f%10.3f", 100010 + 10 * nLine,
                              100 + nLine / 40, static_cast<double>(llFiducial) / 10.0,
                              431900.0 + static_cast<double>(rng() % 100000) / 100.0,
                              6512000.0 + static_cast<double>(rng() % 100000) / 100.0,
                              120.0 + static_cast<double>(rng() % 500) / 100.0, rng() % 997 == 0 ? -99999.999 : dMag);
                sBlock += szRecord;
                for (int k = 0; k < 5; ++k) {
                    std::snprintf(szRecord, sizeof szRecord, "%10.3f",
                                  rng() % 499 == 0 ? -9999.999 : static_cast<double>(rng() % 100000) / 1000.0);
                    sBlock += szRecord;
                }
                sBlock += '\n';
            }
            if (std::fwrite(sBlock.data(), 1, sBlock.size(), pFile) != sBlock.size()) return;
            m_llBytes += static_cast<int64_t>(sBlock.size());
            sBlock.clear();
        }
    }

private:
    std::string m_sBase, m_sPath;
    std::vector<std::string> m_extra;
    int64_t m_llBytes = 0;
};

BenchFile& xyzFile() {
    static BenchFile s_file(".xyz", &BenchFile::writeXyz);
    return s_file;
}

BenchFile& gdfFile() {
    static BenchFile s_file(".dat", &BenchFile::writeGdf);
    return s_file;
}

// The GDF records under a name that has no definition beside it.
const std::string& gdfPlainPath() {
    static const std::string s_sPath = gdfFile().alias("-plain.txt");
    return s_sPath;
}

// GB per processor second of the baselines, per file.
std::map<std::string, double> g_lineCountRates, g_wcRates;

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

enum class Baseline { None, LineCount, Wc };

void report(benchmark::State& state, const BenchFile& file, const Times& times, Baseline baseline) {
    const double dBytes = static_cast<double>(state.iterations()) * static_cast<double>(file.bytes());
    state.SetBytesProcessed(static_cast<int64_t>(dBytes));
    const double dRate = times.dCpu > 0 ? dBytes / times.dCpu / 1e9 : 0;
    state.counters["GB/s"] = dRate;
    state.counters["GB/s_wall"] = times.dWall > 0 ? dBytes / times.dWall / 1e9 : 0;
    if (baseline == Baseline::LineCount) g_lineCountRates[file.path()] = dRate;
    if (baseline == Baseline::Wc) g_wcRates[file.path()] = dRate;
    if (g_lineCountRates[file.path()] > 0) state.counters["vs_line_count"] = dRate / g_lineCountRates[file.path()];
    if (g_wcRates[file.path()] > 0) state.counters["vs_wc"] = dRate / g_wcRates[file.path()];
}

bool haveFile(benchmark::State& state, const BenchFile& file) {
    if (file.bytes() > 0) return true;
    state.SkipWithError("the benchmark file could not be written");
    return false;
}

// Opens the benchmark file for one pass; false (the benchmark skipped with the reason) if it fails.
bool openFile(benchmark::State& state, const BenchFile& file, qrtool::FileSource& source) {
    if (source.open(file.path())) return true;
    state.SkipWithError(source.error().c_str());
    return false;
}

void LineCount(benchmark::State& state, BenchFile& (*pfnFile)()) {
    const BenchFile& file = pfnFile();
    if (!haveFile(state, file)) return;
    std::vector<char> buffer(std::size_t{1} << 20);
    int64_t llLines = 0;
    const Stopwatch watch(false);
    for (auto _ : state) {
        qrtool::FileSource source;
        if (!openFile(state, file, source)) return;
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
    report(state, file, watch.elapsed(), Baseline::LineCount);
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
    const BenchFile& file = xyzFile();
    if (!haveFile(state, file)) return;
    int64_t llRecords = 0;
    const Stopwatch watch(false);
    for (auto _ : state) {
        qrtool::FileSource source;
        if (!openFile(state, file, source)) return;
        LayoutWork work;
        qrtool::TextScanner scanner;
        if (scanner.run(source, work) != qrtool::ScanStatus::Done) {
            state.SkipWithError("scan failed");
            return;
        }
        llRecords = 0;
        for (const qrtool::Layout& layout : work.layouts.summary().layouts) llRecords += layout.llRecords;
    }
    report(state, file, watch.elapsed(), Baseline::None);
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

// Runs a program over a file: FILE in args stands for its path, PLAIN for the GDF records under
// a name without a definition.
void Program(benchmark::State& state, BenchFile& (*pfnFile)(), Baseline baseline, std::vector<std::string> args) {
    BenchFile& file = pfnFile();
    if (!haveFile(state, file)) return;
    for (std::string& s : args) {
        if (s == "FILE") s = file.path();
        if (s == "PLAIN") s = gdfPlainPath();
    }
    const Stopwatch watch(true);
    for (auto _ : state) {
        const Stopwatch one(true);
        if (!runProgram(args)) {
            state.SkipWithError((args[0] + " failed").c_str());
            return;
        }
        state.SetIterationTime(one.elapsed().dCpu);  // the child's processor time
    }
    report(state, file, watch.elapsed(), baseline);
}

}  // namespace

// For the programs the Time column is the child's processor time.
BENCHMARK_CAPTURE(LineCount, Xyz, xyzFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Program, WcLines, xyzFile, Baseline::Wc, {"wc", "-l", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(ScanLayouts)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Program, QrtoolScan, xyzFile, Baseline::None, {QRTOOL_PATH, "scan", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, QrtoolColumns, xyzFile, Baseline::None, {QRTOOL_PATH, "columns", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, AwkFields, xyzFile, Baseline::None, {"awk", "{ n[NF]++ } END { for (k in n) print k, n[k] }", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(LineCount, Gdf, gdfFile)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(Program, WcLinesGdf, gdfFile, Baseline::Wc, {"wc", "-l", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, QrtoolScanDfn, gdfFile, Baseline::None, {QRTOOL_PATH, "scan", "FILE"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK_CAPTURE(Program, QrtoolScanLineColumn, gdfFile, Baseline::None,
                  {QRTOOL_PATH, "scan", "--line-column", "1", "--flight-column", "2", "PLAIN"})
    ->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
