// qrtool: what every subcommand shares — options, argument parsing, output and failure reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace qrtool {

// Exit statuses: 0 done, 1 the work failed (the library's error or bad data), 2 the command line
// was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct Options {
    bool bYes = false;   // answer the overwrite question with OK
    bool bJson = false;  // listings as JSON
    bool bHelp = false;
    bool bStats = false;   // scan: value ranges per line
    bool bEbcdic = false;  // view: the text column through the EBCDIC table
    // scan and columns: how to read survey text (the options that take a value).
    std::string sLineColumn, sFlightColumn, sDefinition, sDelimiter;
    std::vector<std::string> nulls;
};

// Takes the option that argv[i] names when it is one of the scan options that take a value
// ("--null V" or "--null=V"), moving i past its value. 1 taken, 0 not such an option, -1 its
// value is missing.
int takeValueOption(Options& options, int argc, char** argv, int& i);

// A command: its name, one-line summary, usage text and entry point (arguments after the name).
struct Command {
    const char* szName;
    const char* szSummary;
    const char* szUsage;
    int (*pfnRun)(const Options& options, const std::vector<std::string>& args);
};

const std::vector<Command>& commands();

// Standard output. Every write is checked: after the first failure (a full disk, a closed
// output, a pipe whose reader has gone) nothing more is written, the cause is kept, and the run
// ends with kExitFailed and a message (finishOutput). Long outputs ask outputFailed() to stop.
void writeOut(const char* pData, std::size_t nBytes);
void writeOut(const std::string& s);
// Checked against the printf that the C library in use has: on MinGW that is its own
// standard-conforming one (with %zu), which the plain "printf" format would not know.
#if defined(__MINGW_PRINTF_FORMAT)
__attribute__((format(__MINGW_PRINTF_FORMAT, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void printOut(const char* szFormat, ...);
bool outputFailed();
// Writes out and closes standard output (both checked) at the end of a run. Returns nStatus, or
// kExitFailed after a message when anything written to standard output was lost.
int finishOutput(int nStatus);

// Case-insensitive equality of ASCII letters.
bool equalsIgnoreCase(const std::string& a, const std::string& b);

// Prints "qrtool: <what>" on standard error and returns the status.
int fail(int nStatus, const std::string& sWhat);
// For a failed library call: "qrtool: <what>: <last message> (error N)" and kExitFailed.
int failLibrary(const std::string& sWhat);
// The library's last message and number as "text (error N)".
std::string libraryError();

// Whole decimal integer (optional sign); false on anything else, including overflow.
bool parseInt64(const std::string& sText, int64_t& llValue);
// A byte count or position: decimal with an optional binary suffix K, M, G or T (any case,
// optionally followed by "iB" or "B"): "4K" = 4096; or hexadecimal after "0x": "0x0C80" = 3200.
// Not negative. False on anything else.
bool parseSize(const std::string& sText, int64_t& llValue);
bool parseDouble(const std::string& sText, double& dValue);

// The values to work on: the arguments, or when there are none, the lines of standard input
// (blank lines skipped, line ends removed).
void forEachValue(const std::vector<std::string>& args, const std::function<void(const std::string&)>& fn);

// JSON text for s, with its quotes.
std::string jsonString(const std::string& s);

// The numbers joined by szSeparator: "8,6,6". Each piece is appended in place: a literal
// prepended to a temporary string ("," + std::to_string(...)) makes g++ 12 at -O3 warn
// (-Wrestrict) falsely.
template <typename T>
std::string joinNumbers(const std::vector<T>& values, const char* szSeparator) {
    std::string s;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) s += szSeparator;
        s += std::to_string(values[i]);
    }
    return s;
}
// The same inside brackets: "[8, 6, 6]".
template <typename T>
std::string jsonNumbers(const std::vector<T>& values) {
    std::string s = "[";
    s += joinNumbers(values, ", ");
    s += ']';
    return s;
}

// "1.5 GiB" style, for progress and summaries.
std::string humanSize(int64_t llBytes);

// Installs the tool's notice handler: error notices are kept for the one-line report; the
// overwrite question is answered by --yes, by the user at a terminal, or refused.
void installNoticeHandler(const Options& options);

// Reads lines of any length from a stream in bounded memory: a line longer than nMaxLine is
// reported through bTooLong (and cut). Returns false at end of input.
class LineReader {
public:
    explicit LineReader(std::FILE* pFile, std::size_t nMaxLine = 1 << 20) : m_pFile(pFile), m_nMax(nMaxLine) {}
    bool next(std::string& sLine, bool& bTooLong);
    int64_t lineNumber() const { return m_llLine; }

private:
    std::FILE* m_pFile;
    std::size_t m_nMax;
    int64_t m_llLine = 0;
};

}  // namespace qrtool

namespace qrtool {

// One value of a listing, in its text form and its JSON form.
struct Field {
    std::string sKey;
    std::string sText;
    std::string sJson;
};
inline Field text(std::string sKey, std::string sValue) {
    std::string sJson = jsonString(sValue);
    return {std::move(sKey), std::move(sValue), std::move(sJson)};
}
inline Field number(std::string sKey, long long llValue) {
    std::string s = std::to_string(llValue);
    return {std::move(sKey), s, s};
}
// yes/no in text, true/false in JSON.
inline Field boolean(std::string sKey, bool bValue) {
    return {std::move(sKey), bValue ? "yes" : "no", bValue ? "true" : "false"};
}
// A value whose text is already valid JSON (a number, an array) and is shown as it is.
inline Field rawJson(std::string sKey, std::string sJson) {
    std::string sText = sJson;
    return {std::move(sKey), std::move(sText), std::move(sJson)};
}
inline Field field(std::string sKey, std::string sText, std::string sJson) {
    return {std::move(sKey), std::move(sText), std::move(sJson)};
}

// Rows printed as they come: tab-separated values (with a header line when asked), or JSON.
// Without head fields the JSON is one array of objects; with them it is one object that holds
// the head fields and then the rows as an array under szRowsKey, and the text form starts with
// a "# key: value" line for each head field that has a text.
class Listing {
public:
    Listing(const Options& options, bool bHeader) : m_bJson(options.bJson), m_bHeader(bHeader) {}
    Listing(const Options& options, bool bHeader, const std::vector<Field>& head, const char* szRowsKey);
    ~Listing();
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;
    void row(const std::vector<Field>& fields);

private:
    bool m_bJson;
    bool m_bHeader;
    bool m_bObject = false;
    int64_t m_llRows = 0;
};

// A progress display on standard error for long work, when bShow (standard error a terminal):
// "\r<verb>:  45% (1.2 GiB of 2.9 GiB)", updated when the percentage changes, ended with a line
// break.
class ProgressDisplay {
public:
    ProgressDisplay(const char* szVerb, bool bShow) : m_szVerb(szVerb), m_bShow(bShow) {}
    ~ProgressDisplay() { end(); }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;
    void show(int64_t llDone, int64_t llTotal);
    void end();

private:
    const char* m_szVerb;
    bool m_bShow;
    int m_nLastPercent = -1;
};

}  // namespace qrtool
