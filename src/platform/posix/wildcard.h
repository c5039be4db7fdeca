// POSIX backend: file-name patterns matched as the Win32 file search matches them, for the
// existence test with '*' and '?' in the last path component.
#pragma once

#include <string_view>

namespace qr::sys {

// True when the pattern has a '*' or '?'.
bool hasWildcard(std::string_view sPattern);

// Matches one file name (no folder part) against a pattern the way the Win32 file search does.
// The pattern is first prepared as that search prepares it: trailing dots and spaces are
// dropped, then it is rewritten into the file system's DOS forms ('?' becomes "any one
// character, or nothing before a dot or at the end"; '*' directly before a dot, or left last
// by dropping a final dot, becomes "any characters up to the last dot of the name"; a dot
// directly before '?' or '*' becomes "a dot, or nothing at the end of the name"), then matched;
// other '*' match any run of characters, dots included. So "*." and "a*." match only names
// without a dot, "aa? " matches "aa" and "aaa", "*. " matches everything. ASCII letters compare
// without regard to case; other bytes compare exactly. Runs in time proportional to name
// length times pattern length, whatever the input.
bool matchesWin32Pattern(std::string_view sName, std::string_view sPattern);

}  // namespace qr::sys
