// File-name patterns as the Win32 file search matches them, and the temporary folder and names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/posix/wildcard.h"
#include "support/scratch.h"

namespace {

// An independent reference: the pattern prepared as the Win32 search prepares it (trailing dots
// and spaces dropped, "*" before a final dot made a DOS star), then the file system's DOS
// pattern semantics as plain backtracking over (name, pattern) positions, straight from their
// definitions.
struct ReferencePattern {
    std::string sText;
    bool bFinalDosStar = false;  // the last '*' is a DOS star though no dot follows it
};

ReferencePattern prepareReference(std::string sPattern) {
    ReferencePattern pattern;
    const bool bEndsInDot = !sPattern.empty() && sPattern.back() == '.';
    while (!sPattern.empty() && (sPattern.back() == '.' || sPattern.back() == ' ')) sPattern.pop_back();
    pattern.bFinalDosStar = bEndsInDot && !sPattern.empty() && sPattern.back() == '*';
    pattern.sText = sPattern;
    return pattern;
}

bool referenceMatch(const std::string& sName, std::size_t n, const ReferencePattern& pattern, std::size_t p) {
    const std::string& sPattern = pattern.sText;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    auto isLastDot = [&](std::size_t i) { return sName[i] == '.' && sName.find('.', i + 1) == std::string::npos; };
    if (p == sPattern.size()) return n == sName.size();
    const char c = sPattern[p];
    const char cNext = p + 1 < sPattern.size() ? sPattern[p + 1] : '\0';
    const bool bEnd = n == sName.size();
    const bool bDosStar = c == '*' && (cNext == '.' || (pattern.bFinalDosStar && p + 1 == sPattern.size()));
    if (c == '*' && !bDosStar) {  // any run
        for (std::size_t k = n; k <= sName.size(); ++k)
            if (referenceMatch(sName, k, pattern, p + 1)) return true;
        return false;
    }
    if (c == '*') {  // DOS star: any run that does not swallow the last dot
        for (std::size_t k = n;; ++k) {
            if (referenceMatch(sName, k, pattern, p + 1)) return true;
            if (k == sName.size() || isLastDot(k)) return false;
        }
    }
    if (c == '?') {  // DOS question mark: one character other than a dot, or nothing at a dot or the end
        if (bEnd || sName[n] == '.') return referenceMatch(sName, n, pattern, p + 1);
        return referenceMatch(sName, n + 1, pattern, p + 1);
    }
    if (c == '.' && (cNext == '?' || cNext == '*')) {  // DOS dot: a dot, or nothing at the end
        if (bEnd) return referenceMatch(sName, n, pattern, p + 1);
        return sName[n] == '.' && referenceMatch(sName, n + 1, pattern, p + 1);
    }
    return !bEnd && upper(sName[n]) == upper(c) && referenceMatch(sName, n + 1, pattern, p + 1);
}

bool referenceMatch(const std::string& sName, const std::string& sPattern) {
    return referenceMatch(sName, 0, prepareReference(sPattern), 0);
}

TEST(Wildcard, Win32SearchRules) {
    const struct {
        const char* szName;
        const char* szPattern;
        bool bMatch;
    } rows[] = {
        {"a.txt", "*", true},         {"abc", "*.*", true},          {".bashrc", "*.*", true},
        {"a.b.c", "*.*", true},       {"a.txt", "*.txt", true},      {"a.b.txt", "*.txt", true},
        {"a.txtx", "*.txt", false},   {"a.TXT", "*.txt", true},      {"A.txt", "a?TXT", false},
        {"a.txt", "a?.txt", true} /* '?' matches nothing before a dot */,
        {"ab.txt", "a?.txt", true},   {"abc.txt", "a?.txt", false},  {"a", "a??", true},
        {"abc", "a?", false},         {"a.c", "a?c", false},         {"abc", "a*c", true},
        {"ac", "a*c", true},          {"a.b", "a*", true},           {"abc", "abc.*", true} /* dot-star matches no extension */,
        {"abc.d", "abc.*", true},     {"abc", "abc.?", true},         {"abcd", "abc.?", false},
        {"data1.dat", "DATA?.DAT", true}, {"x", "?", true},          {".", "*", true},
        {"..", "*", true},            {".", "?", false},             {"file", "f*e*", true},
        {"中文.dat", "*.dat", true},  {"中文.dat", "??.dat", false},  {"", "*", true},
        // Trailing dots and spaces of the pattern are dropped; a pattern that ended in a dot
        // and is left ending in '*' takes no extension ("a*." is "names starting with a, no dot").
        {"a", "a*.", true},           {"aa", "a*.", true},           {"a.txt", "a*.", false},
        {"b", "a*.", false},          {"abc", "*.", true},           {"a.b", "*.", false},
        {".bashrc", "*.", false},     {"ab", "*. .", true},          {"a.b", "*. .", false},
        {"a.b", "a* .", false},       {"ab", "a* .", true},
        {"aa", "aa? ", true},         {"aaa", "aa? ", true},         {"aaaa", "aa? ", false},
        {"a", "aa? ", false},         {"x.txt", "*. ", true} /* only a final dot makes the DOS star */,
        {"x", "*. ", true},           {"x.txt", "*.. ", true},       {"ba", "*a ", true},
        {"ab", "*a ", false},         {"ba ", "*a ", false},         {"ab", "??. ", true},
        {"abc", "??. ", false},       {"a.b", "??. ", false},        {"..x", "..* ", true},
        {".x", "..* ", false},        {"a.b", "*.*.", true},         {"abc", "*.*.", true},
        {"a.txt", "*.txt.", true},    {"a.txt", "*.txt. ", true},    {"abcd", "abc?.", true},
        {"abc", "abc?.", true},       {"abcde", "abc?.", false},     {"a.b", "* ", true},
        {"a", " *", false},           {" a", " *", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.szName) + " against " + row.szPattern);
        EXPECT_EQ(qr::sys::matchesWin32Pattern(row.szName, row.szPattern), row.bMatch);
        EXPECT_EQ(referenceMatch(row.szName, row.szPattern), row.bMatch) << "reference disagrees";
    }
}

TEST(Wildcard, AgreesWithTheReferenceOnRandomInput) {
    std::srand(7);
    const char kAlphabet[] = "ab.*?A ";
    for (int i = 0; i < 30000; ++i) {
        std::string sName, sPattern;
        const int nName = std::rand() % 7, nPattern = std::rand() % 7;
        for (int k = 0; k < nName; ++k) sName.push_back("abA. "[std::rand() % 5]);
        for (int k = 0; k < nPattern; ++k) sPattern.push_back(kAlphabet[std::rand() % 7]);
        ASSERT_EQ(qr::sys::matchesWin32Pattern(sName, sPattern), referenceMatch(sName, sPattern))
            << "name '" << sName << "' pattern '" << sPattern << "'";
    }
}

TEST(Wildcard, LongPatternsStayLinear) {
    // A pattern that makes backtracking matchers explode.
    const std::string sName(4000, 'a');
    std::string sPattern;
    for (int i = 0; i < 200; ++i) sPattern += "a*";
    sPattern += "b";
    EXPECT_FALSE(qr::sys::matchesWin32Pattern(sName, sPattern));
    EXPECT_TRUE(qr::sys::matchesWin32Pattern(sName + "b", sPattern));
}

TEST(TempNames, FolderAndUniqueNames) {
    const char* szSaved = std::getenv("TMPDIR");
    const std::string sSaved = szSaved ? szSaved : "";
    qrtest::ScratchDir dir;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    EXPECT_EQ(qr::sys::tempFolder(), dir.path() + "/");
    ::setenv("TMPDIR", "", 1);
    EXPECT_EQ(qr::sys::tempFolder(), "/tmp/");
    ::unsetenv("TMPDIR");
    EXPECT_EQ(qr::sys::tempFolder(), "/tmp/");
    if (szSaved != nullptr) ::setenv("TMPDIR", sSaved.c_str(), 1);

    const std::regex shape(dir.path() + "/tmp[0-9A-F]{1,4}\\.tmp");
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string sName = qr::sys::makeTempFileName(dir.path().c_str(), "tmpfile");
        ASSERT_FALSE(sName.empty()) << qr::sys::systemErrorText(qr::sys::lastError());
        EXPECT_TRUE(std::regex_match(sName, shape)) << sName;
        EXPECT_TRUE(names.insert(sName).second) << "name given twice: " << sName;
        struct stat st {};
        ASSERT_EQ(::stat(sName.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    // Folder without its slash, a short prefix, an empty prefix, a prefix cut inside UTF-8.
    EXPECT_TRUE(std::regex_match(qr::sys::makeTempFileName(dir.path().c_str(), "Tm"),
                                 std::regex(dir.path() + "/Tm[0-9A-F]+\\.tmp")));
    EXPECT_TRUE(std::regex_match(qr::sys::makeTempFileName((dir.path() + "/").c_str(), ""),
                                 std::regex(dir.path() + "/[0-9A-F]+\\.tmp")));
    EXPECT_TRUE(std::regex_match(qr::sys::makeTempFileName(dir.path().c_str(), "a中"),
                                 std::regex(dir.path() + "/a[0-9A-F]+\\.tmp")));
    EXPECT_TRUE(std::regex_match(qr::sys::makeTempFileName(dir.path().c_str(), "中x"),
                                 std::regex(dir.path() + "/中[0-9A-F]+\\.tmp")));
    // A prefix that would leave the folder, a folder that does not exist.
    EXPECT_EQ(qr::sys::makeTempFileName(dir.path().c_str(), "../"), "");
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorInvalidArgument);
    EXPECT_EQ(qr::sys::makeTempFileName((dir.path() + "/none").c_str(), "t"), "");
    EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorNotFound);
}

}  // namespace
