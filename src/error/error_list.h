// Error subsystem: the reader of the error-list file QuarrionError.inf.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "qrcore/error.h"

namespace qr {

enum class ErrorListStatus { Ok, CannotOpen, BadFormat };

// Reads the words of an error list: the keyword "QRError", the entry count, then entries of
// three words (number, an ignored word of at most 63 bytes, the text of at most 127 bytes).
// The layout of white space does not matter. A count that is not a whole decimal number, or a
// negative one, gives an empty list. Reading stops at the declared count, at the end of the
// input, or at the first malformed entry; only whole entries are kept.
ErrorListStatus readErrorList(std::FILE* pFile, std::vector<_tagErrorItem>& items);

// The list in the folder of the file sFile (an executable or the library; cut at the last path
// separator, on Windows '\\' or '/'): that folder + the separator + "QuarrionError.inf", or, with
// sSubfolder, that folder + the separator + sSubfolder + the separator + "QuarrionError.inf".
// Empty when sFile is empty or the result does not fit 255 bytes (treated as unopenable).
std::string errorListPath(const std::string& sFile, const std::string& sSubfolder = {});

// Where the list is looked for, in order, the first file that opens winning: the executable's
// folder (so a list placed beside a program always wins), the folder of the library's own file,
// and the installed data folder, sDataFromLibrary relative to the library's folder (for
// instance "../share/qrcore"). Paths that cannot be formed or repeat an earlier one are left out.
std::vector<std::string> errorListCandidates(const std::string& sExecutable, const std::string& sLibrary,
                                             const std::string& sDataFromLibrary);

}  // namespace qr
