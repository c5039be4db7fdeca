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

// Runs fnConvert on every value; a value it cannot convert is reported on standard error and
// fails the run, the others are listed.
int convertEach(const Options& options, const Args& args, bool bHeader, const std::string& sCommand,
                const char* szKind, const std::function<bool(const std::string&, Listing&)>& fnConvert) {
    int nBad = 0;
    {
        Listing listing(options, bHeader);
        forEachValue(args, [&](const std::string& sValue) {
            if (fnConvert(sValue, listing)) return;
            fail(kExitFailed, sCommand + ": '" + sValue + "' is not " + szKind);
            ++nBad;
        });
    }
    if (nBad == 0) return kExitOk;
    return fail(kExitFailed, sCommand + ": " + std::to_string(nBad) + (nBad == 1 ? " value" : " values") +
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
    return convertEach(options, args, false, "line encode", "a line name", [](const std::string& sName, Listing& listing) {
        std::vector<char> name = writable(sName);
        int64_t llCode = 0;
        if (!ToIntLineNo(name.data(), &llCode)) return false;
        listing.row({text("name", sName), number("code", llCode)});
        return true;
    });
}

int runLineDecode(const Options& options, const Args& args) {
    return convertEach(options, args, false, "line decode", "a line-number code", [](const std::string& sCode, Listing& listing) {
        int64_t llCode = 0;
        char szName[64] = "";
        if (!parseInt64(sCode, llCode) || !ToCharLineNo(llCode, szName, sizeof szName)) return false;
        listing.row({number("code", llCode), text("name", szName)});
        return true;
    });
}

int runLineSplit(const Options& options, const Args& args) {
    return convertEach(options, args, true, "line split", "a line name or code", [](const std::string& sValue, Listing& listing) {
        int64_t llCode = 0;
        if (!parseInt64(sValue, llCode)) {
            std::vector<char> name = writable(sValue);
            if (!ToIntLineNo(name.data(), &llCode)) return false;
        }
        listing.row(lineParts(sValue, llCode));
        return true;
    });
}

int runFlightEncode(const Options& options, const Args& args) {
    return convertEach(options, args, false, "flight encode", "a flight name", [](const std::string& sName, Listing& listing) {
        std::vector<char> name = writable(sName);
        int32_t lCode = 0;
        if (!ToIntFlightNo(name.data(), &lCode)) return false;
        listing.row({text("name", sName), number("code", lCode)});
        return true;
    });
}

int runFlightDecode(const Options& options, const Args& args) {
    return convertEach(options, args, false, "flight decode", "a flight-number code", [](const std::string& sCode, Listing& listing) {
        int64_t llCode = 0;
        char szName[64] = "";
        if (!parseInt64(sCode, llCode) || llCode < INT32_MIN || llCode > INT32_MAX ||
            !ToCharFlightNo(static_cast<int32_t>(llCode), szName, sizeof szName))
            return false;
        listing.row({number("code", llCode), text("name", szName)});
        return true;
    });
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
