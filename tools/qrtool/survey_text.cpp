// qrtool: line names, flights and channel names in the text of survey files.
#include "survey_text.h"

#include <cstring>
#include <set>

#include "qrcore/survey.h"

namespace qrtool {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

// A name for comparison: blanks removed, letters upper-cased, and the leading zeros of the
// number part dropped (the codec writes at least four digits: L12 comes back as L0012).
std::string comparable(const std::string& sName) {
    std::string s;
    for (char c : sName) {
        if (c == ' ') continue;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        s.push_back(c);
    }
    std::size_t nDigit = 0;
    while (nDigit < s.size() && !isDigit(s[nDigit])) ++nDigit;
    std::size_t nZeros = 0;
    while (nDigit + nZeros + 1 < s.size() && s[nDigit + nZeros] == '0' && isDigit(s[nDigit + nZeros + 1])) ++nZeros;
    s.erase(nDigit, nZeros);
    return s;
}

std::vector<char> writable(const std::string& s) {
    std::vector<char> buffer(s.begin(), s.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace

char lineKeywordType(const char* p, std::size_t n) {
    static const struct {
        const char* szWord;
        char cType;
    } kKeywords[] = {{"LINE", 'L'}, {"LI", 'L'},      {"LN", 'L'},  {"BASE", 'B'},  {"BL", 'B'},     {"TIE", 'T'},
                     {"TL", 'T'},   {"TI", 'T'},      {"TREND", 'R'}, {"TR", 'R'},  {"TEST", 'S'},   {"TS", 'S'},
                     {"SPECIAL", 'P'}, {"SP", 'P'},   {"RANDOM", 'D'}, {"RL", 'D'}, {"RN", 'D'}};
    if (n < 2 || n > 7) return '\0';
    char szWord[8];
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        szWord[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    szWord[n] = '\0';
    for (const auto& keyword : kKeywords)
        if (std::strcmp(szWord, keyword.szWord) == 0) return keyword.cType;
    return '\0';
}

LineName nameLine(char cType, const std::string& sName) {
    LineName line;
    line.sShown = sName;
    if (!sName.empty() && isDigit(sName[0])) line.sShown = std::string(1, cType != '\0' ? cType : 'L') + sName;
    std::vector<char> name = writable(line.sShown);
    line.bCodes = ToIntLineNo(name.data(), &line.llCode);
    if (!line.bCodes) {
        line.sReason = "not a line name";
        return line;
    }
    char szDecoded[32] = "";
    ToCharLineNo(line.llCode, szDecoded, sizeof szDecoded);
    line.sDecoded = szDecoded;
    line.bRoundTrips = comparable(line.sShown) == comparable(line.sDecoded);
    if (!line.bRoundTrips) {
        // A version after the number (L10030.2): the codec has no place for it, so the name is
        // the line's and the version is kept beside it.
        const std::size_t nDot = line.sShown.rfind('.');
        if (nDot != std::string::npos && nDot + 1 < line.sShown.size() &&
            line.sShown.find_first_not_of("0123456789", nDot + 1) == std::string::npos &&
            comparable(line.sShown.substr(0, nDot)) == comparable(line.sDecoded)) {
            line.sVersion = line.sShown.substr(nDot + 1);
            line.bRoundTrips = true;
        }
    }
    if (!line.bRoundTrips) {
        // What the code leaves out: the text after the number's leading digits.
        std::string sCompact = comparable(line.sShown);
        std::size_t nDigit = 0;
        while (nDigit < sCompact.size() && !isDigit(sCompact[nDigit])) ++nDigit;
        std::size_t nEnd = nDigit;
        while (nEnd < sCompact.size() && isDigit(sCompact[nEnd])) ++nEnd;
        line.sReason = "codes as " + line.sDecoded;
        if (nEnd < sCompact.size() && nDigit < sCompact.size()) {
            line.sReason += ": '";
            line.sReason.append(sCompact, nEnd);
            line.sReason += "' after the number is not coded";
        }
    }
    std::vector<char> decoded = writable(line.sDecoded);
    char szNumber[32] = "", szArea[8] = "";
    char cCodedType = '\0';
    if (SplitCharLineNo(decoded.data(), szNumber, sizeof szNumber, &cCodedType, szArea, sizeof szArea)) {
        if (cCodedType != '\0') line.sType.assign(1, cCodedType);
        line.sArea = szArea;
    }
    return line;
}

std::vector<std::string> slashCommentWords(const char* pText, std::size_t nLength, char cDelimiter) {
    std::size_t i = 0;
    while (i < nLength && isBlank(pText[i])) ++i;
    if (i == nLength || pText[i] != '/') return {};
    while (i < nLength && pText[i] == '/') ++i;
    const auto isGap = [cDelimiter](char c) { return isBlank(c) || (cDelimiter != '\0' && c == cDelimiter); };
    std::vector<std::string> words;
    while (i < nLength) {
        while (i < nLength && isGap(pText[i])) ++i;
        const std::size_t nStart = i;
        while (i < nLength && !isGap(pText[i])) ++i;
        if (i > nStart) words.emplace_back(pText + nStart, i - nStart);
    }
    return words;
}

bool flightComment(const char* pText, std::size_t nLength, Flight& flight) {
    const std::vector<std::string> words = slashCommentWords(pText, nLength);
    if (words.size() != 2) return false;
    std::string sKeyword = words[0];
    for (char& c : sKeyword)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (sKeyword != "FLIGHT") return false;
    flight = nameFlight(words[1]);
    return true;
}

Flight nameFlight(const std::string& sName) {
    Flight flight;
    flight.sName = sName;
    std::vector<char> name = writable(flight.sName);
    flight.bCodes = ToIntFlightNo(name.data(), &flight.lCode);
    char szShown[16] = "";
    if (flight.bCodes && ToCharFlightNo(flight.lCode, szShown, sizeof szShown))
        flight.sShown = szShown;
    else
        flight.sShown = flight.sName;
    return flight;
}

void ChannelFinder::comment(const char* pText, std::size_t nLength, char cDelimiter) {
    if (m_bSettled) return;
    Flight flight;
    if (flightComment(pText, nLength, flight)) return;  // names a flight, not the channels
    std::vector<std::string> words = slashCommentWords(pText, nLength, cDelimiter);
    // A rule under the names ("/====== ======") names nothing.
    bool bRule = true;
    for (const std::string& sWord : words) bRule = bRule && sWord.find_first_not_of("=-*_") == std::string::npos;
    if (bRule) return;
    // Bounded: channel lines of up to 4096 names and 64 KiB, for up to 64 different counts.
    if (words.empty() || words.size() > 4096 || nLength > (std::size_t{64} << 10)) return;
    if (m_byCount.size() < 64 || m_byCount.count(words.size()) > 0) m_byCount[words.size()] = std::move(words);
}

void ChannelFinder::settle(std::size_t nColumns) {
    if (m_bSettled) return;
    m_bSettled = true;
    const auto it = m_byCount.find(nColumns);
    if (it != m_byCount.end()) m_names = it->second;
    m_byCount.clear();
    const std::set<std::string> distinct(m_names.begin(), m_names.end());
    m_bUnique = distinct.size() == m_names.size();
}

std::string ChannelFinder::label(std::size_t k) const {
    if (m_bUnique && k < m_names.size()) return m_names[k];
    std::string s = "c";
    s += std::to_string(k + 1);
    return s;
}

}  // namespace qrtool
