// EbcdicToAscii and AsciiToEbcdic over a 64 MiB text, against a plain byte loop over the same
// table and against iconv's IBM037 conversion, in the same run. Each reports bytes per second;
// vs_plain and vs_iconv are our throughput divided by the baseline's (measured first), all in
// processor time.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <array>
#include <ctime>
#include <cstdint>
#include <random>
#include <vector>

#include "qrcore/convert.h"

namespace {

constexpr std::size_t kBytes = std::size_t{64} << 20;

// A 64 MiB zero-terminated text of random non-zero bytes.
std::vector<char> makeText() {
    std::vector<char> text(kBytes + 1);
    std::mt19937_64 rng(1);
    for (std::size_t i = 0; i < kBytes; ++i) text[i] = static_cast<char>(1 + rng() % 255);
    text[kBytes] = '\0';
    return text;
}

// The table of f, read back one byte at a time (byte 0 stays 0: it ends a text).
std::array<unsigned char, 256> tableOf(int32_t (*f)(char*)) {
    std::array<unsigned char, 256> table{};
    for (int b = 1; b < 256; ++b) {
        char sz[2] = {static_cast<char>(b), '\0'};
        f(sz);
        table[static_cast<std::size_t>(b)] = static_cast<unsigned char>(sz[0]);
    }
    return table;
}

double g_dPlain[2] = {0, 0};  // bytes per second of the plain loop: [0] EBCDIC->ASCII, [1] back
double g_dIconv[2] = {0, 0};

// Processor time, not wall time: on a shared machine the wall clock also counts other
// programs' turns, and the rates would follow the load rather than the code.
struct Clock {
    using time_point = std::clock_t;
    static time_point now() { return std::clock(); }
};

// Records the throughput of the loop that ran from t0 to now, for the ratios of later benches.
double finish(benchmark::State& state, Clock::time_point t0) {
    const double dSeconds = static_cast<double>(Clock::now() - t0) / CLOCKS_PER_SEC;
    const double dBytes = static_cast<double>(state.iterations()) * static_cast<double>(kBytes);
    state.SetBytesProcessed(static_cast<int64_t>(dBytes));
    return dSeconds > 0 ? dBytes / dSeconds : 0;
}

void plainLoop(benchmark::State& state, int nDirection) {
    std::vector<char> text = makeText();
    const auto table = tableOf(nDirection == 0 ? EbcdicToAscii : AsciiToEbcdic);
    const auto t0 = Clock::now();
    for (auto _ : state) {
        for (auto* p = reinterpret_cast<unsigned char*>(text.data()); *p != 0; ++p) *p = table[*p];
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    g_dPlain[nDirection] = finish(state, t0);
}

void viaIconv(benchmark::State& state, int nDirection) {
    // Latin-1 on the other side, so that every one of the 256 bytes has a mapping.
    iconv_t cd = nDirection == 0 ? iconv_open("ISO-8859-1", "IBM037") : iconv_open("IBM037", "ISO-8859-1");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv has no IBM037 here");
        return;
    }
    std::vector<char> text = makeText();
    std::vector<char> out(kBytes);
    const auto t0 = Clock::now();
    for (auto _ : state) {
        char* pIn = text.data();
        char* pOut = out.data();
        std::size_t nIn = kBytes, nOut = kBytes;
        if (iconv(cd, &pIn, &nIn, &pOut, &nOut) == static_cast<std::size_t>(-1)) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    g_dIconv[nDirection] = finish(state, t0);
    iconv_close(cd);
}

void ours(benchmark::State& state, int nDirection) {
    std::vector<char> text = makeText();
    int32_t (*const f)(char*) = nDirection == 0 ? EbcdicToAscii : AsciiToEbcdic;
    const auto t0 = Clock::now();
    for (auto _ : state) {
        const int32_t n = f(text.data());
        if (static_cast<std::size_t>(n) != kBytes) {
            state.SkipWithError("wrong length");
            break;
        }
        benchmark::DoNotOptimize(text.data());
    }
    const double dRate = finish(state, t0);
    state.counters["GB_per_s"] = dRate / 1e9;
    if (g_dPlain[nDirection] > 0) state.counters["vs_plain"] = dRate / g_dPlain[nDirection];
    if (g_dIconv[nDirection] > 0) state.counters["vs_iconv"] = dRate / g_dIconv[nDirection];
}

}  // namespace

static void BM_PlainLoop_EbcdicToAscii(benchmark::State& state) { plainLoop(state, 0); }
static void BM_PlainLoop_AsciiToEbcdic(benchmark::State& state) { plainLoop(state, 1); }
static void BM_Iconv_IBM037_to_Latin1(benchmark::State& state) { viaIconv(state, 0); }
static void BM_Iconv_Latin1_to_IBM037(benchmark::State& state) { viaIconv(state, 1); }
static void BM_EbcdicToAscii(benchmark::State& state) { ours(state, 0); }
static void BM_AsciiToEbcdic(benchmark::State& state) { ours(state, 1); }
BENCHMARK(BM_PlainLoop_EbcdicToAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLoop_AsciiToEbcdic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Iconv_IBM037_to_Latin1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Iconv_Latin1_to_IBM037)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EbcdicToAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AsciiToEbcdic)->Unit(benchmark::kMillisecond);
