// Error subsystem: tokenising and validating QuarrionError.inf.
#include "error/error_list.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/sys_files.h"

namespace qr {

namespace {
// Words longer than this are never valid in the list; reading goes on to the word's end so
// the next word starts in the right place.
constexpr std::size_t kWordCap = 256;

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// The next white-space separated word; false at the end of the input before a word.
// bTooLong is set when the word had more than kWordCap bytes (the word is then cut).
bool nextWord(std::FILE* pFile, std::string& sWord, bool& bTooLong) {
    sWord.clear();
    bTooLong = false;
    int c = std::getc(pFile);
    while (c != EOF && isBlank(c)) c = std::getc(pFile);
    if (c == EOF) return false;
    while (c != EOF && !isBlank(c)) {
        if (sWord.size() < kWordCap)
            sWord.push_back(static_cast<char>(c));
        else
            bTooLong = true;
        c = std::getc(pFile);
    }
    return true;
}

// A whole word of decimal digits with an optional sign, within 32 bits.
bool parseInt32(const std::string& sWord, int32_t& lValue) {
    std::size_t i = 0;
    bool bNegative = false;
    if (i < sWord.size() && (sWord[i] == '+' || sWord[i] == '-')) bNegative = sWord[i++] == '-';
    if (i == sWord.size()) return false;
    int64_t llValue = 0;
    for (; i < sWord.size(); ++i) {
        if (sWord[i] < '0' || sWord[i] > '9') return false;
        llValue = llValue * 10 + (sWord[i] - '0');
        if (llValue > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    }
    if (bNegative) llValue = -llValue;
    if (llValue > std::numeric_limits<int32_t>::max()) return false;
    lValue = static_cast<int32_t>(llValue);
    return true;
}
}  // namespace

ErrorListStatus readErrorList(std::FILE* pFile, std::vector<_tagErrorItem>& items) {
    items.clear();
    std::string sWord;
    bool bTooLong = false;
    if (!nextWord(pFile, sWord, bTooLong) || bTooLong || sWord != "QRError") return ErrorListStatus::BadFormat;

    int32_t lCount = 0;
    if (!nextWord(pFile, sWord, bTooLong) || bTooLong || !parseInt32(sWord, lCount) || lCount <= 0)
        return ErrorListStatus::Ok;

    for (int32_t i = 0; i < lCount; ++i) {
        _tagErrorItem item{};
        if (!nextWord(pFile, sWord, bTooLong) || bTooLong || !parseInt32(sWord, item.lErrorNo)) break;
        if (!nextWord(pFile, sWord, bTooLong) || sWord.size() > 63) break;
        if (!nextWord(pFile, sWord, bTooLong) || sWord.size() >= sizeof item.szErrorInfo) break;
        std::memcpy(item.szErrorInfo, sWord.c_str(), sWord.size() + 1);
        items.push_back(item);
    }
    return ErrorListStatus::Ok;
}

std::string errorListPath(const std::string& sFile, const std::string& sSubfolder) {
    if (sFile.empty()) return {};
    const std::size_t nSlash = sFile.find_last_of(sys::kPathSeparators);
    std::string sPath = nSlash == std::string::npos ? sFile : sFile.substr(0, nSlash);
    if (!sSubfolder.empty()) sPath += sys::kPathSeparator + sSubfolder;
    sPath += sys::kPathSeparator;
    sPath += "QuarrionError.inf";
    if (sPath.size() > 255) return {};
    return sPath;
}

std::vector<std::string> errorListCandidates(const std::string& sExecutable, const std::string& sLibrary,
                                             const std::string& sDataFromLibrary) {
    std::vector<std::string> paths;
    for (const std::string& sPath : {errorListPath(sExecutable), errorListPath(sLibrary),
                                     sDataFromLibrary.empty() ? std::string() : errorListPath(sLibrary, sDataFromLibrary)}) {
        if (!sPath.empty() && std::find(paths.begin(), paths.end(), sPath) == paths.end()) paths.push_back(sPath);
    }
    return paths;
}

}  // namespace qr
