// qrtool: angle and time conversions, EBCDIC streams and packed decimal numbers.
#include <cerrno>
#include <charconv>
#include <cstring>
#include <strings.h>

#include "commands.h"
#include "qrcore/convert.h"

namespace qrtool {

namespace {

struct Conversion {
    const char* szName;
    double (*pfn)(double);
};

const Conversion kConversions[] = {
    {"SecondToHMS", &SecondToHMS},       {"HMSToSecond", &HMSToSecond},     {"HMSToHour", &HMSToHour},
    {"HourToHMS", &HourToHMS},           {"SecondToDMS", &SecondToDMS},     {"DMSToSecond", &DMSToSecond},
    {"DMSToDegree", &DMSToDegree},       {"DegreeToDMS", &DegreeToDMS},     {"DMSToRadian", &DMSToRadian},
    {"RadianToDMS", &RadianToDMS},       {"DegreeToRadian", &DegreeToRadian}, {"RadianToDegree", &RadianToDegree},
    {"SecondToRadian", &SecondToRadian}, {"RadianToSecond", &RadianToSecond}, {"DMToDegree", &DMToDegree},
    {"DegreeToDM", &DegreeToDM},         {"DMToRadian", &DMToRadian},       {"RadianToDM", &RadianToDM},
    {"DMToDMS", &DMToDMS},               {"DMSToDM", &DMSToDM},
};

// The shortest text that reads back as the same double.
std::string shortest(double d) {
    char szText[64];
    const auto result = std::to_chars(szText, szText + sizeof szText, d);
    return std::string(szText, result.ptr);
}

}  // namespace

int runAngle(const Options& options, const Args& args) {
    if (args.empty()) return fail(kExitUsage, "angle: missing conversion (see qrtool angle --help)");
    if (args[0] == "list") {
        for (const Conversion& conversion : kConversions) std::printf("%s\n", conversion.szName);
        return kExitOk;
    }
    const Conversion* pConversion = nullptr;
    for (const Conversion& conversion : kConversions)
        if (::strcasecmp(conversion.szName, args[0].c_str()) == 0) pConversion = &conversion;
    if (pConversion == nullptr)
        return fail(kExitUsage, "angle: unknown conversion '" + args[0] + "' (qrtool angle list shows them)");

    Listing listing(options, false);
    int nBad = 0;
    forEachValue(Args(args.begin() + 1, args.end()), [&](const std::string& sValue) {
        double dValue = 0;
        if (!parseDouble(sValue, dValue)) {
            fail(kExitUsage, "angle: '" + sValue + "' is not a number");
            ++nBad;
            return;
        }
        listing.row({rawJson("value", shortest(dValue)), rawJson("result", shortest(pConversion->pfn(dValue)))});
    });
    return nBad == 0 ? kExitOk : kExitUsage;
}

namespace {

// Converts a stream of any size in blocks. The library converts zero-terminated text, so each
// block is handed over in the pieces between zero bytes; a zero byte itself is a control code,
// which both tables turn into the target's blank.
int convertStream(const char* szCommand, const Args& args, int32_t (*pfnConvert)(char*), char cBlank) {
    if (args.size() > 2) return fail(kExitUsage, std::string(szCommand) + ": expected at most IN and OUT");
    const std::string sIn = args.empty() ? "-" : args[0];
    const std::string sOut = args.size() < 2 ? "-" : args[1];
    std::FILE* pIn = sIn == "-" ? stdin : std::fopen(sIn.c_str(), "rb");
    if (pIn == nullptr) return fail(kExitFailed, std::string(szCommand) + ": " + sIn + ": " + std::strerror(errno));
    std::FILE* pOut = sOut == "-" ? stdout : std::fopen(sOut.c_str(), "wb");
    if (pOut == nullptr) {
        if (pIn != stdin) std::fclose(pIn);
        return fail(kExitFailed, std::string(szCommand) + ": " + sOut + ": " + std::strerror(errno));
    }
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<char> buffer(kBlock + 1);
    bool bOk = true;
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, kBlock, pIn);
        if (n == 0) break;
        buffer[n] = '\0';
        for (std::size_t i = 0; i < n;) {
            i += static_cast<std::size_t>(pfnConvert(buffer.data() + i));
            if (i < n) buffer[i++] = cBlank;
        }
        if (std::fwrite(buffer.data(), 1, n, pOut) != n) {
            bOk = false;
            break;
        }
    }
    const bool bReadError = std::ferror(pIn) != 0;
    if (pIn != stdin) std::fclose(pIn);
    const bool bCloseFailed = pOut != stdout ? std::fclose(pOut) != 0 : std::fflush(pOut) != 0;
    if (bReadError) return fail(kExitFailed, std::string(szCommand) + ": " + sIn + ": read error");
    if (!bOk || bCloseFailed) return fail(kExitFailed, std::string(szCommand) + ": " + sOut + ": write error");
    return kExitOk;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int runEbcdicToAscii(const Options&, const Args& args) { return convertStream("ebcdic2ascii", args, &EbcdicToAscii, ' '); }

int runAsciiToEbcdic(const Options&, const Args& args) {
    return convertStream("ascii2ebcdic", args, &AsciiToEbcdic, '\x40');
}

int runBcd(const Options& options, const Args& args) {
    Listing listing(options, false);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sHex) {
        std::string sDigits = sHex;
        if (sDigits.rfind("0x", 0) == 0 || sDigits.rfind("0X", 0) == 0) sDigits.erase(0, 2);
        std::vector<unsigned char> bytes;
        bool bValid = !sDigits.empty() && sDigits.size() % 2 == 0 && sDigits.size() <= 2 * 64;
        for (std::size_t i = 0; bValid && i < sDigits.size(); i += 2) {
            const int nHigh = hexValue(sDigits[i]), nLow = hexValue(sDigits[i + 1]);
            bValid = nHigh >= 0 && nLow >= 0;
            bytes.push_back(static_cast<unsigned char>(nHigh * 16 + nLow));
        }
        if (!bValid) {
            fail(kExitUsage, "bcd: '" + sHex + "' is not an even number of hexadecimal digits (at most 64 bytes)");
            ++nBad;
            return;
        }
        listing.row({text("bytes", sHex), number("value", BcdTol(bytes.data(), static_cast<int32_t>(bytes.size())))});
    });
    return nBad == 0 ? kExitOk : kExitUsage;
}

}  // namespace qrtool
