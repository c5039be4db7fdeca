// POSIX backend: the Win32 file-search pattern rules, as a small state machine over the
// pattern positions (no backtracking, so no pathological patterns).
#include "platform/posix/wildcard.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace qr::sys {

namespace {
enum class Token : unsigned char { Literal, Star, DosStar, DosQm, DosDot };

struct Item {
    Token token;
    char ch;
};

// The pattern as the Win32 search hands it to the file system. First the path rules: trailing
// dots and spaces of the last component are dropped. Then the DOS forms: every '?' is a DOS
// question mark, a '.' before '?' or '*' a DOS dot, a '*' before '.' a DOS star; and when the
// pattern as given ended in a dot, a '*' left at the end is a DOS star too, so that "a*." keeps
// meaning "a, then anything without a dot" although its dot is gone.
std::vector<Item> compile(std::string_view sPattern) {
    const bool bEndsInDot = !sPattern.empty() && sPattern.back() == '.';
    const std::size_t nKeep = sPattern.find_last_not_of(". ");
    sPattern = nKeep == std::string_view::npos ? std::string_view() : sPattern.substr(0, nKeep + 1);
    std::vector<Item> items;
    items.reserve(sPattern.size());
    for (std::size_t i = 0; i < sPattern.size(); ++i) {
        const char c = sPattern[i];
        const bool bLast = i + 1 == sPattern.size();
        const char cNext = bLast ? '\0' : sPattern[i + 1];
        if (c == '?') {
            items.push_back({Token::DosQm, c});
        } else if (c == '*') {
            items.push_back({cNext == '.' || (bLast && bEndsInDot) ? Token::DosStar : Token::Star, c});
        } else if (c == '.' && (cNext == '?' || cNext == '*')) {
            items.push_back({Token::DosDot, c});
        } else {
            items.push_back({Token::Literal, c});
        }
    }
    return items;
}

char foldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Adds the states reachable without consuming a character. bEnd: the name is finished; c: the
// next character otherwise.
void closeOver(const std::vector<Item>& items, std::string& active, bool bEnd, char c) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!active[i]) continue;
        bool bSkip = false;
        switch (items[i].token) {
        case Token::Star:
        case Token::DosStar: bSkip = true; break;
        case Token::DosQm: bSkip = bEnd || c == '.'; break;
        case Token::DosDot: bSkip = bEnd; break;
        case Token::Literal: break;
        }
        if (bSkip) active[i + 1] = 1;  // states only move forward, so one pass suffices
    }
}
}  // namespace

bool hasWildcard(std::string_view sPattern) {
    return sPattern.find_first_of("*?") != std::string_view::npos;
}

bool matchesWin32Pattern(std::string_view sName, std::string_view sPattern) {
    const std::vector<Item> items = compile(sPattern);
    const std::size_t nStates = items.size() + 1;
    std::string active(nStates, '\0'), next(nStates, '\0');
    active.front() = 1;
    // Position of the name's last dot: a DOS star may not swallow it.
    const std::size_t nLastDot = sName.rfind('.');
    for (std::size_t n = 0; n < sName.size(); ++n) {
        const char c = sName[n];
        closeOver(items, active, false, c);
        std::fill(next.begin(), next.end(), '\0');
        bool bAny = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (!active[i]) continue;
            const Item& item = items[i];
            switch (item.token) {
            case Token::Star: next[i] = 1; break;
            case Token::DosStar:
                if (!(c == '.' && n == nLastDot)) next[i] = 1;
                break;
            case Token::DosQm:
                if (c != '.') next[i + 1] = 1;
                break;
            case Token::DosDot:
                if (c == '.') next[i + 1] = 1;
                break;
            case Token::Literal:
                if (foldCase(item.ch) == foldCase(c)) next[i + 1] = 1;
                break;
            }
        }
        active.swap(next);
        for (char bState : active) bAny = bAny || bState != 0;
        if (!bAny) return false;
    }
    closeOver(items, active, true, '\0');
    return active[items.size()] != 0;
}

}  // namespace qr::sys
