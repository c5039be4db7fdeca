// qrtool: line classification and column layouts of record files.
#include "records.h"

#include <cctype>
#include <cstdlib>

#include "cli.h"
#include "qrcore/util.h"

namespace qrtool {

namespace {
std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

LineKind classifyLine(const std::string& sLine, std::string* psHeaderName) {
    const std::size_t nStart = sLine.find_first_not_of(" \t");
    if (nStart == std::string::npos) return LineKind::Blank;
    if (sLine[nStart] == '/' || sLine[nStart] == '#') return LineKind::Comment;
    const std::size_t nEnd = sLine.find_first_of(" \t", nStart);
    const std::string sKeyword = upper(sLine.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
    if ((sKeyword == "LINE" || sKeyword == "TIE") && nEnd != std::string::npos) {
        const std::size_t nName = sLine.find_first_not_of(" \t", nEnd);
        if (nName != std::string::npos) {
            if (psHeaderName != nullptr) {
                std::string sName = sLine.substr(nName);
                while (!sName.empty() && (sName.back() == ' ' || sName.back() == '\t')) sName.pop_back();
                *psHeaderName = sName;
            }
            return LineKind::Header;
        }
    }
    return LineKind::Record;
}

std::vector<int32_t> columnWidths(const std::string& sRecord) {
    int32_t nCount = 0;
    int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nCount);
    std::vector<int32_t> widths;
    if (pWidths != nullptr) {
        widths.assign(pWidths, pWidths + (nCount > 0 ? nCount : 0));
        std::free(pWidths);
    }
    return widths;
}

std::string joinWidths(const std::vector<int32_t>& widths) { return joinNumbers(widths, ","); }

std::string jsonWidths(const std::vector<int32_t>& widths) { return jsonNumbers(widths); }

std::FILE* openInput(const std::string& sPath) {
    if (sPath == "-") return stdin;
    return std::fopen(sPath.c_str(), "rb");
}

}  // namespace qrtool
