// qrtool: option parsing, number and size parsing, output helpers and the notice handler.
#include "cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "qrcore/error.h"
#include "qrcore/notice.h"
#include "tool_os.h"

namespace qrtool {

namespace {
int g_nOutputError = 0;  // errno of the first failed write to standard output; -1 cause unknown

void noteOutputFailure() {
    if (g_nOutputError == 0) g_nOutputError = errno != 0 ? errno : -1;
}
}  // namespace

void writeOut(const char* pData, std::size_t nBytes) {
    if (g_nOutputError != 0 || nBytes == 0) return;
    errno = 0;
    if (std::fwrite(pData, 1, nBytes, stdout) != nBytes) noteOutputFailure();
}

void writeOut(const std::string& s) { writeOut(s.data(), s.size()); }

void printOut(const char* szFormat, ...) {
    if (g_nOutputError != 0) return;
    std::va_list args;
    va_start(args, szFormat);
    errno = 0;
    const int n = std::vfprintf(stdout, szFormat, args);
    va_end(args);
    if (n < 0) noteOutputFailure();
}

bool outputFailed() { return g_nOutputError != 0 || std::ferror(stdout) != 0; }

int finishOutput(int nStatus) {
    errno = 0;
    if (std::fflush(stdout) != 0) noteOutputFailure();
    if (std::ferror(stdout) != 0) noteOutputFailure();
    errno = 0;
    if (std::fclose(stdout) != 0) noteOutputFailure();  // a file system may report only here
    if (g_nOutputError == 0) return nStatus;
    return fail(kExitFailed, std::string("standard output: ") +
                                 (g_nOutputError > 0 ? std::strerror(g_nOutputError) : "write error"));
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

int fail(int nStatus, const std::string& sWhat) {
    std::fprintf(stderr, "qrtool: %s\n", sWhat.c_str());
    return nStatus;
}

std::string libraryError() {
    const int32_t lError = GetDllErrorNo();
    if (lError == 1000001) return "not overwritten: the question was answered Cancel (use --yes to allow it)";
    char szText[256] = "";
    GetDllErrorString(szText, sizeof szText);
    // GetDllErrorString reports into the error state itself only when the buffer is too small,
    // which 256 bytes never is; the number read first stays the one to show.
    std::string sText = szText;
    while (!sText.empty() && (sText.back() == '\n' || sText.back() == '\r')) sText.pop_back();
    if (sText.empty()) sText = "failed";
    return sText + " (error " + std::to_string(lError) + ")";
}

int failLibrary(const std::string& sWhat) { return fail(kExitFailed, sWhat + ": " + libraryError()); }

bool parseInt64(const std::string& sText, int64_t& llValue) {
    if (sText.empty() || std::isspace(static_cast<unsigned char>(sText[0]))) return false;
    errno = 0;
    char* pEnd = nullptr;
    const long long ll = std::strtoll(sText.c_str(), &pEnd, 10);
    if (errno != 0 || pEnd == sText.c_str() || *pEnd != '\0') return false;
    llValue = ll;
    return true;
}

bool parseSize(const std::string& sText, int64_t& llValue) {
    if (sText.size() > 2 && sText[0] == '0' && (sText[1] == 'x' || sText[1] == 'X')) {
        // Hexadecimal, as dumps show offsets: 0x0C80.
        uint64_t llHex = 0;
        for (std::size_t i = 2; i < sText.size(); ++i) {
            const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(sText[i])));
            const int nDigit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (nDigit < 0 || llHex > (static_cast<uint64_t>(INT64_MAX) >> 4)) return false;
            llHex = llHex << 4 | static_cast<uint64_t>(nDigit);
        }
        llValue = static_cast<int64_t>(llHex);
        return true;
    }
    std::size_t nDigits = 0;
    while (nDigits < sText.size() && sText[nDigits] >= '0' && sText[nDigits] <= '9') ++nDigits;
    if (nDigits == 0) return false;
    std::string sSuffix = sText.substr(nDigits);
    for (char& c : sSuffix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int nShift = 0;
    if (!sSuffix.empty()) {
        const char* szUnits = "KMGT";
        const char* p = std::strchr(szUnits, sSuffix[0]);
        if (p == nullptr || sSuffix[0] == '\0') return false;
        nShift = 10 * static_cast<int>(p - szUnits + 1);
        const std::string sRest = sSuffix.substr(1);
        if (!sRest.empty() && sRest != "B" && sRest != "IB") return false;
    }
    int64_t llNumber = 0;
    if (!parseInt64(sText.substr(0, nDigits), llNumber)) return false;
    if (llNumber > (INT64_MAX >> nShift)) return false;
    llValue = llNumber << nShift;
    return true;
}

bool parseDouble(const std::string& sText, double& dValue) {
    if (sText.empty() || std::isspace(static_cast<unsigned char>(sText[0]))) return false;
    errno = 0;
    char* pEnd = nullptr;
    const double d = std::strtod(sText.c_str(), &pEnd);
    if (errno == ERANGE || pEnd == sText.c_str() || *pEnd != '\0' || !std::isfinite(d)) return false;
    dValue = d;
    return true;
}

void forEachValue(const std::vector<std::string>& args, const std::function<void(const std::string&)>& fn) {
    if (!args.empty()) {
        for (const std::string& s : args) fn(s);
        return;
    }
    LineReader reader(stdin, 4096);
    std::string sLine;
    bool bTooLong = false;
    while (reader.next(sLine, bTooLong)) {
        if (sLine.find_first_not_of(" \t") == std::string::npos) continue;
        fn(sLine);
    }
}

std::string jsonString(const std::string& s) {
    std::string sOut = "\"";
    for (const char c : s) {
        const auto uc = static_cast<unsigned char>(c);
        switch (c) {
        case '"': sOut += "\\\""; break;
        case '\\': sOut += "\\\\"; break;
        case '\n': sOut += "\\n"; break;
        case '\r': sOut += "\\r"; break;
        case '\t': sOut += "\\t"; break;
        default:
            if (uc < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", uc);
                sOut += szEscape;
            } else {
                sOut += c;
            }
        }
    }
    return sOut + "\"";
}

std::string humanSize(int64_t llBytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double d = static_cast<double>(llBytes);
    int i = 0;
    while (d >= 1024.0 && i < 4) {
        d /= 1024.0;
        ++i;
    }
    char szText[32];
    std::snprintf(szText, sizeof szText, i == 0 ? "%.0f %s" : "%.1f %s", d, units[i]);
    return szText;
}

namespace {
bool g_bYes = false;

bool handleNotice(QR_NoticeKind kind, const char* szCaption, const char* szText, void*) {
    if (kind != QR_NoticeQuestion) return true;  // errors are reported once, by the command
    if (g_bYes) return true;
    if (!os::isTerminal(os::Stream::In) || !os::isTerminal(os::Stream::Err)) return false;
    std::fprintf(stderr, "%s: %s [y/N] ", szCaption, szText);
    std::fflush(stderr);
    char szAnswer[64] = "";
    if (std::fgets(szAnswer, sizeof szAnswer, stdin) == nullptr) return false;
    return szAnswer[0] == 'y' || szAnswer[0] == 'Y';
}
}  // namespace

void installNoticeHandler(const Options& options) {
    g_bYes = options.bYes;
    QR_SetNoticeHandler(&handleNotice, nullptr);
}

int takeValueOption(Options& options, int argc, char** argv, int& i) {
    const std::string sArg = argv[i];
    static const struct {
        const char* szName;
        std::string Options::*pValue;
    } kOptions[] = {{"--line-column", &Options::sLineColumn},
                    {"--flight-column", &Options::sFlightColumn},
                    {"--dfn", &Options::sDefinition},
                    {"--delimiter", &Options::sDelimiter},
                    {"--null", nullptr}};
    for (const auto& option : kOptions) {
        const std::string sName = option.szName;
        std::string sValue;
        if (sArg == sName) {
            if (i + 1 >= argc) return -1;
            sValue = argv[++i];
        } else if (sArg.rfind(sName + "=", 0) == 0) {
            sValue = sArg.substr(sName.size() + 1);
        } else {
            continue;
        }
        if (option.pValue != nullptr)
            options.*option.pValue = sValue;
        else
            options.nulls.push_back(sValue);
        return 1;
    }
    return 0;
}

bool LineReader::next(std::string& sLine, bool& bTooLong) {
    sLine.clear();
    bTooLong = false;
    int c = os::readByte(m_pFile);
    if (c == EOF) return false;
    ++m_llLine;
    while (c != EOF && c != '\n') {
        if (sLine.size() < m_nMax)
            sLine.push_back(static_cast<char>(c));
        else
            bTooLong = true;
        c = os::readByte(m_pFile);
    }
    if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
    return true;
}

}  // namespace qrtool

namespace qrtool {

Listing::Listing(const Options& options, bool bHeader, const std::vector<Field>& head, const char* szRowsKey)
    : m_bJson(options.bJson), m_bHeader(bHeader), m_bObject(true) {
    std::string s;
    if (m_bJson) {
        s = "{\n";
        for (const Field& f : head) s += "  " + jsonString(f.sKey) + ": " + f.sJson + ",\n";
        s += "  " + jsonString(szRowsKey) + ": [";
    } else {
        for (const Field& f : head)
            if (!f.sText.empty()) s += "# " + f.sKey + ": " + f.sText + "\n";
    }
    writeOut(s);
}

void Listing::row(const std::vector<Field>& fields) {
    std::string sLine;
    if (m_bJson) {
        sLine = m_llRows == 0 ? (m_bObject ? "\n    {" : "[\n  {") : (m_bObject ? ",\n    {" : ",\n  {");
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) sLine += ", ";
            sLine += jsonString(fields[i].sKey);
            sLine += ": ";
            sLine += fields[i].sJson;
        }
        sLine += '}';
    } else {
        if (m_llRows == 0 && m_bHeader) {
            for (std::size_t i = 0; i < fields.size(); ++i) {
                if (i > 0) sLine += '\t';
                sLine += fields[i].sKey;
            }
            sLine += '\n';
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) sLine += '\t';
            sLine += fields[i].sText;
        }
        sLine += '\n';
    }
    writeOut(sLine);
    ++m_llRows;
}

Listing::~Listing() {
    if (!m_bJson) return;
    if (m_bObject)
        writeOut(m_llRows == 0 ? "]\n}\n" : "\n  ]\n}\n");
    else
        writeOut(m_llRows == 0 ? "[]\n" : "\n]\n");
}

void ProgressDisplay::show(int64_t llDone, int64_t llTotal) {
    if (!m_bShow || llTotal <= 0) return;
    const int nPercent = static_cast<int>(llDone * 100 / llTotal);
    if (nPercent == m_nLastPercent) return;
    m_nLastPercent = nPercent;
    std::fprintf(stderr, "\r%s: %3d%% (%s of %s)", m_szVerb, nPercent, humanSize(llDone).c_str(), humanSize(llTotal).c_str());
    std::fflush(stderr);
}

void ProgressDisplay::end() {
    if (m_nLastPercent >= 0) std::fputs("\n", stderr);
    m_nLastPercent = -1;
}

}  // namespace qrtool
