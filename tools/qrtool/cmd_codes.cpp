// qrtool: the line and flight commands.
#include <cstring>

#include "commands.h"
#include "qrcore/survey.h"

namespace qrtool {

namespace {

// The library edits names in place (it removes blanks), so it gets a writable copy.
std::vector<char> writable(const std::string& s) {
    std::vector<char> buffer(s.begin(), s.end());
    buffer.push_back('\0');
    return buffer;
}

int reportBad(int nBad, const std::string& sWhat) {
    if (nBad == 0) return kExitOk;
    return fail(kExitFailed, sWhat + ": " + std::to_string(nBad) + (nBad == 1 ? " value" : " values") +
                                 " could not be converted");
}

std::vector<Field> lineParts(const std::string& sInput, int64_t llCode) {
    char szName[64] = "";
    ToCharLineNo(llCode, szName, sizeof szName);
    char szNumber[32] = "", szArea[8] = "";
    char cType = '\0';
    std::vector<char> name = writable(szName);
    SplitCharLineNo(name.data(), szNumber, sizeof szNumber, &cType, szArea, sizeof szArea);
    return {text("input", sInput), number("code", llCode), text("name", szName), text("number", szNumber),
            text("type", cType ? std::string(1, cType) : ""), number("type_index", GetIntLineType(llCode)),
            text("area", szArea), number("area_code", GetIntLineArea(llCode))};
}

int runLineEncode(const Options& options, const Args& args) {
    Listing listing(options, false);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sName) {
        std::vector<char> name = writable(sName);
        int64_t llCode = 0;
        if (!ToIntLineNo(name.data(), &llCode)) {
            fail(kExitFailed, "line encode: '" + sName + "' is not a line name");
            ++nBad;
            return;
        }
        listing.row({text("name", sName), number("code", llCode)});
    });
    return reportBad(nBad, "line encode");
}

int runLineDecode(const Options& options, const Args& args) {
    Listing listing(options, false);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sCode) {
        int64_t llCode = 0;
        char szName[64] = "";
        if (!parseInt64(sCode, llCode) || !ToCharLineNo(llCode, szName, sizeof szName)) {
            fail(kExitFailed, "line decode: '" + sCode + "' is not a line-number code");
            ++nBad;
            return;
        }
        listing.row({number("code", llCode), text("name", szName)});
    });
    return reportBad(nBad, "line decode");
}

int runLineSplit(const Options& options, const Args& args) {
    Listing listing(options, true);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sValue) {
        int64_t llCode = 0;
        if (!parseInt64(sValue, llCode)) {
            std::vector<char> name = writable(sValue);
            if (!ToIntLineNo(name.data(), &llCode)) {
                fail(kExitFailed, "line split: '" + sValue + "' is not a line name");
                ++nBad;
                return;
            }
        }
        listing.row(lineParts(sValue, llCode));
    });
    return reportBad(nBad, "line split");
}

int runFlightEncode(const Options& options, const Args& args) {
    Listing listing(options, false);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sName) {
        std::vector<char> name = writable(sName);
        int32_t lCode = 0;
        if (!ToIntFlightNo(name.data(), &lCode)) {
            fail(kExitFailed, "flight encode: '" + sName + "' is not a flight name");
            ++nBad;
            return;
        }
        listing.row({text("name", sName), number("code", lCode)});
    });
    return reportBad(nBad, "flight encode");
}

int runFlightDecode(const Options& options, const Args& args) {
    Listing listing(options, false);
    int nBad = 0;
    forEachValue(args, [&](const std::string& sCode) {
        int64_t llCode = 0;
        char szName[64] = "";
        if (!parseInt64(sCode, llCode) || llCode < INT32_MIN || llCode > INT32_MAX ||
            !ToCharFlightNo(static_cast<int32_t>(llCode), szName, sizeof szName)) {
            fail(kExitFailed, "flight decode: '" + sCode + "' is not a flight-number code");
            ++nBad;
            return;
        }
        listing.row({number("code", llCode), text("name", szName)});
    });
    return reportBad(nBad, "flight decode");
}

int dispatch(const Args& args, const char* szCommand,
             std::initializer_list<std::pair<const char*, int (*)(const Options&, const Args&)>> actions,
             const Options& options) {
    if (args.empty()) return fail(kExitUsage, std::string(szCommand) + ": missing action (see qrtool " + szCommand + " --help)");
    for (const auto& [szAction, pfnRun] : actions)
        if (args[0] == szAction) return pfnRun(options, Args(args.begin() + 1, args.end()));
    return fail(kExitUsage, std::string(szCommand) + ": unknown action '" + args[0] + "'");
}

}  // namespace

int runLine(const Options& options, const Args& args) {
    return dispatch(args, "line", {{"encode", &runLineEncode}, {"decode", &runLineDecode}, {"split", &runLineSplit}},
                    options);
}

int runFlight(const Options& options, const Args& args) {
    return dispatch(args, "flight", {{"encode", &runFlightEncode}, {"decode", &runFlightDecode}}, options);
}

}  // namespace qrtool
