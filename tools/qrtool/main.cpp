// qrtool: survey data from the shell — line and flight codes, in-place edits of large files,
// mapped views, record layouts and conversions, all done by the QRCore library.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "tool_os.h"

namespace {

void printToolHelp() {
    qrtool::printOut(
        "Usage: qrtool [--yes] [--json] COMMAND [ARGUMENTS]\n"
        "\n"
        "Survey data from the shell, done by the QRCore library.\n"
        "\n"
        "Commands:\n");
    for (const qrtool::Command& command : qrtool::commands())
        qrtool::printOut("  %-14s %s\n", command.szName, command.szSummary);
    qrtool::printOut(
        "\n"
        "Options:\n"
        "  -y, --yes      answer yes when a file would be overwritten\n"
        "      --json     print listings as JSON (a command that has no JSON form refuses it)\n"
        "  -q, --quiet    no notes, summaries or progress on standard error: errors only\n"
        "      --stats    scan: the range of every numeric column per survey line\n"
        "      --ebcdic   view: the text column read as EBCDIC\n"
        "      --codepage 037|1047|table\n"
        "                 segy, view --ebcdic: the EBCDIC code page (default: 037, or 1047 when\n"
        "                 the text's brackets say so; 'table' is the library's table, which\n"
        "                 keeps printable ASCII only)\n"
        "      --traces RANGE, --fields LIST, --trace-summary, --all\n"
        "                 segy: trace headers and the whole binary header (see qrtool segy --help)\n"
        "      --line-column NAME|N, --flight-column NAME|N, --dfn FILE, --null [CHANNEL=]VALUE,\n"
        "      --delimiter ,|;|blank   scan, columns: how to read survey text (see qrtool scan --help)\n"
        "  -h, --help     show this help, or a command's help after its name\n"
        "      --version  show the version\n"
        "\n"
        "Sizes and positions take the suffixes K, M, G and T (powers of 1024): 4K, 1M, 2G, or\n"
        "are hexadecimal after 0x: 0x0C80.\n"
        "Standard output carries only data; summaries such as 'insert: FILE: 10 -> 20 bytes' and\n"
        "notes go to standard error.\n"
        "Exit status: 0 done, 1 the work failed, 2 the command line was wrong.\n"
        "Run 'qrtool COMMAND --help' for a command's arguments.\n");
}

}  // namespace

namespace {

// Where the value of an option that takes one goes; null for any other argument.
std::string* valueOption(const std::string& sArg, qrtool::Options& options) {
    const std::string sName = sArg.substr(0, sArg.find('='));
    if (sName == "--codepage") return &options.sCodepage;
    if (sName == "--traces") return &options.sTraces;
    if (sName == "--fields") return &options.sFields;
    return nullptr;
}

int run(int argc, char** argv) {
    qrtool::Options options;
    std::vector<std::string> args;
    bool bOptionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string sArg = argv[i];
        if (bOptionsEnded || sArg.size() < 2 || sArg[0] != '-' || (sArg[1] >= '0' && sArg[1] <= '9') || sArg[1] == '.') {
            args.push_back(sArg);  // values such as -130.5 are arguments, not options
        } else if (sArg == "--") {
            bOptionsEnded = true;
        } else if (sArg == "-y" || sArg == "--yes") {
            options.bYes = true;
        } else if (sArg == "--json") {
            options.bJson = true;
        } else if (sArg == "--stats") {
            options.bStats = true;
        } else if (sArg == "--ebcdic") {
            options.bEbcdic = true;
        } else if (sArg == "-q" || sArg == "--quiet") {
            options.bQuiet = true;
        } else if (sArg == "--trace-summary") {
            options.bTraceSummary = true;
        } else if (sArg == "--all") {
            options.bAll = true;
        } else if (const int nTaken = qrtool::takeValueOption(options, argc, argv, i); nTaken != 0) {
            if (nTaken < 0) return qrtool::fail(qrtool::kExitUsage, "option '" + sArg + "' needs a value (see qrtool --help)");
        } else if (std::string* pValue = valueOption(sArg, options); pValue != nullptr) {
            // "--name VALUE" or "--name=VALUE"
            const std::size_t nEquals = sArg.find('=');
            if (nEquals != std::string::npos) *pValue = sArg.substr(nEquals + 1);
            else if (i + 1 < argc) *pValue = argv[++i];
            else return qrtool::fail(qrtool::kExitUsage, "option '" + sArg + "' needs a value");
        } else if (sArg == "-h" || sArg == "--help") {
            options.bHelp = true;
        } else if (sArg == "--version") {
            qrtool::printOut("qrtool %s\n", QRTOOL_VERSION);
            return qrtool::kExitOk;
        } else {
            return qrtool::fail(qrtool::kExitUsage, "unknown option '" + sArg + "' (see qrtool --help)");
        }
    }
    if (args.empty()) {
        if (options.bHelp) {
            printToolHelp();
            return qrtool::kExitOk;
        }
        printToolHelp();
        return qrtool::kExitUsage;
    }
    const std::string sName = args.front();
    args.erase(args.begin());
    for (const qrtool::Command& command : qrtool::commands()) {
        if (sName != command.szName) continue;
        if (options.bHelp) {
            qrtool::printOut("Usage: qrtool %s\n", command.szUsage);
            return qrtool::kExitOk;
        }
        // Their output is the converted bytes or files written: there is nothing to give as JSON.
        for (const char* szPlain : {"ebcdic2ascii", "ascii2ebcdic", "sample"})
            if (options.bJson && sName == szPlain)
                return qrtool::fail(qrtool::kExitUsage, sName + ": --json is not offered (its output is not a listing)");
        qrtool::installNoticeHandler(options);
        return command.pfnRun(options, args);
    }
    return qrtool::fail(qrtool::kExitUsage, "unknown command '" + sName + "' (see qrtool --help)");
}

}  // namespace

int main(int argc, char** argv) {
    qrtool::os::prepareStreams();
    return qrtool::finishOutput(run(argc, argv));
}
