// Test helper for the space tests: a second real process that runs one space function on a file
// (or recovers it) and prints "<1|0> <error number> <last system error>" on standard output.
//   space_child [OPTIONS] FILE allocate POS SIZE | free POS SIZE | move SRC DST LENGTH |
//                              zero POS SIZE | recover
// Options:
//   --fsize-limit N     the process may not write files larger than N bytes (writes past it fail)
//   --journal on|off    the journal of interrupted edits (on by default)
//   --window N          the journal window
//   --kill-at OP:N      the process kills itself at the Nth call of OP (write, flush, read, seek,
//                       open, delete) that reaches the platform seam, before the call is made
//   --kill-at-report N  the process kills itself at the Nth progress report
//   --power-cut-at N:S  (the power-cut build only) the power goes at the Nth call that changes a
//                       file or folder entry, S choosing what reached the disk (power_cut_posix.h)
// A process that killed itself prints nothing.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fileapi/edit_journal.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "support/child.h"
#ifdef QRTEST_POWER_CUT
#include "power_cut_posix.h"
#endif

namespace {

using qr::sys::Op;

int64_t number(const char* szText) { return std::strtoll(szText, nullptr, 0); }

Op g_killOp = Op::Count;
int64_t g_llKillCall = 0;
int64_t g_llKillReport = 0;
int64_t g_llPowerCut = 0;
uint64_t g_nPowerSeed = 0;

void killAtCall(Op op, int64_t llCall) {
    if (op == g_killOp && llCall == g_llKillCall) qrtest::killThisProcess();
}

void killAtReport(int64_t, int64_t, void*) {
    if (--g_llKillReport == 0) qrtest::killThisProcess();
}

bool parseKillCall(const std::string& sSpec) {
    const std::size_t nColon = sSpec.find(':');
    if (nColon == std::string::npos) return false;
    const std::string sOp = sSpec.substr(0, nColon);
    const struct {
        const char* szName;
        Op op;
    } ops[] = {{"write", Op::Write}, {"flush", Op::Flush}, {"read", Op::Read},
               {"seek", Op::Seek},   {"open", Op::Open},   {"delete", Op::Delete}};
    for (const auto& entry : ops)
        if (sOp == entry.szName) g_killOp = entry.op;
    g_llKillCall = number(sSpec.c_str() + nColon + 1);
    return g_killOp != Op::Count && g_llKillCall > 0;
}

bool runEdit(void* hFile, const std::string& sOp, const std::vector<int64_t>& values) {
    if (sOp == "allocate" && values.size() == 2) return AllocateDiskSpace(hFile, values[0], values[1]);
    if (sOp == "free" && values.size() == 2) return FreeDiskSpace(hFile, values[0], values[1]);
    if (sOp == "zero" && values.size() == 2) return InitiateSpaceIntoZero(hFile, values[0], values[1]);
    if (sOp == "move" && values.size() == 3) {
        const _tagMoveData move{values[0], values[1], values[2]};
        return MoveData(hFile, &move);
    }
    std::fprintf(stderr, "space_child: unknown operation %s\n", sOp.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    CloseErrorWin();
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        const std::string sOption = argv[i];
        const char* szValue = argv[i + 1];
        if (sOption == "--fsize-limit") {
            if (!qrtest::limitFileSize(number(szValue))) return 3;
        } else if (sOption == "--journal") {
            QR_SetSpaceJournal(std::strcmp(szValue, "off") != 0);
        } else if (sOption == "--window") {
            qr::setJournalWindow(number(szValue));
        } else if (sOption == "--kill-at") {
            if (!parseKillCall(szValue)) return 2;
        } else if (sOption == "--kill-at-report") {
            g_llKillReport = number(szValue);
        } else if (sOption == "--power-cut-at") {
            g_llPowerCut = number(szValue);
            const char* szSeed = std::strchr(szValue, ':');
            g_nPowerSeed = szSeed != nullptr ? static_cast<uint64_t>(number(szSeed + 1)) : 0;
        } else {
            return 2;
        }
    }
    if (argc - i < 2) return 2;
    const char* szFile = argv[i];
    const std::string sOp = argv[i + 1];
    std::vector<int64_t> values;
    for (int j = i + 2; j < argc; ++j) values.push_back(number(argv[j]));

    // The seam counts from here: the kill point is counted within the operation itself.
    qr::sys::clearFaults();
    if (g_killOp != Op::Count) qr::sys::setCallObserver(&killAtCall);
    if (g_llKillReport > 0) QR_SetProgressHook(&killAtReport, nullptr);
#ifdef QRTEST_POWER_CUT
    if (g_llPowerCut > 0) armPowerCut(g_llPowerCut, g_nPowerSeed);
#else
    if (g_llPowerCut > 0) return 2;
#endif
    if (sOp == "recover") {
        bool bRecovered = false;
        const bool bOk = QR_RecoverFile(szFile, &bRecovered);
        std::printf("%d %d %u %d\n", bOk ? 1 : 0, GetDllErrorNo(), bOk ? 0u : qr::sys::lastError(), bRecovered ? 1 : 0);
        return 0;
    }
    void* hFile = nullptr;
    if (!QR_OpenFile(&hFile, szFile, 0)) {
        std::printf("0 %d %u\n", GetDllErrorNo(), qr::sys::lastError());
        return 0;
    }
    ReportError(0);
    const bool bOk = runEdit(hFile, sOp, values);
    const uint32_t nLast = qr::sys::lastError();
    std::printf("%d %d %u\n", bOk ? 1 : 0, GetDllErrorNo(), bOk ? 0u : nLast);
    QR_CloseFile(hFile);
    return 0;
}
