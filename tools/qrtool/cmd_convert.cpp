// qrtool: angle and time conversions, EBCDIC streams and packed decimal numbers.
#include <cerrno>
#include <charconv>
#include <cstring>

#include "commands.h"
#include "qrcore/convert.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "tool_os.h"

namespace qrtool {

namespace {

struct Conversion {
    const char* szName;
    double(QR_CALL* pfn)(double);  // the library's calling convention (stdcall on 32-bit Windows)
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
        for (const Conversion& conversion : kConversions) printOut("%s\n", conversion.szName);
        return kExitOk;
    }
    const Conversion* pConversion = nullptr;
    for (const Conversion& conversion : kConversions)
        if (equalsIgnoreCase(conversion.szName, args[0])) pConversion = &conversion;
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

// Where a conversion's output goes. A regular file is never written in place: the output is
// written to a new file in its folder, which replaces OUT only when everything was written, so
// a failure leaves OUT as it was. A device or a pipe (OUT is no file that could be replaced) and
// standard output are written directly.
struct Output {
    std::FILE* pFile = nullptr;
    bool bReplacing = false;
    os::Replacement replacement;
};

// Opens the output for sOut ("-": standard output). A regular file that exists goes through the
// overwrite question like every file the tool creates (--yes, or the user at a terminal;
// refused otherwise). Returns 0 or the exit status after a message.
int openOutput(const std::string& sWhat, const std::string& sOut, Output& output) {
    if (sOut == "-") {
        output.pFile = stdout;
        return kExitOk;
    }
    // Every link on the way is resolved here, once, by the tool's own rules (a link another user
    // planted in a shared folder is not followed); what follows works on the resolved target.
    os::Target target;
    std::string sError;
    if (!os::resolveTarget(sOut, target, sError)) return fail(kExitFailed, sWhat + sOut + ": " + sError);
    switch (os::kindOf(target.sPath)) {
    case os::PathKind::Folder:
        return fail(kExitFailed, sWhat + sOut + ": is a folder");
    case os::PathKind::Other:
        output.pFile = os::openForWriting(target, sError);
        if (output.pFile == nullptr) return fail(kExitFailed, sWhat + sOut + ": " + sError);
        return kExitOk;
    case os::PathKind::Regular:
        ReportError(0);
        if (!RequestRewriteFile(sOut.c_str())) return failLibrary(sWhat + sOut);
        break;
    case os::PathKind::Missing:
        break;
    }
    if (!os::beginReplacement(target, output.replacement, sError))
        return fail(kExitFailed, sWhat + sOut + ": " + sError);
    output.pFile = output.replacement.pFile;
    output.bReplacing = true;
    return kExitOk;
}

// Converts a stream of any size in blocks. The library converts zero-terminated text, so each
// block is handed over in the pieces between zero bytes; a zero byte itself is a control code,
// which both tables turn into the target's blank.
int convertStream(const char* szCommand, const Args& args, int32_t(QR_CALL* pfnConvert)(char*), char cBlank) {
    const std::string sWhat = std::string(szCommand) + ": ";
    if (args.size() > 2) return fail(kExitUsage, sWhat + "expected at most IN and OUT");
    const std::string sIn = args.empty() ? "-" : args[0];
    const std::string sOut = args.size() < 2 ? "-" : args[1];

    // Output that would land in the input is refused before anything is opened for writing:
    // the same regular file under any name, link or redirection.
    const os::FileIdentity idIn = sIn == "-" ? os::identityOf(os::Stream::In) : os::identityOf(sIn);
    const os::FileIdentity idOut = sOut == "-" ? os::identityOf(os::Stream::Out) : os::identityOf(sOut);
    if (idIn.bRegular && idIn == idOut)
        return fail(kExitFailed, sWhat + (sOut == "-" ? "standard output" : sOut) + " is the same file as the input " +
                                     (sIn == "-" ? "(standard input)" : sIn) + ": refused, nothing written");

    if (sIn != "-" && os::kindOf(sIn) == os::PathKind::Folder) return fail(kExitFailed, sWhat + sIn + ": is a folder");
    errno = 0;
    std::FILE* pIn = sIn == "-" ? stdin : std::fopen(sIn.c_str(), "rb");
    if (pIn == nullptr) return fail(kExitFailed, sWhat + sIn + ": " + std::strerror(errno));
    Output output;
    if (const int nStatus = openOutput(sWhat, sOut, output); nStatus != kExitOk) {
        if (pIn != stdin) std::fclose(pIn);
        return nStatus;
    }

    constexpr std::size_t kBlock = 1 << 20;
    std::vector<char> buffer(kBlock + 1);
    int nReadError = 0, nWriteError = 0;
    for (;;) {
        errno = 0;
        const std::size_t n = std::fread(buffer.data(), 1, kBlock, pIn);
        if (n == 0) {
            if (std::ferror(pIn) != 0) nReadError = errno != 0 ? errno : EIO;
            break;
        }
        buffer[n] = '\0';
        for (std::size_t i = 0; i < n;) {
            i += static_cast<std::size_t>(pfnConvert(buffer.data() + i));
            if (i < n) buffer[i++] = cBlank;
        }
        if (output.pFile == stdout) {
            writeOut(buffer.data(), n);
            if (outputFailed()) break;  // reported at the end of the run
            continue;
        }
        errno = 0;
        if (std::fwrite(buffer.data(), 1, n, output.pFile) != n) {
            nWriteError = errno != 0 ? errno : EIO;
            break;
        }
    }
    if (pIn != stdin && std::fclose(pIn) != 0 && nReadError == 0) nReadError = errno;

    std::string sError;
    if (nReadError != 0 || nWriteError != 0) {
        if (output.bReplacing) os::abandonReplacement(output.replacement);
        else if (output.pFile != stdout) std::fclose(output.pFile);
        if (nReadError != 0) return fail(kExitFailed, sWhat + sIn + ": " + std::strerror(nReadError) + "; " + sOut + " unchanged");
        return fail(kExitFailed, sWhat + sOut + ": " + std::strerror(nWriteError) +
                                     (output.bReplacing ? "; " + sOut + " unchanged" : ""));
    }
    if (output.bReplacing) {
        if (!os::commitReplacement(output.replacement, sError))
            return fail(kExitFailed, sWhat + sOut + ": " + sError + "; " + sOut + " unchanged");
    } else if (output.pFile != stdout) {
        errno = 0;
        if (std::fclose(output.pFile) != 0) return fail(kExitFailed, sWhat + sOut + ": " + std::strerror(errno));
    }
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
