// qrtool: what survey text files say beyond their records, in the conventions of XYZ exports:
// line names in header lines, flights and channel names in comment lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qrtool {

// The line type (a letter of the codec's "LBTRSPD") that the header keyword [p, p + n) names,
// any case, or '\0'. Each type has its word and abbreviations: L LINE LI LN, B BASE BL, T TIE
// TL TI, R TREND TR, S TEST TS, P SPECIAL SP, D RANDOM RL RN.
char lineKeywordType(const char* p, std::size_t n);

// A survey line named by a header line, through the library's line-number codec.
struct LineName {
    std::string sShown;     // the name as the file gives it (a bare number with its type letter)
    int64_t llCode = -32767;
    bool bCodes = false;    // the codec accepted the name
    bool bRoundTrips = false;  // the code's name is the same text (zero padding and version aside)
    std::string sDecoded;   // the code's name as the codec writes it
    std::string sType, sArea;
    std::string sVersion;   // "2" of L10030.2 (the codec keeps no version)
    std::string sReason;    // why the name is not valid; empty when it is
    bool valid() const { return bCodes && bRoundTrips; }
};

// The line of a header "<keyword> <name>" whose keyword names the type cType (lineKeywordType).
// A bare number ("Line 17430", "Tie 9010", "TL 3") names a line of that type: coded as L17430,
// T9010, T3. A version after the number ("Line 10030.2") is kept apart: the name is valid.
LineName nameLine(char cType, const std::string& sName);

// A flight named by a comment such as "//Flight 172" or "/ FLIGHT AN01" (any case, one or
// more slashes), through the library's flight-number codec.
struct Flight {
    std::string sName;     // as the comment gives it
    std::string sShown;    // the code's name, or sName when the codec refused it
    int32_t lCode = -32767;
    bool bCodes = false;
};
bool flightComment(const char* pText, std::size_t nLength, Flight& flight);
// A flight named by sName alone (a flight column's value).
Flight nameFlight(const std::string& sName);

// The words of a comment line that starts with '/' (the slashes removed); empty for any other.
// Words are separated by blanks and tabs, and by cDelimiter when it is not '\0'.
std::vector<std::string> slashCommentWords(const char* pText, std::size_t nLength, char cDelimiter = '\0');

// Channel names: the last '/' comment before the first record whose words are as many as the
// first record's fields. A comment made only of separator characters ('=', '-', '*', '_') is
// never taken for names.
class ChannelFinder {
public:
    // A comment line before the first record.
    void comment(const char* pText, std::size_t nLength, char cDelimiter = '\0');
    // The first record has nColumns fields: the names are settled.
    void settle(std::size_t nColumns);
    bool settled() const { return m_bSettled; }
    const std::vector<std::string>& names() const { return m_names; }
    // The name of column k (0-based): the channel name, or "c<k+1>" where there is none (or
    // where the names repeat, so that labels stay unique).
    std::string label(std::size_t k) const;

private:
    std::map<std::size_t, std::vector<std::string>> m_byCount;  // last comment per word count
    std::vector<std::string> m_names;
    bool m_bSettled = false;
    bool m_bUnique = true;
};

}  // namespace qrtool
