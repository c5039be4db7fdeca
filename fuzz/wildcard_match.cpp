// Fuzz target: the Win32 file-search pattern matcher of the existence test. Input: name, a
// newline, pattern. Never crashes on any bytes, and on short inputs agrees with a memoised
// recursive reference written from the pattern rules (trailing dots and spaces included).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/wildcard.h"

namespace {

// The pattern as the search prepares it: trailing dots and spaces dropped; when it ended in a
// dot, a '*' left at its end takes no dot (a DOS star).
std::string preparedPattern(std::string sPattern, bool* pbFinalDosStar) {
    const bool bEndsInDot = !sPattern.empty() && sPattern.back() == '.';
    while (!sPattern.empty() && (sPattern.back() == '.' || sPattern.back() == ' ')) sPattern.pop_back();
    *pbFinalDosStar = bEndsInDot && !sPattern.empty() && sPattern.back() == '*';
    return sPattern;
}

struct Reference {
    const std::string& sName;
    bool bFinalDosStar = false;  // set while sPattern is prepared, so declared before it
    const std::string sPattern;
    std::vector<signed char> memo;  // -1 unknown, 0/1 result

    Reference(const std::string& sN, const std::string& sP)
        : sName(sN), sPattern(preparedPattern(sP, &bFinalDosStar)), memo((sN.size() + 1) * (sPattern.size() + 1), -1) {}

    static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
    bool isLastDot(std::size_t i) const { return sName[i] == '.' && sName.find('.', i + 1) == std::string::npos; }

    bool match(std::size_t n, std::size_t p) {
        signed char& slot = memo[n * (sPattern.size() + 1) + p];
        if (slot < 0) slot = compute(n, p) ? 1 : 0;
        return slot == 1;
    }

    bool compute(std::size_t n, std::size_t p) {
        if (p == sPattern.size()) return n == sName.size();
        const char c = sPattern[p];
        const char cNext = p + 1 < sPattern.size() ? sPattern[p + 1] : '\0';
        const bool bEnd = n == sName.size();
        const bool bDosStar = c == '*' && (cNext == '.' || (bFinalDosStar && p + 1 == sPattern.size()));
        if (c == '*' && !bDosStar) {
            for (std::size_t k = n; k <= sName.size(); ++k)
                if (match(k, p + 1)) return true;
            return false;
        }
        if (c == '*') {
            for (std::size_t k = n;; ++k) {
                if (match(k, p + 1)) return true;
                if (k == sName.size() || isLastDot(k)) return false;
            }
        }
        if (c == '?') {
            if (bEnd || sName[n] == '.') return match(n, p + 1);
            return match(n + 1, p + 1);
        }
        if (c == '.' && (cNext == '?' || cNext == '*')) {
            if (bEnd) return match(n, p + 1);
            return sName[n] == '.' && match(n + 1, p + 1);
        }
        return !bEnd && upper(sName[n]) == upper(c) && match(n + 1, p + 1);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, std::size_t nSize) {
    const std::string sInput(reinterpret_cast<const char*>(pData), nSize);
    const std::size_t nSplit = sInput.find('\n');
    const std::string sName = sInput.substr(0, nSplit);
    const std::string sPattern = nSplit == std::string::npos ? std::string() : sInput.substr(nSplit + 1);
    const bool bMatch = qr::sys::matchesWin32Pattern(sName, sPattern);
    if (sName.size() <= 64 && sPattern.size() <= 64) {
        Reference reference(sName, sPattern);
        if (reference.match(0, 0) != bMatch) std::abort();
    }
    return 0;
}
