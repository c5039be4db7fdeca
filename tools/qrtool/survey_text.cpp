// qrtool: line names, flights and channel names in the text of survey files.
#include "survey_text.h"

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

LineName nameLine(const std::string& sKeyword, const std::string& sName) {
    LineName line;
    line.sShown = sName;
    if (!sName.empty() && isDigit(sName[0])) line.sShown = (sKeyword == "TIE" ? "T" : "L") + sName;
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
    char cType = '\0';
    if (SplitCharLineNo(decoded.data(), szNumber, sizeof szNumber, &cType, szArea, sizeof szArea)) {
        if (cType != '\0') line.sType.assign(1, cType);
        line.sArea = szArea;
    }
    return line;
}

std::vector<std::string> slashCommentWords(const char* pText, std::size_t nLength) {
    std::size_t i = 0;
    while (i < nLength && isBlank(pText[i])) ++i;
    if (i == nLength || pText[i] != '/') return {};
    while (i < nLength && pText[i] == '/') ++i;
    std::vector<std::string> words;
    while (i < nLength) {
        while (i < nLength && isBlank(pText[i])) ++i;
        const std::size_t nStart = i;
        while (i < nLength && !isBlank(pText[i])) ++i;
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
    flight.sName = words[1];
    std::vector<char> name = writable(flight.sName);
    flight.bCodes = ToIntFlightNo(name.data(), &flight.lCode);
    char szShown[16] = "";
    if (flight.bCodes && ToCharFlightNo(flight.lCode, szShown, sizeof szShown))
        flight.sShown = szShown;
    else
        flight.sShown = flight.sName;
    return true;
}

void ChannelFinder::comment(const char* pText, std::size_t nLength) {
    if (m_bSettled) return;
    Flight flight;
    if (flightComment(pText, nLength, flight)) return;  // names a flight, not the channels
    std::vector<std::string> words = slashCommentWords(pText, nLength);
    // Bounded: a header of a few thousand channels is plenty.
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
