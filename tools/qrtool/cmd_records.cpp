// qrtool: the columns and scan commands over blank-separated record files (XYZ survey text).
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "commands.h"
#include "survey_text.h"
#include "text_scanner.h"
#include "tool_os.h"

namespace qrtool {

namespace {

// A visitor that shows the scan's progress at a terminal, for long files (like the edits).
class ProgressVisitor : public LineVisitor {
public:
    void onProgress(int64_t llDone) override {
        if (m_pDisplay != nullptr) m_pDisplay->show(llDone, m_llTotal);
    }
    ProgressDisplay* m_pDisplay = nullptr;
    int64_t m_llTotal = 0;
};

// Runs the scanner over sPath. Returns 0, or the exit status after a message.
int scanFile(const char* szCommand, const std::string& sPath, ProgressVisitor& visitor) {
    const std::string sWhat = std::string(szCommand) + ": " + sPath + ": ";
    FileSource source;
    if (!source.open(sPath)) return fail(kExitFailed, sWhat + source.error());
    const int64_t llSize = source.size();
    ProgressDisplay display(szCommand, llSize >= (int64_t{16} << 20) && os::isTerminal(os::Stream::Err));
    visitor.m_pDisplay = &display;
    visitor.m_llTotal = llSize;
    TextScanner scanner;
    const ScanStatus status = scanner.run(source, visitor, std::max<int64_t>(llSize / 100, int64_t{1} << 20));
    if (status == ScanStatus::Done) visitor.onProgress(llSize);
    display.end();
    visitor.m_pDisplay = nullptr;
    if (status == ScanStatus::Binary)
        return fail(kExitFailed, sWhat + "looks binary (zero bytes, or mostly bytes that are not text, at its start): "
                                         "not a text file of records");
    if (status == ScanStatus::ReadError) return fail(kExitFailed, sWhat + source.error());
    if (!source.close()) return fail(kExitFailed, sWhat + source.error());
    return kExitOk;
}

std::string joinStarts(const std::vector<int64_t>& values, int64_t llTotal) {
    std::string s = joinNumbers(values, ",");
    if (llTotal > static_cast<int64_t>(values.size())) s += ",...";
    return s;
}

Field numbersField(const char* szKey, const std::vector<int32_t>& values) {
    return field(szKey, joinNumbers(values, ","), jsonNumbers(values));
}

Field channelsField(const ChannelFinder& channels) {
    std::string sText, sJson = "[";
    for (std::size_t i = 0; i < channels.names().size(); ++i) {
        if (i > 0) {
            sText += ' ';
            sJson += ", ";
        }
        sText += channels.names()[i];
        sJson += jsonString(channels.names()[i]);
    }
    sJson += ']';
    return field("channels", sText, sJson);
}

void warnCutLines(const char* szCommand, int64_t llCut) {
    if (llCut > 0)
        std::fprintf(stderr, "qrtool: %s: %lld lines longer than 1 MiB were cut there\n", szCommand, static_cast<long long>(llCut));
}

// ---- columns ---------------------------------------------------------------------------------

struct ColumnsVisitor : ProgressVisitor {
    LayoutCollector layouts;
    ChannelFinder channels;
    int64_t llCutLines = 0;
    void onLine(const ScanLine& line) override {
        if (line.bCut) ++llCutLines;
        if (line.kind == LineKind::Comment) {
            channels.comment(line.pText, line.nLength);
        } else if (line.kind == LineKind::Record) {
            if (!channels.settled()) channels.settle(line.fields());
            layouts.add(line);
        }
    }
};

}  // namespace

int runColumns(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "columns: expected one file (see qrtool columns --help)");
    ColumnsVisitor visitor;
    if (const int nStatus = scanFile("columns", args[0], visitor); nStatus != kExitOk) return nStatus;

    const LayoutSummary& summary = visitor.layouts.summary();
    {
        Listing listing(options, true, {channelsField(visitor.channels)}, "layouts");
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
    warnCutLines("columns", visitor.llCutLines);
    return kExitOk;
}

// ---- scan ------------------------------------------------------------------------------------

namespace {

// The shortest text that reads back as the same double.
std::string shortest(double d) {
    char szText[64];
    const auto result = std::to_chars(szText, szText + sizeof szText, d);
    return std::string(szText, result.ptr);
}

// Nulls and ranges are kept for this many columns of a line at most.
constexpr std::size_t kMaxColumns = 4096;

struct ColumnRange {
    double dMin = 0, dMax = 0;
    int64_t llValues = 0;
    bool bText = false;  // a value that is no number: the column is not numeric
};

struct SurveyLine {
    LineName name;
    int64_t llFirstLine = 0;
    std::optional<Flight> flight;
    int64_t llRecords = 0;
    std::vector<int32_t> widths;  // of the first record
    int64_t llLayouts = 0;        // runs of one layout inside the line
    std::vector<int64_t> nulls;   // '*' fields per column
    std::vector<ColumnRange> ranges;
    std::string sNote;
};

class ScanVisitor : public ProgressVisitor {
public:
    explicit ScanVisitor(const Options& options) : m_options(options) {}

    void onLine(const ScanLine& line) override {
        if (line.bCut) ++m_llCutLines;
        switch (line.kind) {
        case LineKind::Blank:
            break;
        case LineKind::Comment:
            comment(line);
            break;
        case LineKind::Header:
            if (m_bOpen) emit();
            startLine(nameLine(headerKeyword(line), headerName(line)), line.llNumber, true);
            break;
        case LineKind::Record:
            record(line);
            break;
        }
    }

    // Lists the last line and whatever still waits for the channel names.
    void finish() {
        if (m_bOpen) emit();
        m_bOpen = false;
        settle(0);
        m_listing.reset();
    }

    int64_t m_llLines = 0, m_llInvalid = 0, m_llDuplicates = 0, m_llCutLines = 0;

private:
    void comment(const ScanLine& line) {
        const char* pText = line.pText + line.nFirst;
        const std::size_t nLength = line.nLength - line.nFirst;
        m_channels.comment(pText, nLength);
        Flight flight;
        if (!flightComment(pText, nLength, flight)) return;
        m_flight = flight;
        // A flight comment right after a header, before the line's records, is that line's.
        if (m_bOpen && m_current.llRecords == 0) m_current.flight = flight;
    }

    // A survey line starts: at its header, or (bHeader false) at records before any header.
    void startLine(LineName name, int64_t llLineNumber, bool bHeader) {
        m_current = SurveyLine();
        m_current.name = std::move(name);
        m_current.llFirstLine = llLineNumber;
        m_current.flight = m_flight;
        m_bOpen = true;
        m_current.sNote = m_current.name.sReason;
        if (!bHeader) return;
        ++m_llLines;
        if (!m_current.name.valid()) ++m_llInvalid;
        if (!m_current.name.bCodes) return;
        // Two headers that code to one number are never silently merged.
        const auto it = m_codes.find(m_current.name.llCode);
        if (it != m_codes.end()) {
            ++m_llDuplicates;
            if (!m_current.sNote.empty()) m_current.sNote += "; ";
            m_current.sNote += "same code as " + it->second.first + " (line " + std::to_string(it->second.second) + ")";
        } else if (m_codes.size() < (std::size_t{1} << 20)) {
            m_codes.emplace(m_current.name.llCode, std::make_pair(m_current.name.sShown.substr(0, 64), llLineNumber));
        }
    }

    void record(const ScanLine& line) {
        if (!m_bOpen) {  // records before the first header
            LineName none;
            none.sShown = "(none)";
            none.sReason = "records before the first header";
            startLine(none, line.llNumber, false);
        }
        if (!m_channels.settled()) settle(line.fields());
        m_layouts.add(line);
        SurveyLine& current = m_current;
        if (current.llRecords == 0) current.widths = m_layouts.lastWidths();
        if (current.llRecords == 0 || !line.bSameLayout) ++current.llLayouts;
        ++current.llRecords;
        // A field that is '*' alone is a null value.
        if (!line.bStar) {
            if (m_options.bStats) ranges(line);
            return;
        }
        const uint32_t* pEnds = line.ends();
        const std::size_t nFields = std::min(line.fields(), kMaxColumns);
        for (std::size_t k = 0; k < nFields; ++k) {
            const std::size_t nEnd = pEnds[k];
            if (line.pText[nEnd - 1] != '*' || (nEnd >= 2 && line.pText[nEnd - 2] != ' ' && line.pText[nEnd - 2] != '\t'))
                continue;
            if (current.nulls.size() <= k) current.nulls.resize(k + 1);
            ++current.nulls[k];
        }
        if (m_options.bStats) ranges(line);
    }

    void ranges(const ScanLine& line) {
        std::vector<ColumnRange>& ranges = m_current.ranges;
        const uint32_t* pEnds = line.ends();
        const std::size_t nFields = std::min(line.fields(), kMaxColumns);
        if (ranges.size() < nFields) ranges.resize(nFields);
        for (std::size_t k = 0; k < nFields; ++k) {
            const std::size_t nEnd = pEnds[k];
            std::size_t nStart = nEnd;
            while (nStart > 0 && line.pText[nStart - 1] != ' ' && line.pText[nStart - 1] != '\t') --nStart;
            const char* pField = line.pText + nStart;
            const std::size_t nField = nEnd - nStart;
            if (nField == 1 && *pField == '*') continue;
            ColumnRange& range = ranges[k];
            double d = 0;
            const char* pFrom = pField + (nField > 1 && *pField == '+' ? 1 : 0);
            const auto result = std::from_chars(pFrom, pField + nField, d);
            if (result.ec != std::errc() || result.ptr != pField + nField) {
                range.bText = true;
                continue;
            }
            if (!std::isfinite(d)) continue;  // "nan", "inf": no value to range over
            if (range.llValues == 0 || d < range.dMin) range.dMin = d;
            if (range.llValues == 0 || d > range.dMax) range.dMax = d;
            ++range.llValues;
        }
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
        for (std::size_t k = 0; k < line.nulls.size(); ++k) {
            if (line.nulls[k] == 0) continue;
            const std::string sLabel = m_channels.label(k), sCount = std::to_string(line.nulls[k]);
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
            for (std::size_t k = 0; k < line.ranges.size(); ++k) {
                const ColumnRange& range = line.ranges[k];
                if (range.bText || range.llValues == 0) continue;
                const std::string sLabel = m_channels.label(k), sMin = shortest(range.dMin), sMax = shortest(range.dMax);
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

    // Rows wait for the channel names (settled by the first record) so that the listing can
    // start with them; a file with thousands of headers before its first record starts without.
    void emit() {
        std::vector<Field> fields = row(m_current);
        if (m_listing) {
            m_listing->row(fields);
            return;
        }
        m_pending.push_back(std::move(fields));
        if (m_pending.size() >= 4096) settle(0);
    }

    void settle(std::size_t nColumns) {
        m_channels.settle(nColumns);
        if (m_listing) return;
        m_listing.emplace(m_options, true, std::vector<Field>{channelsField(m_channels)}, "lines");
        for (const std::vector<Field>& fields : m_pending) m_listing->row(fields);
        m_pending.clear();
    }

    const Options& m_options;
    ChannelFinder m_channels;
    LayoutCollector m_layouts;
    std::optional<Flight> m_flight;
    SurveyLine m_current;
    bool m_bOpen = false;
    std::unordered_map<int64_t, std::pair<std::string, int64_t>> m_codes;  // first header of each code
    std::vector<std::vector<Field>> m_pending;
    std::optional<Listing> m_listing;
};

}  // namespace

int runScan(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "scan: expected one file (see qrtool scan --help)");
    ScanVisitor visitor(options);
    const int nStatus = scanFile("scan", args[0], visitor);
    if (nStatus != kExitOk) return nStatus;  // a read error part-way leaves the lines listed so far
    visitor.finish();
    warnCutLines("scan", visitor.m_llCutLines);
    if (visitor.m_llInvalid > 0)
        std::fprintf(stderr, "qrtool: scan: %lld of %lld line names are not valid (see the note column)\n",
                     static_cast<long long>(visitor.m_llInvalid), static_cast<long long>(visitor.m_llLines));
    if (visitor.m_llDuplicates > 0)
        std::fprintf(stderr, "qrtool: scan: %lld header %s to the same number as an earlier one (see the note column)\n",
                     static_cast<long long>(visitor.m_llDuplicates), visitor.m_llDuplicates == 1 ? "line codes" : "lines code");
    return kExitOk;
}

}  // namespace qrtool
