// qrtool: in-place edits of large files (insert, remove, move, zero) through the space functions.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "commands.h"
#include "per_file.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "tool_os.h"

namespace qrtool {

namespace {

bool g_bJson = false;  // --json: the summary as an object on standard output

// Shown only at a terminal; the library calls it at a bounded rate during long operations.
void showProgress(int64_t llDone, int64_t llTotal, void* pContext) {
    static_cast<ProgressDisplay*>(pContext)->show(llDone, llTotal);
}

// An edit at the very end of the file, which the library's space functions refuse (inserting
// at the end; removing a range that reaches it) but the user may well ask for. Returns the exit
// status, or -1 when the edit does not touch the end. hFile is the edit's open handle; the
// function closes it (and sets it null) when it acts.
using AtEndEdit = int (*)(const char* szVerb, void*& hFile, const std::string& sFile, const int64_t* pllValues,
                          int64_t llSize);

// The outcome: "insert: FILE: 10 -> 20 bytes" on standard error, or with --json the same as an
// object on standard output.
void printSummary(const char* szVerb, const std::string& sFile, int64_t llBefore) {
    std::error_code ec;
    const auto llAfter = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    if (g_bJson) {
        printOut("{\"command\": \"%s\", \"file\": %s, \"size_before\": %lld, \"size_after\": %lld}\n", szVerb,
                 jsonString(sFile).c_str(), static_cast<long long>(llBefore), static_cast<long long>(llAfter));
        return;
    }
    note(std::string(szVerb) + ": " + sFile + ": " + std::to_string(llBefore) + " -> " + std::to_string(llAfter) + " bytes");
}

// insert at the end: SIZE zero bytes appended by the library's zero fill, which reserves the
// space first (a full disk leaves the file as it was). Should a write fail later all the same,
// the file is cut back to its old size.
int appendAtEnd(const char* szVerb, void*& hFile, const std::string& sFile, const int64_t* pllValues, int64_t llSize) {
    if (pllValues[0] != llSize) return -1;
    const std::string sWhat = std::string(szVerb) + ": " + sFile;
    const bool bTerminal = os::isTerminal(os::Stream::Err);
    ProgressDisplay progress(szVerb, bTerminal);
    if (bTerminal) QR_SetProgressHook(&showProgress, &progress);
    ReportError(0);
    const bool bDone = InitiateSpaceIntoZero(hFile, llSize, pllValues[1]);
    if (bTerminal) QR_SetProgressHook(nullptr, nullptr);
    progress.end();
    const std::string sFailure = bDone ? "" : libraryError();
    std::string sRestored = "; the file is back at its " + std::to_string(llSize) + " bytes";
    ReportError(0);
    if (!bDone && !(QR_Seek(hFile, llSize, 0) && QR_SetEndOfFile(hFile)))
        sRestored = "; cutting it back failed too: " + libraryError();
    ReportError(0);
    const bool bClosed = QR_CloseFile(hFile);
    hFile = nullptr;
    if (!bDone) return fail(kExitFailed, sWhat + ": " + sFailure + sRestored);
    if (!bClosed) return failLibrary(sWhat);
    printSummary(szVerb, sFile, llSize);
    return kExitOk;
}

// remove of a range that ends at the end of the file: the file is cut at the range's start
// through the library, which refuses while a mapping of the file lives in any process.
int cutAtEnd(const char* szVerb, void*& hFile, const std::string& sFile, const int64_t* pllValues, int64_t llSize) {
    if (pllValues[1] <= 0 || pllValues[0] + pllValues[1] != llSize) return -1;
    const std::string sWhat = std::string(szVerb) + ": " + sFile;
    ReportError(0);
    const bool bCut = QR_Seek(hFile, pllValues[0], 0) && QR_SetEndOfFile(hFile);
    const std::string sFailure = bCut ? "" : libraryError();
    ReportError(0);
    const bool bClosed = QR_CloseFile(hFile);
    hFile = nullptr;
    if (!bCut) return fail(kExitFailed, sWhat + ": " + sFailure);
    if (!bClosed) return failLibrary(sWhat);
    printSummary(szVerb, sFile, llSize);
    return kExitOk;
}

// Parses the numbers, opens the file for reading and writing, runs the edit with a progress
// display at a terminal, and reports the outcome.
int edit(const char* szVerb, const Args& args, std::size_t nNumbers,
         bool (*pfnEdit)(void* hFile, const int64_t* pllValues), AtEndEdit pfnAtEnd = nullptr) {
    const std::string sUsage = std::string(szVerb) + ": ";
    if (args.size() != nNumbers + 1)
        return fail(kExitUsage, sUsage + "expected a file and " + std::to_string(nNumbers) + " numbers (see qrtool " +
                                    szVerb + " --help)");
    const std::string& sFile = args[0];
    if (!regularOrMissing(szVerb, sFile, "in-place edits change regular files only")) return kExitFailed;
    // An earlier edit that was interrupted is finished first (opening would do it silently).
    bool bRecovered = false;
    ReportError(0);
    if (IsExistFile(sFile.c_str()) && !QR_RecoverFile(sFile.c_str(), &bRecovered)) return failLibrary(sUsage + sFile);
    if (bRecovered) note("qrtool: " + sFile + ": recovered an earlier interrupted edit first");
    std::error_code ec;
    const auto llBefore = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    if (ec && IsExistFile(sFile.c_str())) return fail(kExitFailed, sUsage + sFile + ": " + ec.message());
    int64_t llValues[3] = {0, 0, 0};
    for (std::size_t i = 0; i < nNumbers; ++i) {
        if (i == 0 && pfnAtEnd == &appendAtEnd && equalsIgnoreCase(args[1], "END")) {
            llValues[0] = llBefore;  // the end of the file
            continue;
        }
        if (!parseSize(args[i + 1], llValues[i]))
            return fail(kExitUsage, sUsage + "'" + args[i + 1] + "' is not a size (digits with an optional K, M, G or T)");
    }

    void* hFile = nullptr;
    ReportError(0);
    // Read and write access, no sharing: no other user of the library holds the file meanwhile.
    if (!QR_OpenFile(&hFile, sFile.c_str(), 3)) return failLibrary(sUsage + sFile);
    if (pfnAtEnd != nullptr) {
        const int nStatus = pfnAtEnd(szVerb, hFile, sFile, llValues, llBefore);
        if (nStatus >= 0) return nStatus;
    }

    const bool bTerminal = os::isTerminal(os::Stream::Err);
    ProgressDisplay progress(szVerb, bTerminal);
    if (bTerminal) QR_SetProgressHook(&showProgress, &progress);
    ReportError(0);
    const bool bDone = pfnEdit(hFile, llValues);
    const int32_t lError = GetDllErrorNo();
    if (bTerminal) QR_SetProgressHook(nullptr, nullptr);
    progress.end();
    const std::string sFailure = bDone ? "" : libraryError();
    ReportError(0);
    if (!QR_CloseFile(hFile) && bDone) return failLibrary(sUsage + sFile);
    if (!bDone) {
        if (lError == 0) {
            // Refused without a system error: the numbers do not fit the file.
            std::string sRange = "the range " + std::to_string(llValues[0]) + " .. " +
                                 std::to_string(llValues[0] + llValues[std::min<std::size_t>(nNumbers - 1, 2)]);
            if (std::string(szVerb) == "insert") sRange = "position " + std::to_string(llValues[0]);
            return fail(kExitFailed, sUsage + sFile + ": " + sRange + " does not fit the file (size " +
                                         std::to_string(llBefore) + " bytes)");
        }
        return fail(kExitFailed, sUsage + sFile + ": " + sFailure);
    }
    printSummary(szVerb, sFile, llBefore);
    return kExitOk;
}

}  // namespace

int runInsert(const Options& options, const Args& args) {
    g_bJson = options.bJson;
    return edit("insert", args, 2, [](void* h, const int64_t* v) { return AllocateDiskSpace(h, v[0], v[1]); },
                &appendAtEnd);
}

int runRemove(const Options& options, const Args& args) {
    g_bJson = options.bJson;
    return edit("remove", args, 2, [](void* h, const int64_t* v) { return FreeDiskSpace(h, v[0], v[1]); }, &cutAtEnd);
}

int runMove(const Options& options, const Args& args) {
    g_bJson = options.bJson;
    return edit("move", args, 3, [](void* h, const int64_t* v) {
        const _tagMoveData move{v[0], v[1], v[2]};
        return MoveData(h, &move);
    });
}

int runZero(const Options& options, const Args& args) {
    g_bJson = options.bJson;
    return edit("zero", args, 2, [](void* h, const int64_t* v) { return InitiateSpaceIntoZero(h, v[0], v[1]); });
}

int runRecover(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "recover: expected one file (see qrtool recover --help)");
    const std::string& sFile = args[0];
    if (!regularOrMissing("recover", sFile, "only a regular file has edits to finish")) return kExitFailed;
    bool bRecovered = false;
    ReportError(0);
    if (!QR_RecoverFile(sFile.c_str(), &bRecovered)) return failLibrary("recover: " + sFile);
    if (options.bJson)
        printOut("{\"command\": \"recover\", \"file\": %s, \"recovered\": %s}\n", jsonString(sFile).c_str(),
                 bRecovered ? "true" : "false");
    else
        note("recover: " + sFile + ": " + (bRecovered ? "finished an interrupted edit" : "nothing to recover"));
    return kExitOk;
}

}  // namespace qrtool
