// qrtool: in-place edits of large files (insert, remove, move, zero) through the space functions.
#include <unistd.h>

#include <filesystem>

#include "commands.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace qrtool {

namespace {

struct Progress {
    const char* szVerb;
    int nLastPercent = -1;
};

// Shown only at a terminal; the library calls it at a bounded rate during long operations.
void showProgress(int64_t llDone, int64_t llTotal, void* pContext) {
    auto* pProgress = static_cast<Progress*>(pContext);
    if (llTotal <= 0) return;
    const int nPercent = static_cast<int>(llDone * 100 / llTotal);
    if (nPercent == pProgress->nLastPercent) return;
    pProgress->nLastPercent = nPercent;
    std::fprintf(stderr, "\r%s: %3d%% (%s of %s)", pProgress->szVerb, nPercent, humanSize(llDone).c_str(),
                 humanSize(llTotal).c_str());
    std::fflush(stderr);
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
    // An earlier edit that was interrupted is finished first (opening would do it silently).
    bool bRecovered = false;
    ReportError(0);
    if (IsExistFile(sFile.c_str()) && !QR_RecoverFile(sFile.c_str(), &bRecovered)) return failLibrary(sUsage + sFile);
    if (bRecovered) std::fprintf(stderr, "qrtool: %s: recovered an earlier interrupted edit first\n", sFile.c_str());
    std::error_code ec;
    const auto llBefore = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    void* hFile = nullptr;
    ReportError(0);
    if (!QR_OpenFile(&hFile, sFile.c_str(), 3)) return failLibrary(sUsage + sFile);

    Progress progress{szVerb};
    const bool bTerminal = ::isatty(STDERR_FILENO) == 1;
    if (bTerminal) QR_SetProgressHook(&showProgress, &progress);
    ReportError(0);
    const bool bDone = pfnEdit(hFile, llValues);
    const int32_t lError = GetDllErrorNo();
    if (bTerminal) {
        QR_SetProgressHook(nullptr, nullptr);
        if (progress.nLastPercent >= 0) std::fputs("\n", stderr);
    }
    const std::string sFailure = bDone ? "" : libraryError();
    QR_CloseFile(hFile);
    if (!bDone) {
        if (lError == 0)
            return fail(kExitFailed, sUsage + sFile + ": the range does not fit the file (size " +
                                         std::to_string(llBefore) + " bytes)");
        return fail(kExitFailed, sUsage + sFile + ": " + sFailure);
    }
    const auto llAfter = static_cast<int64_t>(std::filesystem::file_size(sFile, ec));
    std::printf("%s: %s: %lld -> %lld bytes\n", szVerb, sFile.c_str(), static_cast<long long>(llBefore),
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

int runRecover(const Options&, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "recover: expected one file (see qrtool recover --help)");
    const std::string& sFile = args[0];
    bool bRecovered = false;
    ReportError(0);
    if (!QR_RecoverFile(sFile.c_str(), &bRecovered)) return failLibrary("recover: " + sFile);
    std::printf("recover: %s: %s\n", sFile.c_str(),
                bRecovered ? "finished an interrupted edit" : "nothing to recover");
    return kExitOk;
}

}  // namespace qrtool
