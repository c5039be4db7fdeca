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
        "      --json     print listings as JSON\n"
        "      --stats    scan: the range of every numeric column per survey line\n"
        "      --ebcdic   view: the text column read through the EBCDIC table\n"
        "      --line-column NAME|N, --flight-column NAME|N, --dfn FILE, --null [CHANNEL=]VALUE,\n"
        "      --delimiter ,|;|blank   scan, columns: how to read survey text (see qrtool scan --help)\n"
        "  -h, --help     show this help, or a command's help after its name\n"
        "      --version  show the version\n"
        "\n"
        "Sizes and positions take the suffixes K, M, G and T (powers of 1024): 4K, 1M, 2G, or\n"
        "are hexadecimal after 0x: 0x0C80.\n"
        "Exit status: 0 done, 1 the work failed, 2 the command line was wrong.\n"
        "Run 'qrtool COMMAND --help' for a command's arguments.\n");
}

}  // namespace

namespace {

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
        } else if (const int nTaken = qrtool::takeValueOption(options, argc, argv, i); nTaken != 0) {
            if (nTaken < 0) return qrtool::fail(qrtool::kExitUsage, "option '" + sArg + "' needs a value (see qrtool --help)");
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
