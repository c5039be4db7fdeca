// qrtool: the columns and scan commands over survey text (XYZ, CSV and ASEG-GDF records).
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <filesystem>
#include <functional>

#include "commands.h"
#include "survey_scan.h"
#include "tool_os.h"

namespace qrtool {

namespace {

// Receives a scan's results and shows its progress at a terminal, for long files (like the edits).
class ProgressSink : public ScanSink {
public:
    void onProgress(int64_t llDone) override {
        if (m_pDisplay != nullptr) m_pDisplay->show(llDone, m_llTotal);
    }
    void onLine(const SurveyLine&) override {}
    ProgressDisplay* m_pDisplay = nullptr;
    int64_t m_llTotal = -1;
};

// The scan options of the command line. Returns kExitOk, or kExitUsage after a message.
int scanOptions(const char* szCommand, const Options& options, ScanOptions& scan) {
    scan.sLineColumn = options.sLineColumn;
    scan.sFlightColumn = options.sFlightColumn;
    scan.sDefinition = options.sDefinition;
    scan.bStats = options.bStats;
    const std::string& s = options.sDelimiter;
    if (s.empty())
        scan.cDelimiter = '\0';
    else if (s == "," || s == "comma")
        scan.cDelimiter = ',';
    else if (s == ";" || s == "semicolon")
        scan.cDelimiter = ';';
    else if (s == "|")
        scan.cDelimiter = '|';
    else if (s == " " || s == "blank" || s == "space" || s == "tab")
        scan.cDelimiter = ' ';
    else
        return fail(kExitUsage, std::string(szCommand) + ": --delimiter " + s + ": not one of , ; | blank");
    for (const std::string& sNull : options.nulls) {
        NullValue null;
        std::string sError;
        if (!parseNullValue(sNull, null, sError)) return fail(kExitUsage, std::string(szCommand) + ": --null " + sError);
        scan.nulls.push_back(null);
    }
    return kExitOk;
}

// Scans one file. Returns kExitOk, or the exit status after a message (also in sError).
int scanFile(const char* szCommand, const std::string& sPath, SurveyScan& scan, ProgressSink& sink, std::string& sError) {
    std::error_code ec;
    const int64_t llSize = sPath == "-" ? -1 : static_cast<int64_t>(std::filesystem::file_size(sPath, ec));
    const int64_t llKnown = ec ? -1 : llSize;
    ProgressDisplay display(szCommand, llKnown >= (int64_t{16} << 20) && os::isTerminal(os::Stream::Err));
    sink.m_pDisplay = &display;
    sink.m_llTotal = llKnown;
    const ScanResult result = scan.scanFile(sPath, sink, std::max<int64_t>(llKnown / 100, int64_t{1} << 20));
    if (result == ScanResult::Done) sink.onProgress(llKnown);
    display.end();
    sink.m_pDisplay = nullptr;
    if (result == ScanResult::Done) return kExitOk;
    sError = scan.error();
    return fail(result == ScanResult::BadOption ? kExitUsage : kExitFailed,
                std::string(szCommand) + ": " + sPath + ": " + scan.error());
}

std::string joinStarts(const std::vector<int64_t>& values, int64_t llTotal) {
    std::string s = joinNumbers(values, ",");
    if (llTotal > static_cast<int64_t>(values.size())) s += ",...";
    return s;
}

Field numbersField(const char* szKey, const std::vector<int32_t>& values) {
    return field(szKey, joinNumbers(values, ","), jsonNumbers(values));
}

// The head of a file's listing: its name (when there are several), the channels and how the
// file was read, where that is not the plain way.
std::vector<Field> headFields(const std::string& sPath, bool bSeveral, const ScanSummary& summary) {
    std::vector<Field> head;
    if (bSeveral) head.push_back(text("file", sPath));
    std::string sText, sJson = "[";
    if (summary.bNamedChannels) {
        for (std::size_t i = 0; i < summary.channels.size(); ++i) {
            if (i > 0) {
                sText += ' ';
                sJson += ", ";
            }
            sText += summary.channels[i].label();
            sJson += jsonString(summary.channels[i].label());
        }
    }
    head.push_back(field("channels", sText, sJson + "]"));
    std::string sUnits, sUnitsJson;
    for (const Channel& channel : summary.channels) {
        if (channel.sUnits.empty()) continue;
        sUnits += (sUnits.empty() ? "" : " ") + channel.label() + "=" + channel.sUnits;
        sUnitsJson += (sUnitsJson.empty() ? "" : ", ") + jsonString(channel.label()) + ": " + jsonString(channel.sUnits);
    }
    if (!sUnits.empty()) head.push_back(field("units", sUnits, "{" + sUnitsJson + "}"));
    if (!summary.sDefinition.empty())
        head.push_back(field("definition", summary.sDefinition + " (" + std::to_string(summary.nRecordWidth) + " bytes per record)",
                             jsonString(summary.sDefinition)));
    if (summary.cDelimiter != ' ') head.push_back(text("delimiter", std::string(1, summary.cDelimiter)));
    if (summary.bCrLineEnds) head.push_back(text("line_ends", "CR"));
    if (!summary.sLineColumn.empty()) head.push_back(text("line_column", summary.sLineColumn));
    if (!summary.sFlightColumn.empty()) head.push_back(text("flight_column", summary.sFlightColumn));
    return head;
}

// What a scan noticed beyond its rows, on standard error.
void warnings(const std::string& sWhat, const ScanSummary& summary, bool bNames) {
    const auto say = [&](const std::string& s) { std::fprintf(stderr, "qrtool: %s%s\n", sWhat.c_str(), s.c_str()); };
    if (summary.llCutLines > 0) say(std::to_string(summary.llCutLines) + " lines longer than 1 MiB were cut there");
    if (summary.llUnknown > 0) {
        std::string s = std::to_string(summary.llUnknown) + (summary.llUnknown == 1 ? " line looks" : " lines look") +
                        " like a header or names but is not understood:";
        for (const auto& [llLine, sText] : summary.unknownSamples) s += " line " + std::to_string(llLine) + " '" + sText + "'";
        if (summary.llUnknown > static_cast<int64_t>(summary.unknownSamples.size())) s += " ...";
        say(s);
    }
    if (summary.llOtherWidth > 0)
        say(std::to_string(summary.llOtherWidth) + (summary.llOtherWidth == 1 ? " record is" : " records are") + " not " +
            std::to_string(summary.nRecordWidth) + " bytes wide as the definition says (first: line " +
            std::to_string(summary.llFirstOtherWidth) + ")");
    if (summary.llIgnoredHeaders > 0)
        say(std::to_string(summary.llIgnoredHeaders) + " header lines ignored: the lines come from column " + summary.sLineColumn);
    if (!bNames) return;
    if (summary.llInvalid > 0)
        say(std::to_string(summary.llInvalid) + " of " + std::to_string(summary.llHeaders) +
            " line names are not valid (see the note column)");
    if (summary.llDuplicates > 0)
        say(std::to_string(summary.llDuplicates) +
            (summary.llDuplicates == 1 ? " header line codes" : " header lines code") + " to the same number as an earlier one (see the note column)");
}

// Runs fn over every file, each output after the one before (JSON: an array of the objects when
// there are several; a file that could not be read at all has {"file": ..., "error": ...}
// there). fn returns its exit status and sets its message when it failed before listing
// anything. Returns the worst exit status.
int forEachFile(const Options& options, const Args& args,
                const std::function<int(const std::string&, bool, std::string&)>& fn) {
    const bool bSeveral = args.size() > 1;
    int nStatus = kExitOk;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (bSeveral) writeOut(options.bJson ? (i == 0 ? "[\n" : ",\n") : (i == 0 ? "" : "\n"));
        std::string sError;
        nStatus = std::max(nStatus, fn(args[i], bSeveral, sError));
        if (bSeveral && !sError.empty())
            writeOut(options.bJson ? "{\"file\": " + jsonString(args[i]) + ", \"error\": " + jsonString(sError) + "}\n"
                                   : "# file: " + args[i] + "\n# error: " + sError + "\n");
        if (outputFailed()) break;
    }
    if (bSeveral && options.bJson) writeOut("]\n");
    return nStatus;
}

// ---- columns ---------------------------------------------------------------------------------

int columnsOfFile(const Options& options, const ScanOptions& scanOptions, const std::string& sPath, bool bSeveral,
                  std::string& sError) {
    SurveyScan scan(scanOptions);
    ProgressSink sink;
    if (const int nStatus = scanFile("columns", sPath, scan, sink, sError); nStatus != kExitOk) return nStatus;
    const LayoutSummary& summary = scan.layouts();
    {
        Listing listing(options, true, headFields(sPath, bSeveral, scan.summary()), "layouts");
        for (std::size_t i = 0; i < summary.layouts.size(); ++i) {
            const Layout& layout = summary.layouts[i];
            listing.row({number("layout", static_cast<long long>(i + 1)),
                         number("columns", static_cast<long long>(layout.widths.size())),
                         numbersField("widths", layout.widths), number("records", layout.llRecords),
                         number("runs", layout.llRuns),
                         field("starts", joinStarts(layout.starts, layout.llRuns), jsonNumbers(layout.starts))});
        }
        const Layout& other = summary.other;
        if (other.llRecords > 0)
            listing.row({text("layout", "other"), number("columns", 0), field("widths", "", "[]"),
                         number("records", other.llRecords), number("runs", other.llRuns),
                         field("starts", joinStarts(other.starts, other.llRuns), jsonNumbers(other.starts))});
    }
    warnings(std::string("columns: ") + (bSeveral ? sPath + ": " : ""), scan.summary(), false);
    return kExitOk;
}

}  // namespace

int runColumns(const Options& options, const Args& args) {
    if (args.empty()) return fail(kExitUsage, "columns: expected a file (see qrtool columns --help)");
    ScanOptions scan;
    if (const int nStatus = scanOptions("columns", options, scan); nStatus != kExitOk) return nStatus;
    return forEachFile(options, args, [&](const std::string& sPath, bool bSeveral, std::string& sError) {
        return columnsOfFile(options, scan, sPath, bSeveral, sError);
    });
}

// ---- scan ------------------------------------------------------------------------------------

namespace {

// The shortest text that reads back as the same double.
std::string shortest(double d) {
    char szText[64];
    const auto result = std::to_chars(szText, szText + sizeof szText, d);
    return std::string(szText, result.ptr);
}

// Lists every survey line as the scan hands it over, after the channels.
class ScanListing : public ProgressSink {
public:
    ScanListing(const Options& options, const std::string& sPath, bool bSeveral)
        : m_options(options), m_sPath(sPath), m_bSeveral(bSeveral) {}

    void onChannels(const ScanSummary& summary) override {
        m_pSummary = &summary;
        m_listing.emplace(m_options, true, headFields(m_sPath, m_bSeveral, summary), "lines");
    }

    void onLine(const SurveyLine& line) override { m_listing->row(row(line)); }

    void finish() { m_listing.reset(); }
    bool started() const { return m_listing.has_value(); }

private:
    std::string label(std::size_t nChannel) const {
        if (nChannel < m_pSummary->channels.size()) return m_pSummary->channels[nChannel].label();
        return "c" + std::to_string(nChannel + 1);
    }

    std::vector<Field> row(const SurveyLine& line) const {
        const LineName& name = line.name;
        std::vector<Field> fields{text("line", name.sShown), number("code", name.llCode), boolean("valid", name.valid()),
                                  text("type", name.sType), text("area", name.sArea)};
        if (line.flight) {
            fields.push_back(text("flight", line.flight->sShown));
            fields.push_back(number("flight_code", line.flight->lCode));
        } else {
            fields.push_back(text("flight", ""));
            fields.push_back(field("flight_code", "", "null"));
        }
        fields.push_back(number("records", line.llRecords));
        fields.push_back(number("first_line", line.llFirstLine));
        fields.push_back(numbersField("widths", line.widths));
        fields.push_back(number("layouts", line.llLayouts));
        std::string sText, sJson = "{";
        for (std::size_t k = 0; k < line.channels.size(); ++k) {
            if (line.channels[k].llNulls == 0) continue;
            const std::string sLabel = label(k), sCount = std::to_string(line.channels[k].llNulls);
            if (!sText.empty()) {
                sText += ' ';
                sJson += ", ";
            }
            sText += sLabel + "=" + sCount;
            sJson += jsonString(sLabel) + ": " + sCount;
        }
        fields.push_back(field("nulls", sText, sJson + "}"));
        fields.push_back(text("note", line.sNote));
        if (m_options.bStats) {
            sText.clear();
            sJson = "{";
            for (std::size_t k = 0; k < line.channels.size(); ++k) {
                const ChannelStats& stats = line.channels[k];
                if (stats.bText || stats.llValues == 0) continue;
                const std::string sLabel = label(k), sMin = shortest(stats.dMin), sMax = shortest(stats.dMax);
                if (!sText.empty()) {
                    sText += ' ';
                    sJson += ", ";
                }
                sText += sLabel + "=" + sMin + ".." + sMax;
                sJson += jsonString(sLabel) + ": {\"min\": " + sMin + ", \"max\": " + sMax + "}";
            }
            fields.push_back(field("ranges", sText, sJson + "}"));
        }
        return fields;
    }

    const Options& m_options;
    std::string m_sPath;
    bool m_bSeveral;
    const ScanSummary* m_pSummary = nullptr;
    std::optional<Listing> m_listing;
};

int scanOfFile(const Options& options, const ScanOptions& scanOptions, const std::string& sPath, bool bSeveral,
               std::string& sError) {
    SurveyScan scan(scanOptions);
    ScanListing listing(options, sPath, bSeveral);
    const int nStatus = scanFile("scan", sPath, scan, listing, sError);
    if (listing.started()) sError.clear();  // the listing holds what was read before the failure
    listing.finish();  // a read error part-way leaves the lines listed so far
    if (nStatus != kExitOk) return nStatus;
    warnings(std::string("scan: ") + (bSeveral ? sPath + ": " : ""), scan.summary(), true);
    return kExitOk;
}

}  // namespace

int runScan(const Options& options, const Args& args) {
    if (args.empty()) return fail(kExitUsage, "scan: expected a file (see qrtool scan --help)");
    ScanOptions scan;
    if (const int nStatus = scanOptions("scan", options, scan); nStatus != kExitOk) return nStatus;
    return forEachFile(options, args, [&](const std::string& sPath, bool bSeveral, std::string& sError) {
        return scanOfFile(options, scan, sPath, bSeveral, sError);
    });
}

}  // namespace qrtool
