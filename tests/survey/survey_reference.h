// Survey codec tests: a plain reference model of the line and flight codecs, built on
// std::string, strtoull and snprintf, to compare the library's codecs against.
#pragma once

#include <cstdint>
#include <string>

namespace surveyref {

// Code of the fields, as the stored layouts define it.
int64_t lineCode(uint32_t nNumber, unsigned nType, unsigned nArea);
int32_t flightCode(uint32_t nNumber, unsigned nType, unsigned nArea);

// Area letters of an area code 0..127 (none, A..Z, AA..AZ, ..., DA..DW).
std::string areaLetters(int nArea);

struct LineSplit {
    bool bOk = false;
    std::string sNumber;
    char cType = '\0';
    std::string sArea;
};

// sText loses its blanks as the library's text argument does.
LineSplit splitLine(std::string& sText, int nNumberSize, int nAreaSize);
bool toIntLine(std::string& sText, int64_t& llCode);
bool toIntFlight(std::string& sText, int32_t& lCode);

// The whole text of a code and the result, as if the buffer were large enough.
bool toCharLine(int64_t llCode, std::string& sText);
bool toCharFlight(int32_t lCode, std::string& sText);

}  // namespace surveyref
