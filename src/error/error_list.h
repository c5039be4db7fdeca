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

// Where the list is looked for: the executable's folder (cut at the last path separator, on Windows
// '\\' or '/') + the separator + "QuarrionError.inf". Empty when the
// executable's path is unknown or the result does not fit 255 bytes (treated as unopenable).
std::string errorListPath(const std::string& sExecutable);

}  // namespace qr
