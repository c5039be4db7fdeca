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

// The words of a list, read within kErrorListMaxBytes: past the bound the input ends for the
// reader, so neither a long word nor an endless device keeps it reading. One byte past the bound
// is looked at, so that a word ending exactly at the bound still ends; over() tells that the
// list needed more than that.
class WordReader {
public:
    explicit WordReader(std::FILE* pFile) : m_pFile(pFile) {}

    // The next white-space separated word; false at the end of the input before a word.
    // bTooLong is set when the word had more than kWordCap bytes (the word is then cut).
    bool nextWord(std::string& sWord, bool& bTooLong) {
        sWord.clear();
        bTooLong = false;
        int c = next();
        while (c != EOF && isBlank(c)) c = next();
        if (c == EOF) return false;
        while (c != EOF && !isBlank(c)) {
            if (sWord.size() < kWordCap)
                sWord.push_back(static_cast<char>(c));
            else
                bTooLong = true;
            c = next();
        }
        return true;
    }

    bool over() const { return m_bOver; }

private:
    int next() {
        if (m_nRead < kErrorListMaxBytes) {
            const int c = std::getc(m_pFile);
            if (c != EOF) ++m_nRead;
            return c;
        }
        if (!m_bLookedPast) {
            m_bLookedPast = true;
            m_nPast = std::getc(m_pFile);
            if (m_nPast == EOF || isBlank(m_nPast)) return m_nPast;
        } else if (m_nPast == EOF) {
            return EOF;
        }
        m_bOver = true;
        return EOF;
    }

    std::FILE* m_pFile;
    std::size_t m_nRead = 0;
    bool m_bLookedPast = false;
    int m_nPast = EOF;
    bool m_bOver = false;
};

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
    WordReader reader(pFile);
    std::string sWord;
    bool bTooLong = false;
    if (!reader.nextWord(sWord, bTooLong) || bTooLong || sWord != "QRError")
        return reader.over() ? ErrorListStatus::TooLarge : ErrorListStatus::BadFormat;

    int32_t lCount = 0;
    if (!reader.nextWord(sWord, bTooLong) || bTooLong || !parseInt32(sWord, lCount) || lCount <= 0)
        return reader.over() ? ErrorListStatus::TooLarge : ErrorListStatus::Ok;
    if (lCount > kErrorListMaxEntries) return ErrorListStatus::TooManyEntries;

    items.reserve(static_cast<std::size_t>(lCount));
    for (int32_t i = 0; i < lCount; ++i) {
        _tagErrorItem item{};
        if (!reader.nextWord(sWord, bTooLong) || bTooLong || !parseInt32(sWord, item.lErrorNo)) break;
        if (!reader.nextWord(sWord, bTooLong) || sWord.size() > 63) break;
        if (!reader.nextWord(sWord, bTooLong) || sWord.size() >= sizeof item.szErrorInfo) break;
        std::memcpy(item.szErrorInfo, sWord.c_str(), sWord.size() + 1);
        items.push_back(item);
    }
    if (reader.over()) {
        items.clear();
        return ErrorListStatus::TooLarge;
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

std::string errorListGuidance(const std::vector<std::string>& candidates, const std::vector<std::string>& outcomes,
                              ErrorListStatus status) {
    std::string sText = "qrcore: QuarrionError.inf was looked for in these places, in this order:\n";
    for (std::size_t i = 0; i < candidates.size(); ++i)
        sText += "  " + candidates[i] + ": " + (i < outcomes.size() ? outcomes[i] : std::string("not tried")) + "\n";
    if (candidates.empty()) sText += "  (no place: the paths of the program and of the library are unknown)\n";
    switch (status) {
    case ErrorListStatus::CannotOpen:
        sText += "qrcore: put a list in one of these places: beside the program (CMake: "
                 "qrcore_copy_error_list(<target>) after find_package(qrcore)), or install QRCore "
                 "(cmake --install), which puts it in <prefix>/share/qrcore/; the shipped list is "
                 "data/QuarrionError.inf of the source tree\n";
        return sText;
    case ErrorListStatus::TooManyEntries:
        sText += "qrcore: the list read announces more than " + std::to_string(kErrorListMaxEntries) +
                 " entries, more than a list may hold\n";
        break;
    case ErrorListStatus::TooLarge:
        sText += "qrcore: the list read is longer than " + std::to_string(kErrorListMaxBytes) +
                 " bytes up to its last entry, more than a list may be\n";
        break;
    case ErrorListStatus::BadFormat:
    case ErrorListStatus::Ok:
        sText += "qrcore: the list read does not start with the word QRError\n";
        break;
    }
    sText += "qrcore: replace it with a good list (the shipped one: share/qrcore/QuarrionError.inf of the "
             "install, data/QuarrionError.inf of the source tree), or remove it so that a later place's "
             "list is read\n";
    return sText;
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
