// qrtool: EBCDIC text as people wrote it: IBM code pages 037 and 1047 in full (every character
// of Latin-1), beside the library's own table, which keeps printable ASCII only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qrtool {

struct Codepage {
    const char* szName;   // as --codepage names it: "037", "1047", "table"
    const char* szLabel;  // as the output says which one was used
    uint16_t aChar[256];  // the character of each byte (a Unicode code point); 0 for a control code
};

// The code page --codepage names; "" is pCodepage null (the command's default). False for a
// name it does not know.
bool findCodepage(const std::string& sName, const Codepage*& pCodepage);

// Code page 037, the default where there is no text to guess from.
const Codepage& defaultCodepage();

// The default for EBCDIC text: 1047 when the text holds square brackets where 1047 puts them
// and none where 037 does, 037 otherwise. Neither loses a printable character.
const Codepage& guessCodepage(const unsigned char* p, std::size_t n);

// The bytes as UTF-8 text; control codes are blanks, so that cards keep their columns.
std::string decodeText(const Codepage& codepage, const unsigned char* p, std::size_t n);

}  // namespace qrtool
