// qrtool: several files per call for the read-only commands, and the regular-file check (see
// per_file.h).
#include "per_file.h"

#include "tool_os.h"

namespace qrtool {

int forEachFile(const Options& options, const std::vector<std::string>& files,
                const std::function<int(const std::string& sFile)>& fnOne) {
    if (files.size() == 1) return fnOne(files.front());
    int nWorst = kExitOk;
    bool bAnyObject = false;
    if (options.bJson) writeOut("[\n");
    for (std::size_t i = 0; i < files.size() && !outputFailed(); ++i) {
        if (!options.bJson) writeOut((i > 0 ? "\n==> " : "==> ") + files[i] + " <==\n");
        // The separator goes before an object only once it is known that one follows.
        const int64_t llBefore = outputBytes();
        const bool bComma = options.bJson && bAnyObject;
        if (bComma) setPendingOutput(",\n");
        const int nStatus = fnOne(files[i]);
        if (bComma) setPendingOutput("");
        if (options.bJson && outputBytes() != llBefore) bAnyObject = true;
        if (nStatus > nWorst) nWorst = nStatus;
    }
    if (options.bJson) writeOut("]\n");
    return nWorst;
}

bool regularOrMissing(const std::string& sWhat, const std::string& sPath, const char* szWhy) {
    const os::PathKind kind = os::kindOf(sPath);
    if (kind == os::PathKind::Regular || kind == os::PathKind::Missing) return true;
    fail(kExitFailed, sWhat + ": " + sPath + ": " + (kind == os::PathKind::Folder ? "a folder, " : "") +
                          "not a regular file (" + szWhy + ")");
    return false;
}

}  // namespace qrtool
