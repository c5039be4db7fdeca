// Benchmark of the survey codecs: 10 million mixed line names (and as many flight names) coded
// and printed, against a plain strtol parser and snprintf formatter of the same fields.
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "qrcore/survey.h"

namespace {

constexpr size_t kCount = 10'000'000;
constexpr size_t kSlot = 16;  // each name sits in a zero-padded 16-byte slot

// ---- the baseline: the obvious code with the C library's parsing and formatting ----

void baselineRemoveBlanks(char* szText) {
    char* pWrite = szText;
    for (char* pRead = szText; *pRead; ++pRead)
        if (*pRead != ' ') *pWrite++ = *pRead;
    *pWrite = '\0';
}

int baselineAreaValue(char c) {
    const int n = (c >= 'a' && c <= 'z' ? c - 32 : c) - 64;
    return n >= 0 && n <= 26 ? n : -1;
}

// Area code of the nCount characters at szArea, or -1.
int baselineArea(const char* szArea, long nCount) {
    if (nCount == 0) return 0;
    if (nCount > 2) return -1;
    const int nLast = baselineAreaValue(szArea[nCount - 1]);
    if (nLast < 0 || nCount == 1) return nLast;
    const int nFirst = baselineAreaValue(szArea[0]);
    if (nFirst < 0 || nFirst * 26 + nLast > 127) return -1;
    return nFirst * 26 + nLast;
}

template <typename Code>
bool baselineParse(char* szText, const char* szTypes, long lMax, int nTypeShift, int nAreaShift, size_t nMaxLength,
                   Code* pCode) {
    baselineRemoveBlanks(szText);
    if (std::strcmp(szText, "RESET") == 0) { *pCode = -1; return true; }
    if (std::strcmp(szText, "NEXTIND") == 0) { *pCode = 0; return true; }
    if (std::strcmp(szText, "DUMMY") == 0) { *pCode = -32767; return true; }
    *pCode = -32767;
    if (std::strlen(szText) > nMaxLength) return false;
    const char* pDigit = szText + std::strcspn(szText, "0123456789");
    long lNumber = 0;
    if (*pDigit != '\0') {
        errno = 0;
        lNumber = std::strtol(pDigit, nullptr, 10);
        if (errno == ERANGE || lNumber > lMax) return false;
    }
    int64_t llCode = lNumber;
    if (pDigit != szText) {
        const char* pType = std::strchr(szTypes, std::toupper(static_cast<unsigned char>(pDigit[-1])));
        if (pType == nullptr) return false;
        const int nArea = baselineArea(szText, pDigit - 1 - szText);
        if (nArea < 0) return false;
        llCode += (int64_t{pType - szTypes} + 1) << nTypeShift;
        llCode += int64_t{nArea} << nAreaShift;
    }
    *pCode = static_cast<Code>(llCode);
    return true;
}

bool baselineFormat(int64_t llAbs, int nType, int nArea, const char* szTypes, const char* szFormat,
                    long lNumber, char* szBuffer, int nSize) {
    char szLetters[4] = {0, 0, 0, 0};
    int n = 0;
    if ((nArea - 1) / 26 > 0) szLetters[n++] = static_cast<char>('@' + (nArea - 1) / 26);
    if (nArea > 0) szLetters[n++] = static_cast<char>('A' + (nArea - 1) % 26);
    if (nArea > 0 || nType > 0) szLetters[n++] = szTypes[nType > 0 ? nType - 1 : 0];
    (void)llAbs;
    const int nLength = std::snprintf(szBuffer, static_cast<size_t>(nSize), szFormat, szLetters, lNumber);
    return nLength >= 0 && nLength < nSize;
}

bool baselineLineToChar(int64_t llCode, char* szBuffer, int nSize) {
    if (llCode == -1) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "RESET") < nSize;
    if (llCode == 0) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "NEXTIND") < nSize;
    if (llCode == -32767) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "DUMMY") < nSize;
    const int64_t llAbs = std::llabs(llCode);
    const int nType = static_cast<int8_t>((llAbs >> 32) & 0xFF);
    const int nArea = static_cast<int8_t>((llAbs >> 40) & 0xFF);
    if (nType > 7) { std::snprintf(szBuffer, static_cast<size_t>(nSize), "DUMMY"); return false; }
    return baselineFormat(llAbs, nType, nArea, "LBTRSPD", "%s%04ld", static_cast<int32_t>(llAbs & 0xFFFFFFFF),
                          szBuffer, nSize);
}

bool baselineFlightToChar(int32_t lCode, char* szBuffer, int nSize) {
    if (lCode == -1) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "RESET") < nSize;
    if (lCode == 0) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "NEXTIND") < nSize;
    if (lCode == -32767) return std::snprintf(szBuffer, static_cast<size_t>(nSize), "DUMMY") < nSize;
    const int64_t llAbs = std::llabs(int64_t{lCode}) & 0xFFFFFFFF;
    const int nType = static_cast<int8_t>((llAbs >> 16) & 0xFF);
    const int nArea = static_cast<int8_t>((llAbs >> 24) & 0xFF);
    if (nType > 5) { std::snprintf(szBuffer, static_cast<size_t>(nSize), "DUMMY"); return false; }
    return baselineFormat(llAbs, nType, nArea, "NSCTI", "%s%02ld", static_cast<long>(llAbs & 0xFFFF), szBuffer, nSize);
}

// ---- the mixed names ----

struct Names {
    std::unique_ptr<char[]> pLineText, pFlightText;
    std::unique_ptr<int64_t[]> pLineCode;
    std::unique_ptr<int32_t[]> pFlightCode;
};

// Keywords now and then; areas none, one or two letters (some lower case); every type letter;
// numbers mostly short and zero-padded, some up to the largest; some names with blanks.
void makeName(std::mt19937_64& rng, bool bLine, char* pSlot, int64_t* pllCode) {
    const char* szTypes = bLine ? "LBTRSPD" : "NSCTI";
    const unsigned nTypes = bLine ? 7 : 5;
    const uint64_t r = rng();
    if (r % 100 == 0) {
        static const char* const kKeywords[] = {"RESET", "NEXTIND", "DUMMY"};
        static const int64_t kCodes[] = {-1, 0, -32767};
        std::strcpy(pSlot, kKeywords[(r >> 8) % 3]);
        *pllCode = kCodes[(r >> 8) % 3];
        return;
    }
    const unsigned nAreaKind = (r >> 10) % 10;
    const unsigned nArea = nAreaKind < 4 ? 0 : nAreaKind < 7 ? 1 + (r >> 16) % 26 : 27 + (r >> 16) % 101;
    const unsigned nType = (r >> 24) % 20 == 0 && nArea == 0 ? 0 : 1 + (r >> 28) % nTypes;
    uint32_t nNumber = 0;
    const unsigned nNumberKind = (r >> 32) % 10;
    if (bLine) nNumber = static_cast<uint32_t>(nNumberKind < 7 ? (r >> 36) % 10000 : nNumberKind < 9 ? (r >> 36) % 1000000 : (r >> 33) % 2147483648u);
    else nNumber = static_cast<uint32_t>(nNumberKind < 8 ? (r >> 36) % 100 : (r >> 36) % 65536);
    if (nArea == 0 && nType == 0 && nNumber == 0) nNumber = 1;

    char szName[16];
    int n = 0;
    const bool bLower = (r >> 44) % 10 == 0;
    auto letter = [bLower](char c) { return bLower ? static_cast<char>(c + 32) : c; };
    if (nArea > 26) szName[n++] = letter(static_cast<char>('@' + (nArea - 1) / 26));
    if (nArea > 0) szName[n++] = letter(static_cast<char>('A' + (nArea - 1) % 26));
    if (nType > 0) szName[n++] = letter(szTypes[nType - 1]);
    n += std::snprintf(szName + n, sizeof szName - static_cast<size_t>(n), (r >> 48) % 4 == 0 ? "%u" : (bLine ? "%04u" : "%02u"), nNumber);
    if ((r >> 52) % 20 == 0 && n < 13) {  // blanks before, between and after
        pSlot[0] = ' ';
        pSlot[1] = szName[0];
        pSlot[2] = ' ';
        std::memcpy(pSlot + 3, szName + 1, static_cast<size_t>(n) - 1);
        pSlot[n + 2] = ' ';
        pSlot[n + 3] = '\0';
    } else {
        std::memcpy(pSlot, szName, static_cast<size_t>(n) + 1);
    }
    *pllCode = bLine ? int64_t{nNumber} + (int64_t{nType} << 32) + (int64_t{nArea} << 40)
                     : int64_t{static_cast<int32_t>(nNumber + (nType << 16) + (nArea << 24))};
}

const Names& names() {
    static const Names* pNames = [] {
        auto* p = new Names;
        p->pLineText.reset(new char[kCount * kSlot]());
        p->pFlightText.reset(new char[kCount * kSlot]());
        p->pLineCode.reset(new int64_t[kCount]);
        p->pFlightCode.reset(new int32_t[kCount]);
        std::mt19937_64 rng(42);
        for (size_t i = 0; i < kCount; ++i) {
            makeName(rng, true, p->pLineText.get() + i * kSlot, &p->pLineCode[i]);
            int64_t llFlight = 0;
            makeName(rng, false, p->pFlightText.get() + i * kSlot, &llFlight);
            p->pFlightCode[i] = static_cast<int32_t>(llFlight);
        }
        // Both sides must agree with the generator before anything is timed.
        for (size_t i = 0; i < kCount; ++i) {
            char szOurs[kSlot], szBase[kSlot];
            std::memcpy(szOurs, p->pLineText.get() + i * kSlot, kSlot);
            std::memcpy(szBase, szOurs, kSlot);
            int64_t llOurs = 1, llBase = 2;
            const bool bOurs = ToIntLineNo(szOurs, &llOurs);
            const bool bBase = baselineParse(szBase, "LBTRSPD", 2147483647L, 32, 40, 16, &llBase);
            char szPrintOurs[kSlot], szPrintBase[kSlot];
            ToCharLineNo(p->pLineCode[i], szPrintOurs, kSlot);
            baselineLineToChar(p->pLineCode[i], szPrintBase, kSlot);
            if (!bOurs || !bBase || llOurs != p->pLineCode[i] || llBase != llOurs || std::strcmp(szPrintOurs, szPrintBase) != 0) {
                std::fprintf(stderr, "line name %zu disagrees\n", i);
                std::abort();
            }
            std::memcpy(szOurs, p->pFlightText.get() + i * kSlot, kSlot);
            std::memcpy(szBase, szOurs, kSlot);
            int32_t lOurs = 1, lBase = 2;
            const bool bFlightOurs = ToIntFlightNo(szOurs, &lOurs);
            const bool bFlightBase = baselineParse(szBase, "NSCTI", 65535L, 16, 24, SIZE_MAX, &lBase);
            ToCharFlightNo(p->pFlightCode[i], szPrintOurs, kSlot);
            baselineFlightToChar(p->pFlightCode[i], szPrintBase, kSlot);
            if (!bFlightOurs || !bFlightBase || lOurs != p->pFlightCode[i] || lBase != lOurs || std::strcmp(szPrintOurs, szPrintBase) != 0) {
                std::fprintf(stderr, "flight name %zu disagrees\n", i);
                std::abort();
            }
        }
        return p;
    }();
    return *pNames;
}

// ---- the timed loops; the text is copied to a scratch slot first, since decoding edits it ----

template <typename Decode>
void runDecode(benchmark::State& state, const char* pText, Decode decode) {
    for (auto _ : state) {
        int64_t llSum = 0;
        for (size_t i = 0; i < kCount; ++i) {
            char szText[kSlot];
            std::memcpy(szText, pText + i * kSlot, kSlot);
            llSum += decode(szText);
        }
        benchmark::DoNotOptimize(llSum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCount));
}

template <typename Code, typename Encode>
void runEncode(benchmark::State& state, const Code* pCode, Encode encode) {
    for (auto _ : state) {
        unsigned nSum = 0;
        for (size_t i = 0; i < kCount; ++i) {
            char szText[kSlot];
            encode(pCode[i], szText);
            nSum += static_cast<unsigned char>(szText[0]) + static_cast<unsigned char>(szText[3]);
        }
        benchmark::DoNotOptimize(nSum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kCount));
}

void LineDecode_Library(benchmark::State& state) {
    runDecode(state, names().pLineText.get(), [](char* szText) {
        int64_t llCode = 0;
        ToIntLineNo(szText, &llCode);
        return llCode;
    });
}
void LineDecode_Baseline(benchmark::State& state) {
    runDecode(state, names().pLineText.get(), [](char* szText) {
        int64_t llCode = 0;
        baselineParse(szText, "LBTRSPD", 2147483647L, 32, 40, 16, &llCode);
        return llCode;
    });
}
void LineEncode_Library(benchmark::State& state) {
    runEncode(state, names().pLineCode.get(), [](int64_t llCode, char* szText) { ToCharLineNo(llCode, szText, kSlot); });
}
void LineEncode_Baseline(benchmark::State& state) {
    runEncode(state, names().pLineCode.get(), [](int64_t llCode, char* szText) { baselineLineToChar(llCode, szText, kSlot); });
}
void FlightDecode_Library(benchmark::State& state) {
    runDecode(state, names().pFlightText.get(), [](char* szText) {
        int32_t lCode = 0;
        ToIntFlightNo(szText, &lCode);
        return int64_t{lCode};
    });
}
void FlightDecode_Baseline(benchmark::State& state) {
    runDecode(state, names().pFlightText.get(), [](char* szText) {
        int32_t lCode = 0;
        baselineParse(szText, "NSCTI", 65535L, 16, 24, SIZE_MAX, &lCode);
        return int64_t{lCode};
    });
}
void FlightEncode_Library(benchmark::State& state) {
    runEncode(state, names().pFlightCode.get(), [](int32_t lCode, char* szText) { ToCharFlightNo(lCode, szText, kSlot); });
}
void FlightEncode_Baseline(benchmark::State& state) {
    runEncode(state, names().pFlightCode.get(), [](int32_t lCode, char* szText) { baselineFlightToChar(lCode, szText, kSlot); });
}

}  // namespace

BENCHMARK(LineDecode_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(LineDecode_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(LineEncode_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(LineEncode_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(FlightDecode_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(FlightDecode_Library)->Unit(benchmark::kMillisecond);
BENCHMARK(FlightEncode_Baseline)->Unit(benchmark::kMillisecond);
BENCHMARK(FlightEncode_Library)->Unit(benchmark::kMillisecond);
