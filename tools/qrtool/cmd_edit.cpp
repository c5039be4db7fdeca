// qrtool: in-place edits of large files (insert, remove, move, zero) through the space functions.
#include <filesystem>

#include "commands.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "tool_os.h"

namespace qrtool {

namespace {

// Shown only at a terminal; the library calls it at a bounded rate during long operations.
void showProgress(int64_t llDone, int64_t llTotal, void* pContext) {
    static_cast<ProgressDisplay*>(pContext)->show(llDone, llTotal);
}

// Parses the numbers, opens the file for reading and writing, runs the edit with a progress
// display at a terminal, and reports the outcome.
int edit(const char* szVerb, const Args& args, std::size_t nNumbers,
         bool (*pfnEdit)(void* hFile, const int64_t* pllValues)) {
    const std::string sUsage = std::string(szVerb) + ": ";
    if (args.size() != nNumbers + 1)
        return fail(kExitUsage, sUsage + "expected a file and " + std::to_string(nNumbers) + " numbers (see qrtool " +
                                    szVerb + " --help)");
    int64_t llValues[3] = {0, 0, 0};
    for (std::size_t i = 0; i < nNumbers; ++i)
        if (!parseSize(args[i + 1], llValues[i]))
            return fail(kExitUsage, sUsage + "'" + args[i + 1] + "' is not a size (digits with an optional K, M, G or T)");

    const std::string& sFile = args[0];
    std::error_code ec;
    const auto llBefore = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    void* hFile = nullptr;
    ReportError(0);
    if (!QR_OpenFile(&hFile, sFile.c_str(), 3)) return failLibrary(sUsage + sFile);

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
        if (lError == 0)
            return fail(kExitFailed, sUsage + sFile + ": the range does not fit the file (size " +
                                         std::to_string(llBefore) + " bytes)");
        return fail(kExitFailed, sUsage + sFile + ": " + sFailure);
    }
    const auto llAfter = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    printOut("%s: %s: %lld -> %lld bytes\n", szVerb, sFile.c_str(), static_cast<long long>(llBefore),
                static_cast<long long>(llAfter));
    return kExitOk;
}

}  // namespace

int runInsert(const Options&, const Args& args) {
    return edit("insert", args, 2, [](void* h, const int64_t* v) { return AllocateDiskSpace(h, v[0], v[1]); });
}

int runRemove(const Options&, const Args& args) {
    return edit("remove", args, 2, [](void* h, const int64_t* v) { return FreeDiskSpace(h, v[0], v[1]); });
}

int runMove(const Options&, const Args& args) {
    return edit("move", args, 3, [](void* h, const int64_t* v) {
        const _tagMoveData move{v[0], v[1], v[2]};
        return MoveData(h, &move);
    });
}

int runZero(const Options&, const Args& args) {
    return edit("zero", args, 2, [](void* h, const int64_t* v) { return InitiateSpaceIntoZero(h, v[0], v[1]); });
}

}  // namespace qrtool
