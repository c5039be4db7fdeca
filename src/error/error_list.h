// Error subsystem: the reader of the error-list file QuarrionError.inf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "qrcore/error.h"

namespace qr {

// The bounds of an error list: every program reads the list before main, so a huge list (or a
// device that never ends) must not stall or exhaust it. The shipped lists hold a few dozen
// entries in under a kilobyte.
inline constexpr int32_t kErrorListMaxEntries = 4096;
inline constexpr std::size_t kErrorListMaxBytes = std::size_t{1} << 20;

// BadFormat: not starting with the keyword; TooManyEntries / TooLarge: beyond the bounds above.
// Each of the three is a malformed list to the caller.
enum class ErrorListStatus { Ok, CannotOpen, BadFormat, TooManyEntries, TooLarge };

// Reads the words of an error list: the keyword "QRError", the entry count, then entries of
// three words (number, an ignored word of at most 63 bytes, the text of at most 127 bytes).
// The layout of white space does not matter. A count that is not a whole decimal number, or a
// negative one, gives an empty list. Reading stops at the declared count, at the end of the
// input, or at the first malformed entry; only whole entries are kept. A count above
// kErrorListMaxEntries gives TooManyEntries, and a list whose words up to its last entry do not
// lie within its first kErrorListMaxBytes bytes gives TooLarge (bytes after the last entry are
// never read); no entries are kept then.
ErrorListStatus readErrorList(std::FILE* pFile, std::vector<_tagErrorItem>& items);

// The lines written to standard error beside the load-failure notice (the notice itself keeps
// the system's own text): the candidates searched, in order, each with what happened to it
// (sOutcomes[i]: the reason it could not be opened, or "read" for the one read), what was wrong
// with the list read (status), and how to put a good list in place.
std::string errorListGuidance(const std::vector<std::string>& candidates, const std::vector<std::string>& outcomes,
                              ErrorListStatus status);

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
