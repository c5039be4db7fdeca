// qrtool: the columns and scan commands over blank-separated record files.
#include <cerrno>
#include <cstring>
#include <map>

#include "commands.h"
#include "qrcore/survey.h"
#include "records.h"

namespace qrtool {

namespace {

// Distinct layouts kept per file; a ragged file with more is summarised in one "other" row so
// memory stays bounded whatever the file's size.
constexpr std::size_t kMaxLayouts = 4096;
constexpr std::size_t kMaxStarts = 16;

struct Layout {
    std::vector<int32_t> widths;
    int64_t llRecords = 0;
    int64_t llRuns = 0;
    std::vector<int64_t> starts;  // the first kMaxStarts line numbers where a run begins
};

std::string joinStarts(const std::vector<int64_t>& values, int64_t llTotal) {
    std::string s = joinNumbers(values, ",");
    if (llTotal > static_cast<int64_t>(values.size())) s += ",...";
    return s;
}

int openFailed(const char* szCommand, const std::string& sPath) {
    return fail(kExitFailed, std::string(szCommand) + ": " + sPath + ": " + std::strerror(errno));
}

}  // namespace

int runColumns(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "columns: expected one file (see qrtool columns --help)");
    std::FILE* pFile = openInput(args[0]);
    if (pFile == nullptr) return openFailed("columns", args[0]);

    std::vector<Layout> layouts;
    std::map<std::vector<int32_t>, std::size_t> index;
    Layout other;  // records of layouts beyond kMaxLayouts
    std::size_t nPrevious = SIZE_MAX;
    LineReader reader(pFile);
    std::string sLine;
    bool bTooLong = false;
    int64_t llTooLong = 0;
    while (reader.next(sLine, bTooLong)) {
        if (bTooLong) ++llTooLong;
        if (classifyLine(sLine, nullptr) != LineKind::Record) continue;
        const std::vector<int32_t> widths = columnWidths(sLine);
        std::size_t nLayout = SIZE_MAX;
        if (auto it = index.find(widths); it != index.end()) {
            nLayout = it->second;
        } else if (layouts.size() < kMaxLayouts) {
            nLayout = layouts.size();
            index.emplace(widths, nLayout);
            layouts.push_back({widths, 0, 0, {}});
        }
        Layout& layout = nLayout == SIZE_MAX ? other : layouts[nLayout];
        ++layout.llRecords;
        if (nLayout != nPrevious || nLayout == SIZE_MAX) {
            ++layout.llRuns;
            if (layout.starts.size() < kMaxStarts) layout.starts.push_back(reader.lineNumber());
        }
        nPrevious = nLayout;
    }
    const bool bReadError = std::ferror(pFile) != 0;
    if (pFile != stdin) std::fclose(pFile);
    if (bReadError) return fail(kExitFailed, "columns: " + args[0] + ": read error");

    {
        Listing listing(options, true);
        for (std::size_t i = 0; i < layouts.size(); ++i) {
            const Layout& layout = layouts[i];
            listing.row({number("layout", static_cast<long long>(i + 1)),
                         number("columns", static_cast<long long>(layout.widths.size())),
                         options.bJson ? rawJson("widths", jsonWidths(layout.widths)) : text("widths", joinWidths(layout.widths)),
                         number("records", layout.llRecords), number("runs", layout.llRuns),
                         options.bJson ? rawJson("starts", jsonNumbers(layout.starts))
                                       : text("starts", joinStarts(layout.starts, layout.llRuns))});
        }
        if (other.llRecords > 0)
            listing.row({text("layout", "other"), number("columns", 0), text("widths", ""), number("records", other.llRecords),
                         number("runs", other.llRuns),
                         options.bJson ? rawJson("starts", jsonNumbers(other.starts))
                                       : text("starts", joinStarts(other.starts, other.llRuns))});
    }
    if (llTooLong > 0)
        std::fprintf(stderr, "qrtool: columns: %lld lines longer than 1 MiB were cut\n", static_cast<long long>(llTooLong));
    return kExitOk;
}

namespace {

struct SurveyLine {
    std::string sName;
    int64_t llCode = 0;
    bool bValid = false;
    std::string sType, sArea;
    int64_t llRecords = 0;
    int64_t llFirstLine = 0;
    std::vector<int32_t> widths;  // of the first record
    int64_t llLayouts = 0;        // layout changes inside the line, plus one
    std::vector<int32_t> lastWidths;
};

SurveyLine startLine(const std::string& sName, int64_t llLineNumber) {
    SurveyLine line;
    line.sName = sName;
    line.llFirstLine = llLineNumber;
    std::vector<char> name(sName.begin(), sName.end());
    name.push_back('\0');
    line.bValid = ToIntLineNo(name.data(), &line.llCode);
    char szNumber[32] = "", szArea[8] = "";
    char cType = '\0';
    name.assign(sName.begin(), sName.end());
    name.push_back('\0');
    if (line.bValid && SplitCharLineNo(name.data(), szNumber, sizeof szNumber, &cType, szArea, sizeof szArea)) {
        line.sType = cType ? std::string(1, cType) : "";
        line.sArea = szArea;
    }
    return line;
}

void printLine(Listing& listing, const SurveyLine& line, bool bJson) {
    listing.row({text("line", line.sName), number("code", line.llCode), text("valid", line.bValid ? "yes" : "no"),
                 text("type", line.sType), text("area", line.sArea), number("records", line.llRecords),
                 number("first_line", line.llFirstLine),
                 bJson ? rawJson("widths", jsonWidths(line.widths)) : text("widths", joinWidths(line.widths)),
                 number("layouts", line.llLayouts)});
}

}  // namespace

int runScan(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "scan: expected one file (see qrtool scan --help)");
    std::FILE* pFile = openInput(args[0]);
    if (pFile == nullptr) return openFailed("scan", args[0]);

    Listing listing(options, true);
    SurveyLine current;
    bool bOpen = false;
    int64_t llLines = 0, llInvalid = 0;
    LineReader reader(pFile);
    std::string sLine, sName;
    bool bTooLong = false;
    while (reader.next(sLine, bTooLong)) {
        switch (classifyLine(sLine, &sName)) {
        case LineKind::Blank:
        case LineKind::Comment:
            break;
        case LineKind::Header:
            if (bOpen) printLine(listing, current, options.bJson);
            current = startLine(sName, reader.lineNumber());
            bOpen = true;
            ++llLines;
            if (!current.bValid) ++llInvalid;
            break;
        case LineKind::Record: {
            if (!bOpen) {  // records before the first header
                current = startLine("(none)", reader.lineNumber());
                current.bValid = false;
                bOpen = true;
            }
            std::vector<int32_t> widths = columnWidths(sLine);
            if (current.llRecords == 0) current.widths = widths;
            if (current.llRecords == 0 || widths != current.lastWidths) ++current.llLayouts;
            current.lastWidths = std::move(widths);
            ++current.llRecords;
            break;
        }
        }
    }
    if (bOpen) printLine(listing, current, options.bJson);
    const bool bReadError = std::ferror(pFile) != 0;
    if (pFile != stdin) std::fclose(pFile);
    if (bReadError) return fail(kExitFailed, "scan: " + args[0] + ": read error");
    if (llInvalid > 0)
        std::fprintf(stderr, "qrtool: scan: %lld of %lld line names did not decode\n", static_cast<long long>(llInvalid),
                     static_cast<long long>(llLines));
    return kExitOk;
}

}  // namespace qrtool
