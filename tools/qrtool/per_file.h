// qrtool: what the read-only commands share for their FILE arguments: several files in one call,
// each output headed by its file name, and the refusal of what is not a regular file.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli.h"

namespace qrtool {

// Runs fnOne for each file in turn and returns the worst exit status (a failed file does not stop
// the others). With more than one file, each file's text output starts with a line
// "==> FILE <==" (after a blank line from the second on), and with --json the objects fnOne
// writes, one per file, are joined into one JSON array; a file that fails adds nothing to it.
int forEachFile(const Options& options, const std::vector<std::string>& files,
                const std::function<int(const std::string& sFile)>& fnOne);

// True when sPath is a regular file, a folder-free path the library may open or map; otherwise
// prints "qrtool: <sWhat>: <sPath>: not a regular file (<why>)" and returns false. A path that
// does not exist passes: the library's own message says so.
bool regularOrMissing(const std::string& sWhat, const std::string& sPath, const char* szWhy);

}  // namespace qrtool
