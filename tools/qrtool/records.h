// qrtool: reading blank-separated record files line by line, and their column layouts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qrtool {

enum class LineKind { Blank, Comment, Header, Record };

// What one line of an XYZ-style file is: blank, a comment (first non-blank character '/' or
// '#'), a survey-line header ("LINE <name>" or "TIE <name>", keyword in any case), or a record.
LineKind classifyLine(const std::string& sLine, std::string* psHeaderName);

// The column widths of a record, from the library's record analysis (empty for no fields).
std::vector<int32_t> columnWidths(const std::string& sRecord);

// "8,6,6"
std::string joinWidths(const std::vector<int32_t>& widths);
// "[8, 6, 6]"
std::string jsonWidths(const std::vector<int32_t>& widths);

// Opens a file for reading ("-" is standard input); null with errno set on failure.
std::FILE* openInput(const std::string& sPath);

}  // namespace qrtool
