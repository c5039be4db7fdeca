// qrtool: reading ASEG-GDF2 data definitions (DEFN lines of a .dfn file).
#include "gdf_definition.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace qrtool {

namespace {

std::string trim(const std::string& s) {
    const std::size_t nStart = s.find_first_not_of(" \t\r");
    if (nStart == std::string::npos) return {};
    const std::size_t nEnd = s.find_last_not_of(" \t\r");
    return s.substr(nStart, nEnd - nStart + 1);
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits at s[i...] as a count of at most 7 digits; false when there are none.
bool readCount(const std::string& s, std::size_t& i, std::size_t& nValue) {
    const std::size_t nStart = i;
    nValue = 0;
    while (i < s.size() && isDigit(s[i]) && i - nStart < 7) nValue = nValue * 10 + static_cast<std::size_t>(s[i++] - '0');
    return i > nStart && (i == s.size() || !isDigit(s[i]));
}

// [n]X w[.d]: A, I, F, E or D.
bool parseFormat(const std::string& sFormat, GdfField& field) {
    const std::string s = upper(trim(sFormat));
    std::size_t i = 0;
    field.nCount = 1;
    if (i < s.size() && isDigit(s[i]) && !readCount(s, i, field.nCount)) return false;
    if (i >= s.size()) return false;
    field.cType = s[i++];
    if (field.cType != 'A' && field.cType != 'I' && field.cType != 'F' && field.cType != 'E' && field.cType != 'D') return false;
    if (!readCount(s, i, field.nWidth) || field.nWidth == 0 || field.nCount == 0) return false;
    field.nDecimals = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!readCount(s, i, field.nDecimals)) return false;
    }
    field.sFormat = s;
    return i == s.size();
}

// One field spec: NAME:FORMAT[:ATTR=VALUE[,ATTR=VALUE...]...]
bool parseField(const std::string& sSpec, GdfField& field, std::string& sWhy) {
    std::vector<std::string> parts;
    std::size_t nStart = 0;
    for (std::size_t i = 0; i <= sSpec.size(); ++i) {
        if (i == sSpec.size() || sSpec[i] == ':') {
            parts.push_back(trim(sSpec.substr(nStart, i - nStart)));
            nStart = i + 1;
        }
    }
    field.sName = parts[0];
    if (field.sName.empty()) {
        sWhy = "no field name";
        return false;
    }
    if (parts.size() < 2 || !parseFormat(parts[1], field)) {
        sWhy = "field " + field.sName + ": no format of the form [n]A|I|F|E|D w[.d]";
        return false;
    }
    for (std::size_t p = 2; p < parts.size(); ++p) {
        // Attributes are separated by commas within a part.
        std::size_t nFrom = 0;
        const std::string& sPart = parts[p];
        while (nFrom <= sPart.size()) {
            std::size_t nComma = sPart.find(',', nFrom);
            if (nComma == std::string::npos) nComma = sPart.size();
            const std::string sAttribute = trim(sPart.substr(nFrom, nComma - nFrom));
            nFrom = nComma + 1;
            const std::size_t nEquals = sAttribute.find('=');
            if (nEquals == std::string::npos) continue;
            const std::string sKey = upper(trim(sAttribute.substr(0, nEquals)));
            const std::string sValue = trim(sAttribute.substr(nEquals + 1));
            if (sKey == "UNITS" || sKey == "UNIT") {
                field.sUnits = sValue;
            } else if (sKey == "NAME") {
                field.sDescription = sValue;
            } else if (sKey == "NULL" && !sValue.empty()) {
                errno = 0;
                char* pEnd = nullptr;
                const double d = std::strtod(sValue.c_str(), &pEnd);
                if (errno != 0 || *pEnd != '\0' || !std::isfinite(d)) {
                    sWhy = "field " + field.sName + ": NULL=" + sValue + " is no number";
                    return false;
                }
                field.null = d;
                field.sNullText = sValue;
            }
        }
    }
    return true;
}

}  // namespace

std::size_t GdfDefinition::recordWidth() const {
    std::size_t n = 0;
    for (const GdfField& field : fields) n += field.nCount * field.nWidth;
    return n;
}

bool parseGdfDefinition(const std::string& sText, GdfDefinition& definition, std::string& sError, std::size_t nMaxWidth) {
    definition = GdfDefinition();
    int64_t llLine = 0;
    std::size_t nColumns = 0;
    bool bEnded = false;
    for (std::size_t nPos = 0; nPos < sText.size() && !bEnded;) {
        std::size_t nEnd = sText.find_first_of("\r\n", nPos);
        if (nEnd == std::string::npos) nEnd = sText.size();
        const std::string sLine = trim(sText.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
        ++llLine;
        if (upper(sLine.substr(0, 4)) != "DEFN") continue;
        const auto bad = [&](const std::string& sWhy) {
            sError = "line " + std::to_string(llLine) + ": " + sWhy;
            return false;
        };
        // DEFN [n] ST=RECD,RT=type;FIELD;FIELD...
        const std::size_t nSemicolon = sLine.find(';');
        if (nSemicolon == std::string::npos) return bad("no ';' before the field");
        const std::string sHead = upper(sLine.substr(0, nSemicolon));
        std::string sType;
        if (const std::size_t nRt = sHead.find("RT="); nRt != std::string::npos) {
            const std::size_t nStop = sHead.find_first_of(", ", nRt + 3);
            sType = trim(sHead.substr(nRt + 3, nStop == std::string::npos ? std::string::npos : nStop - nRt - 3));
        }
        if (sType == "COMM") {
            definition.bCommentRecords = true;
            continue;
        }
        std::size_t nFrom = nSemicolon + 1;
        while (nFrom <= sLine.size()) {
            std::size_t nNext = sLine.find(';', nFrom);
            if (nNext == std::string::npos) nNext = sLine.size();
            const std::string sSpec = trim(sLine.substr(nFrom, nNext - nFrom));
            nFrom = nNext + 1;
            if (sSpec.empty()) continue;
            if (upper(sSpec).rfind("END DEFN", 0) == 0) {
                bEnded = true;
                break;
            }
            GdfField field;
            std::string sWhy;
            if (!parseField(sSpec, field, sWhy)) return bad(sWhy);
            if (field.nCount > nMaxWidth / field.nWidth || definition.recordWidth() + field.nCount * field.nWidth > nMaxWidth)
                return bad("records wider than " + std::to_string(nMaxWidth) + " bytes");
            nColumns += field.nCount;
            if (nColumns > kMaxGdfColumns) return bad("more than " + std::to_string(kMaxGdfColumns) + " columns");
            definition.sRecordType = sType;
            definition.fields.push_back(std::move(field));
        }
    }
    if (definition.fields.empty()) {
        sError = "no field is defined (no DEFN line with NAME:FORMAT)";
        return false;
    }
    return true;
}

}  // namespace qrtool
