// qrtool: the survey reading of XYZ and ASEG-GDF text: lines (from headers or a line column),
// channels (from comments, a names line or a definition), nulls and ranges, in one pass.
#include "survey_scan.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <unordered_map>

#include "gdf_definition.h"

namespace qrtool {

namespace {

// Nulls and ranges are kept for this many columns of a file without a definition.
constexpr std::size_t kMaxColumns = 4096;
constexpr std::size_t kMaxSamples = 3;          // lines not understood, shown as examples
constexpr std::size_t kMaxPendingLines = 4096;  // survey lines that wait for the channel names
constexpr std::size_t kMaxPendingTexts = 64;    // text lines before the first record, kept as names
constexpr int64_t kMaxDefinitionBytes = int64_t{16} << 20;
constexpr std::size_t kMaxGlobalNulls = 64;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The last value of a line or flight column. Each record's is compared as it stands, in two
// word compares when it is short (as line numbers are); only when the bytes differ are the
// values compared without their blanks. The scanner's lines are followed by at least 64
// readable bytes, so 16 bytes can be loaded from any field.
class ColumnValue {
public:
    // Whether the value (blanks around it aside) differs from the last one, which it becomes.
    bool changed(const char* p, std::size_t n) { return !same(p, n) && update(p, n); }
    // The value without blanks around it.
    const std::string& text() const { return m_sTrimmed; }

private:
    bool same(const char* p, std::size_t n) const {
        if (n != m_sValue.size() || !m_bHave) return false;
        if (n > 16) return std::memcmp(p, m_sValue.data(), n) == 0;
        uint64_t a = 0, b = 0;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        const uint64_t llMaskA = n >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
        const uint64_t llMaskB = n >= 16 ? ~uint64_t{0} : n <= 8 ? 0 : (uint64_t{1} << (8 * (n - 8))) - 1;
        return ((a & llMaskA) == m_llA) & ((b & llMaskB) == m_llB);
    }
    // Takes the new bytes; whether the value without blanks differs. Rare: kept out of line.
#if defined(__GNUC__)
    __attribute__((noinline))
#endif
    bool update(const char* p, std::size_t n) {
        const bool bHad = m_bHave;
        const std::string sOld = m_sTrimmed;
        assign(p, n);
        return !bHad || m_sTrimmed != sOld;
    }
    void assign(const char* p, std::size_t n) {
        m_sValue.assign(p, n);
        m_bHave = true;
        char bytes[16] = {};
        std::memcpy(bytes, p, std::min<std::size_t>(n, 16));
        std::memcpy(&m_llA, bytes, 8);
        std::memcpy(&m_llB, bytes + 8, 8);
        std::size_t nStart = 0, nEnd = n;
        while (nStart < nEnd && isBlank(p[nStart])) ++nStart;
        while (nEnd > nStart && isBlank(p[nEnd - 1])) --nEnd;
        m_sTrimmed.assign(p + nStart, nEnd - nStart);
    }

    std::string m_sValue, m_sTrimmed;
    uint64_t m_llA = 0, m_llB = 0;
    bool m_bHave = false;
};

bool equalsNoCase(const std::string& a, const std::string& b) { return a.size() == b.size() && upper(a) == upper(b); }

// A field made of stars only: a null (as printed for a value that did not fit, too).
bool isStars(const char* p, std::size_t n) {
    if (n == 0) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != '*') return false;
    return true;
}

enum class Parsed { Number, NotFinite, Text };

Parsed parseNumber(const char* p, std::size_t n, double& d) {
    const char* pFrom = p + (n > 1 && *p == '+' ? 1 : 0);
    const auto result = std::from_chars(pFrom, p + n, d);
    if (result.ec != std::errc() || result.ptr != p + n) return Parsed::Text;
    return std::isfinite(d) ? Parsed::Number : Parsed::NotFinite;
}

// A null value and what lets most fields be told apart from it without reading them as numbers:
// its sign and the number of digits of its whole part.
struct NullKey {
    double dValue = 0;
    bool bNegative = false;
    std::size_t nDigits = 0;
};

NullKey makeKey(double d) {
    NullKey key;
    key.dValue = d;
    key.bNegative = d < 0;
    for (double a = std::floor(std::fabs(d)); a >= 1 && key.nDigits < 400; a = std::floor(a / 10)) ++key.nDigits;
    return key;
}

// False when the field cannot equal the key as a number (checked without reading it).
bool mayEqual(const char* p, std::size_t n, const NullKey& key) {
    if (key.dValue == 0) return true;
    std::size_t i = 0;
    const bool bNegative = p[0] == '-';
    if (p[0] == '-' || p[0] == '+') ++i;
    if (bNegative != key.bNegative) return false;
    while (i < n && p[i] == '0') ++i;
    const std::size_t nStart = i;
    while (i < n && isDigit(p[i])) ++i;
    if (i - nStart == key.nDigits) return true;
    // An exponent gives the digits another meaning.
    for (; i < n; ++i)
        if (p[i] == 'e' || p[i] == 'E') return true;
    return false;
}

// A line column's value as a line name: a whole number written with decimals (1001.0) is that
// number.
std::string columnLineName(std::string_view value) {
    std::string s(value);
    const std::size_t nDot = s.find('.');
    if (nDot != std::string::npos && nDot > 0 && isDigit(s[nDot - 1]) &&
        s.find_first_not_of('0', nDot + 1) == std::string::npos)
        s.erase(nDot);
    return s;
}

const char* const kLineNames[] = {"LINE", "LINE_NO", "LINENO", "LINENUMBER", "LINE_NUMBER", "FLTLINE"};
const char* const kFlightNames[] = {"FLIGHT", "FLIGHT_NO", "FLIGHTNO", "FLIGHTNUMBER", "FLIGHT_NUMBER", "FLT"};

}  // namespace

bool parseNullValue(const std::string& sText, NullValue& null, std::string& sError) {
    null = NullValue();
    std::string sValue = sText;
    if (const std::size_t nEquals = sText.rfind('='); nEquals != std::string::npos) {
        null.sChannel = sText.substr(0, nEquals);
        sValue = sText.substr(nEquals + 1);
        if (null.sChannel.empty()) {
            sError = "'" + sText + "': no channel before '='";
            return false;
        }
    }
    double d = 0;
    if (sValue.empty() || parseNumber(sValue.data(), sValue.size(), d) != Parsed::Number) {
        sError = "'" + sValue + "' is no number";
        return false;
    }
    null.sText = sValue;
    null.dValue = d;
    return true;
}

std::string Channel::label() const {
    if (nCount <= 1) return sName;
    return sName + "[1.." + std::to_string(nCount) + "]";
}

std::string findDefinition(const std::string& sDataPath) {
    if (sDataPath.empty() || sDataPath == "-") return {};
    std::string sBase = sDataPath;
    const std::size_t nSlash = sBase.find_last_of("/\\");
    const std::size_t nDot = sBase.rfind('.');
    if (nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash)) sBase.erase(nDot);
    for (const char* szExtension : {".dfn", ".DFN"}) {
        const std::string sPath = sBase + szExtension;
        if (sPath == sDataPath) continue;
        std::error_code ec;
        if (std::filesystem::is_regular_file(sPath, ec)) return sPath;
    }
    return {};
}

// ---- the scan --------------------------------------------------------------------------------

struct SurveyScan::State : LineVisitor {
    State(SurveyScan& owner, ScanSink& sink) : m_owner(owner), m_sink(sink), m_options(owner.m_options) {}

    SurveyScan& m_owner;
    ScanSink& m_sink;
    const ScanOptions& m_options;
    TextScanner m_scanner;
    ScanSummary m_summary;
    LayoutCollector m_layouts;
    ChannelFinder m_finder;
    std::optional<GdfDefinition> m_definition;
    // A definition's columns: where each lies in a record, and its channel.
    std::vector<std::size_t> m_offsets, m_widths, m_columnChannel;
    std::vector<std::vector<NullKey>> m_columnNulls;  // per column, from its channel
    std::vector<NullKey> m_globalNulls;               // for every column
    std::vector<std::size_t> m_nullColumns;           // the columns with nulls of their own
    bool m_bNegativeNulls = true;                     // every null is below zero
    bool m_bSettled = false, m_bHeaderSeen = false, m_bOpen = false, m_bFailed = false, m_bDummyNext = false;
    std::size_t m_nLineColumn = SIZE_MAX, m_nFlightColumn = SIZE_MAX;
    ColumnValue m_lineValue, m_flightValue;
    bool m_bWantRecords = false;
    bool m_bWantLayouts = true;
    bool m_bRecordNull = false;  // the record being read held a null (reset as a reader gets it)
    bool m_bTrackMinus = false;  // lines tell their minus signs
    std::optional<Flight> m_flight;
    SurveyLine m_current;
    int64_t m_llLineOtherWidth = 0, m_llLineFirstOtherWidth = 0, m_llLineUnknown = 0, m_llLineFirstUnknown = 0;
    std::unordered_map<int64_t, std::pair<std::string, int64_t>> m_codes;  // first line of each code
    struct PendingText {
        int64_t llLine;
        std::string sText;
        std::vector<std::string> words;
    };
    std::vector<PendingText> m_pendingTexts;
    std::vector<SurveyLine> m_pendingLines;

    void fail(const std::string& sWhy) {
        if (m_bFailed) return;
        m_bFailed = true;
        m_owner.m_sError = sWhy;
        m_scanner.stop();
    }

    void onProgress(int64_t llDone) override { m_sink.onProgress(llDone); }
    void onRegionEnd() override {
        if (m_bWantRecords) m_sink.onRegionEnd();
    }

    void onLine(const ScanLine& line) override {
        if (m_bFailed) return;
        if (line.bCut) ++m_summary.llCutLines;
        switch (line.kind) {
        case LineKind::Blank:
            break;
        case LineKind::Comment:
            comment(line);
            break;
        case LineKind::Header:
            header(line);
            break;
        case LineKind::Text:
            text(line);
            break;
        case LineKind::Record:
            record(line);
            break;
        }
    }

    bool fixed() const { return m_definition.has_value(); }

    // Column k of a record without the blanks around it.
    void span(const ScanLine& line, std::size_t k, std::size_t& nStart, std::size_t& nSize) const {
        if (!fixed()) {
            line.field(k, nStart, nSize);
            return;
        }
        nStart = line.nLength;
        nSize = 0;
        if (k >= m_offsets.size() || m_offsets[k] >= line.nLength) return;
        std::size_t i = m_offsets[k], nEnd = std::min(line.nLength, m_offsets[k] + m_widths[k]);
        while (i < nEnd && isBlank(line.pText[i])) ++i;
        while (nEnd > i && isBlank(line.pText[nEnd - 1])) --nEnd;
        nStart = i;
        nSize = nEnd - i;
    }

    // Column k as it stands, blanks and all where that is quicker to find (a line column's
    // value): where the definition places it, or from the end of the field before it.
    void rawSpan(const ScanLine& line, std::size_t k, std::size_t& nStart, std::size_t& nSize) const {
        if (fixed()) {
            nStart = std::min(line.nLength, m_offsets[k]);
            nSize = std::min(line.nLength, m_offsets[k] + m_widths[k]) - nStart;
            return;
        }
        if (line.cDelimiter == '\0' && line.nEndWords > 0) {
            // The first fields end in the mask's first word.
            uint64_t w = line.pEndBits[0];
            std::size_t nFrom = 0;
            for (std::size_t i = 0; i < k && w != 0; ++i, w &= w - 1) nFrom = static_cast<std::size_t>(std::countr_zero(w)) + 1;
            if (w != 0 && (k == 0 || nFrom > 0)) {
                nStart = nFrom;
                nSize = static_cast<std::size_t>(std::countr_zero(w)) + 1 - nFrom;
                return;
            }
        }
        line.field(k, nStart, nSize);
    }

    std::size_t columnCount(const ScanLine& line) const { return fixed() ? m_offsets.size() : line.fields(); }

    // A field as a number. Files separated by semicolons write decimal commas (1,5).
    Parsed parseValue(const char* p, std::size_t n, double& d) const {
        const Parsed parsed = parseNumber(p, n, d);
        if (parsed != Parsed::Text || m_scanner.delimiter() != ';' || n > 64) return parsed;
        const char* pComma = static_cast<const char*>(std::memchr(p, ',', n));
        if (pComma == nullptr) return parsed;
        char szValue[64];
        std::memcpy(szValue, p, n);
        szValue[pComma - p] = '.';
        return parseNumber(szValue, n, d);
    }

    // Whether column k's text equals one of its nulls ('*' aside).
    bool isNull(std::size_t k, const char* p, std::size_t n, double& d, int& nParsed) const {
        const auto test = [&](const NullKey& key) {
            if (!mayEqual(p, n, key)) return false;
            if (nParsed < 0) nParsed = static_cast<int>(parseValue(p, n, d));
            return nParsed == static_cast<int>(Parsed::Number) && d == key.dValue;
        };
        if (k < m_columnNulls.size())
            for (const NullKey& key : m_columnNulls[k])
                if (test(key)) return true;
        for (const NullKey& key : m_globalNulls)
            if (test(key)) return true;
        return false;
    }

    RecordView::Value value(const ScanLine& line, std::size_t k, double& d) const {
        std::size_t nStart = 0, nSize = 0;
        span(line, k, nStart, nSize);
        if (nSize == 0) return RecordView::Value::Missing;
        const char* p = line.pText + nStart;
        if (isStars(p, nSize)) return RecordView::Value::Null;
        int nParsed = -1;
        if (isNull(k, p, nSize, d, nParsed)) return RecordView::Value::Null;
        if (nParsed < 0) nParsed = static_cast<int>(parseValue(p, nSize, d));
        if (nParsed == static_cast<int>(Parsed::Text)) return RecordView::Value::Text;
        return RecordView::Value::Number;
    }

    // ---- lines of each kind

    void comment(const ScanLine& line) {
        const char* pText = line.pText + line.nFirst;
        const std::size_t nLength = line.nLength - line.nFirst;
        // A Workbench null: "/DUMMY" with the value on the next comment line (or after it).
        const std::vector<std::string> words = slashCommentWords(pText, nLength, line.cDelimiter);
        if (m_bDummyNext) {
            m_bDummyNext = false;
            double d = 0;
            if (!words.empty() && parseNumber(words[0].data(), words[0].size(), d) == Parsed::Number) {
                addGlobalNull(d);
                return;
            }
        }
        if (!words.empty() && equalsNoCase(words[0], "DUMMY")) {
            double d = 0;
            if (words.size() == 1)
                m_bDummyNext = true;
            else if (parseNumber(words[1].data(), words[1].size(), d) == Parsed::Number)
                addGlobalNull(d);
            return;
        }
        m_finder.comment(pText, nLength, line.cDelimiter);
        Flight flight;
        if (!flightComment(pText, nLength, flight)) return;
        m_flight = flight;
        // A flight comment right after a header, before the line's records, is that line's.
        if (m_bOpen && m_current.llRecords == 0) m_current.flight = flight;
    }

    // A null for every column. Bounded: every field is compared with each, and a file may
    // repeat its null block any number of times.
    void addGlobalNull(double d) {
        for (const NullKey& key : m_globalNulls)
            if (key.dValue == d) return;
        if (m_globalNulls.size() >= kMaxGlobalNulls) return;
        m_globalNulls.push_back(makeKey(d));
        indexNulls();
    }

    void header(const ScanLine& line) {
        if (fixed()) {
            m_scanner.forgetLayout();
            record(line);
            return;
        }
        if (m_bSettled && m_nLineColumn != SIZE_MAX) {
            ++m_summary.llIgnoredHeaders;
            return;
        }
        if (!m_bSettled) m_bHeaderSeen = true;
        if (m_bOpen) emit();
        const std::string sKeyword = headerKeyword(line);
        startLine(nameLine(lineKeywordType(sKeyword.data(), sKeyword.size()), headerName(line)), line.llNumber, true);
    }

    void text(const ScanLine& line) {
        if (fixed()) {
            // Comment records of the definition's kind; everything else is a record.
            if (m_definition->bCommentRecords && line.nLength - line.nFirst >= 4 &&
                upper(std::string(line.pText + line.nFirst, 4)) == "COMM")
                return;
            m_scanner.forgetLayout();
            record(line);
            return;
        }
        // A record whose first field is a name with digits (a station STN012, a line L1001); a
        // bare word ("Lines 10"), or another column count than the records', makes no record.
        std::size_t nStart = 0, nSize = 0;
        line.field(0, nStart, nSize);
        bool bDigit = false;
        for (std::size_t i = nStart; i < nStart + nSize && !bDigit; ++i) bDigit = isDigit(line.pText[i]);
        if (bDigit && (!m_bSettled || line.fields() == m_summary.nColumns)) {
            m_scanner.forgetLayout();
            record(line);
            return;
        }
        if (m_bSettled) {
            unknown(line.llNumber, std::string(line.pText + line.nFirst, line.nLength - line.nFirst));
            return;
        }
        // Before the first record: perhaps the channel names (a names line without '/').
        std::string sText(line.pText + line.nFirst, std::min<std::size_t>(line.nLength - line.nFirst, 64 << 10));
        if (m_pendingTexts.size() >= kMaxPendingTexts) {
            unknown(m_pendingTexts.front().llLine, m_pendingTexts.front().sText);
            m_pendingTexts.erase(m_pendingTexts.begin());
        }
        std::vector<std::string> words;
        for (std::size_t k = 0, n = std::min<std::size_t>(line.fields(), 4096); k < n; ++k) words.push_back(fieldText(line, k));
        m_pendingTexts.push_back({line.llNumber, std::move(sText), std::move(words)});
    }

    void unknown(int64_t llLine, const std::string& sText) {
        ++m_summary.llUnknown;
        if (m_summary.unknownSamples.size() < kMaxSamples) m_summary.unknownSamples.emplace_back(llLine, sText.substr(0, 80));
        if (m_bOpen) {
            if (m_llLineUnknown++ == 0) m_llLineFirstUnknown = llLine;
        }
    }

    void record(const ScanLine& line) {
        if (!m_bSettled) settle(fixed() ? m_offsets.size() : line.fields());
        if (m_bFailed) return;
        std::size_t nStart = 0, nSize = 0;
        if (m_nLineColumn != SIZE_MAX) {
            rawSpan(line, m_nLineColumn, nStart, nSize);
            if (m_lineValue.changed(line.pText + nStart, nSize) || !m_bOpen) {
                if (m_bOpen) emit();
                startLine(nameLine('L', columnLineName(m_lineValue.text())), line.llNumber, true);
            }
        } else if (!m_bOpen) {  // records before the first header
            LineName none;
            none.sShown = "(none)";
            none.sReason = "records before the first header";
            startLine(none, line.llNumber, false);
        }
        if (m_nFlightColumn != SIZE_MAX) {
            rawSpan(line, m_nFlightColumn, nStart, nSize);
            if (m_flightValue.changed(line.pText + nStart, nSize) || !m_flight) {
                m_flight = nameFlight(m_flightValue.text());
                if (m_current.llRecords == 0) m_current.flight = m_flight;
            }
        }
        SurveyLine& current = m_current;
        if (m_bWantLayouts) {
            m_layouts.add(line);
            if (current.llRecords == 0) current.widths = m_layouts.lastWidths();
            if (current.llRecords == 0 || m_layouts.newRun()) ++current.llLayouts;
        } else if (current.llRecords == 0) {
            current.widths = recordWidths(line);
        }
        ++current.llRecords;
        if (fixed() && line.nLength != m_summary.nRecordWidth) {
            if (m_summary.llOtherWidth++ == 0) m_summary.llFirstOtherWidth = line.llNumber;
            if (m_llLineOtherWidth++ == 0) m_llLineFirstOtherWidth = line.llNumber;
        }
        // Without a minus sign a record holds no negative null: most records are passed here.
        if (m_options.bStats || line.bStar || !m_globalNulls.empty() ||
            (!m_nullColumns.empty() && (!m_bTrackMinus || line.bMinus || !m_bNegativeNulls)))
            values(line);
        if (m_bWantRecords) {
            RecordView view;
            view.m_pScan = &m_owner;
            view.m_pLine = &line;
            view.m_bNull = m_bRecordNull;
            m_bRecordNull = false;
            m_sink.onRecord(view);
        }
    }

    // Nulls and ranges of a record's columns. Most records hold no null: a field can only equal
    // a negative null where the record has a minus sign, which one memchr finds, so without
    // --stats the fields are read only around those. A null found sets m_bRecordNull.
    void values(const ScanLine& line) {
        const bool bAll = m_options.bStats || line.bStar || !m_globalNulls.empty();
        if (!bAll && m_bTrackMinus && !line.bMinus && m_bNegativeNulls) return;
        constexpr std::size_t kMaxMinus = 16;
        uint32_t minus[kMaxMinus];
        std::size_t nMinus = 0;
        bool bManyMinus = false;
        for (const char* p = line.pText; (p = static_cast<const char*>(std::memchr(p, '-', line.nLength - static_cast<std::size_t>(p - line.pText)))) != nullptr; ++p) {
            if (nMinus == kMaxMinus) {
                bManyMinus = true;
                break;
            }
            minus[nMinus++] = static_cast<uint32_t>(p - line.pText);
        }
        if (!bAll && nMinus == 0 && m_bNegativeNulls) return;
        const std::size_t nColumns = fixed() ? m_offsets.size() : std::min(line.fields(), kMaxColumns);
        const std::size_t nList = bAll ? nColumns : m_nullColumns.size();
        std::vector<ChannelStats>& channels = m_current.channels;
        for (std::size_t i = 0; i < nList; ++i) {
            const std::size_t k = bAll ? i : m_nullColumns[i];
            if (k >= nColumns) break;
            std::size_t nStart = 0, nSize = 0;
            span(line, k, nStart, nSize);
            if (nSize == 0) continue;
            if (!m_options.bStats && !line.bStar && !bManyMinus && negativeNullsOnly(k)) {
                bool bMinus = false;
                for (std::size_t m = 0; m < nMinus && !bMinus; ++m) bMinus = minus[m] >= nStart && minus[m] < nStart + nSize;
                if (!bMinus) continue;
            }
            const char* p = line.pText + nStart;
            const std::size_t nChannel = fixed() ? m_columnChannel[k] : k;
            if (channels.size() <= nChannel) channels.resize(nChannel + 1);
            ChannelStats& stats = channels[nChannel];
            if (isStars(p, nSize)) {
                ++stats.llNulls;
                m_bRecordNull = true;
                continue;
            }
            double d = 0;
            int nParsed = -1;
            if (isNull(k, p, nSize, d, nParsed)) {
                ++stats.llNulls;
                m_bRecordNull = true;
                continue;
            }
            if (!m_options.bStats) continue;
            if (nParsed < 0) nParsed = static_cast<int>(parseValue(p, nSize, d));
            if (nParsed == static_cast<int>(Parsed::Text)) {
                stats.bText = true;
                continue;
            }
            if (nParsed != static_cast<int>(Parsed::Number)) continue;  // "nan", "inf": no value to range over
            if (stats.llValues == 0 || d < stats.dMin) stats.dMin = d;
            if (stats.llValues == 0 || d > stats.dMax) stats.dMax = d;
            ++stats.llValues;
        }
    }

    // Whether every null that column k can equal is negative.
    bool negativeNullsOnly(std::size_t k) const {
        for (const NullKey& key : m_globalNulls)
            if (!key.bNegative) return false;
        if (k < m_columnNulls.size())
            for (const NullKey& key : m_columnNulls[k])
                if (!key.bNegative) return false;
        return true;
    }

    // After the nulls change: which columns have their own, and whether all nulls are negative.
    void indexNulls() {
        m_nullColumns.clear();
        m_bNegativeNulls = true;
        for (std::size_t k = 0; k < m_columnNulls.size(); ++k) {
            if (!m_columnNulls[k].empty()) m_nullColumns.push_back(k);
            if (!negativeNullsOnly(k)) m_bNegativeNulls = false;
        }
        for (const NullKey& key : m_globalNulls) m_bNegativeNulls = m_bNegativeNulls && key.bNegative;
    }

    // ---- survey lines

    // A survey line starts: at a header or a new value of the line column (bCounted), or at
    // records before any header.
    void startLine(LineName name, int64_t llLineNumber, bool bCounted) {
        m_current = SurveyLine();
        m_current.name = std::move(name);
        m_current.llFirstLine = llLineNumber;
        m_current.flight = m_flight;
        m_current.channels.resize(m_summary.channels.size());
        m_current.sNote = m_current.name.sReason;
        m_llLineOtherWidth = m_llLineUnknown = 0;
        m_bOpen = true;
        if (!bCounted) return;
        ++m_summary.llHeaders;
        if (!m_current.name.valid()) ++m_summary.llInvalid;
        if (!m_current.name.bCodes) return;
        // Two lines that code to one number are never silently merged.
        const auto it = m_codes.find(m_current.name.llCode);
        if (it != m_codes.end()) {
            ++m_summary.llDuplicates;
            addNote("same code as " + it->second.first + " (line " + std::to_string(it->second.second) + ")");
        } else if (m_codes.size() < (std::size_t{1} << 20)) {
            m_codes.emplace(m_current.name.llCode, std::make_pair(m_current.name.sShown.substr(0, 64), llLineNumber));
        }
    }

    void addNote(const std::string& sNote) {
        if (!m_current.sNote.empty()) m_current.sNote += "; ";
        m_current.sNote += sNote;
    }

    void emit() {
        m_bOpen = false;
        if (m_llLineOtherWidth > 0)
            addNote(std::to_string(m_llLineOtherWidth) + (m_llLineOtherWidth == 1 ? " record is" : " records are") +
                    " not " + std::to_string(m_summary.nRecordWidth) + " bytes wide as defined (first: line " +
                    std::to_string(m_llLineFirstOtherWidth) + ")");
        if (m_llLineUnknown > 0)
            addNote(std::to_string(m_llLineUnknown) + (m_llLineUnknown == 1 ? " line" : " lines") +
                    " not understood (first: line " + std::to_string(m_llLineFirstUnknown) + ")");
        ++m_summary.llLines;
        if (m_bSettled) {
            m_sink.onLine(m_current);
            return;
        }
        // Lines wait for the channel names (settled by the first record) so that the channels
        // come first; a file with thousands of headers before its first record goes on without.
        m_pendingLines.push_back(std::move(m_current));
        if (m_pendingLines.size() >= kMaxPendingLines) settle(0);
    }

    // The column sSpec names: a channel name (any case) or a column number from 1.
    bool findColumn(const std::string& sSpec, std::size_t nColumns, std::size_t& nColumn) const {
        if (!sSpec.empty() && sSpec.find_first_not_of("0123456789") == std::string::npos) {
            const unsigned long long n = std::strtoull(sSpec.c_str(), nullptr, 10);
            if (n < 1 || n > nColumns) return false;
            nColumn = static_cast<std::size_t>(n - 1);
            return true;
        }
        for (const Channel& channel : m_summary.channels)
            if (m_summary.bNamedChannels && equalsNoCase(channel.sName, sSpec) && channel.nColumn < std::max<std::size_t>(nColumns, 1)) {
                nColumn = channel.nColumn;
                return true;
            }
        return false;
    }

    bool findByNames(const char* const* pNames, std::size_t nNames, std::size_t& nColumn) const {
        if (!m_summary.bNamedChannels) return false;
        for (std::size_t i = 0; i < nNames; ++i)
            for (const Channel& channel : m_summary.channels)
                if (channel.nCount == 1 && equalsNoCase(channel.sName, pNames[i])) {
                    nColumn = channel.nColumn;
                    return true;
                }
        return false;
    }

    // The first record has nColumns columns (0: there is none): the channels are settled.
    void settle(std::size_t nColumns) {
        if (m_bSettled) return;
        m_bSettled = true;
        m_summary.cDelimiter = m_scanner.delimiter() != '\0' ? m_scanner.delimiter() : ' ';
        m_summary.bCrLineEnds = m_scanner.crLineEnds();
        if (!fixed()) {
            m_finder.settle(nColumns);
            std::vector<std::string> names = m_finder.names();
            if (names.empty() && nColumns > 0) {
                // A names line without '/' (a CSV header): the last text line with as many words.
                for (std::size_t i = m_pendingTexts.size(); i-- > 0;)
                    if (m_pendingTexts[i].words.size() == nColumns) {
                        names = m_pendingTexts[i].words;
                        m_pendingTexts.erase(m_pendingTexts.begin() + static_cast<std::ptrdiff_t>(i));
                        break;
                    }
            }
            const std::set<std::string> distinct(names.begin(), names.end());
            const bool bNamed = !names.empty() && distinct.size() == names.size();
            m_summary.bNamedChannels = bNamed;
            m_summary.channels.clear();
            for (std::size_t k = 0; k < std::min(nColumns, kMaxColumns); ++k) {
                Channel channel;
                channel.sName = bNamed ? names[k] : "c" + std::to_string(k + 1);
                channel.nColumn = k;
                m_summary.channels.push_back(std::move(channel));
            }
        }
        m_summary.nColumns = fixed() ? m_offsets.size() : nColumns;
        for (const PendingText& text : m_pendingTexts) unknown(text.llLine, text.sText);
        m_pendingTexts.clear();

        // The columns that split lines and flights.
        if (!m_options.sLineColumn.empty()) {
            if (!findColumn(m_options.sLineColumn, m_summary.nColumns, m_nLineColumn))
                return fail("no column '" + m_options.sLineColumn + "' for the line numbers (" + channelList() + ")");
        } else if (!m_bHeaderSeen) {
            findByNames(kLineNames, std::size(kLineNames), m_nLineColumn);
        }
        if (!m_options.sFlightColumn.empty()) {
            if (!findColumn(m_options.sFlightColumn, m_summary.nColumns, m_nFlightColumn))
                return fail("no column '" + m_options.sFlightColumn + "' for the flight numbers (" + channelList() + ")");
        } else if (!m_bHeaderSeen) {
            findByNames(kFlightNames, std::size(kFlightNames), m_nFlightColumn);
        }
        m_summary.sLineColumn = columnName(m_nLineColumn);
        m_summary.sFlightColumn = columnName(m_nFlightColumn);

        // The nulls: the definition's, and those given per channel or for all.
        for (const NullValue& null : m_options.nulls) {
            if (null.sChannel.empty()) {
                addGlobalNull(null.dValue);
                continue;
            }
            bool bFound = false;
            for (Channel& channel : m_summary.channels)
                if (equalsNoCase(channel.sName, null.sChannel)) {
                    channel.nulls.push_back(null.dValue);
                    bFound = true;
                }
            if (!bFound && nColumns > 0)
                return fail("--null " + null.sChannel + "=" + null.sText + ": no channel " + null.sChannel + " (" +
                            channelList() + ")");
        }
        for (const Channel& channel : m_summary.channels) {
            if (channel.nulls.empty()) continue;
            if (m_columnNulls.size() < channel.nColumn + channel.nCount) m_columnNulls.resize(channel.nColumn + channel.nCount);
            for (std::size_t k = channel.nColumn; k < channel.nColumn + channel.nCount; ++k)
                for (const double d : channel.nulls) m_columnNulls[k].push_back(makeKey(d));
        }
        indexNulls();

        m_bWantRecords = m_sink.wantsRecords();
        m_bWantLayouts = m_sink.wantsLayouts();
        m_sink.onChannels(m_summary);
        for (const SurveyLine& line : m_pendingLines) m_sink.onLine(line);
        m_pendingLines.clear();
        if (m_bOpen) m_current.channels.resize(m_summary.channels.size());
    }

    std::string columnName(std::size_t nColumn) const {
        if (nColumn == SIZE_MAX) return {};
        for (const Channel& channel : m_summary.channels)
            if (channel.nColumn == nColumn) return channel.sName;
        return "c" + std::to_string(nColumn + 1);
    }

    std::string channelList() const {
        if (!m_summary.bNamedChannels) return std::to_string(m_summary.nColumns) + " unnamed columns";
        std::string s = "channels:";
        for (const Channel& channel : m_summary.channels) s += " " + channel.label();
        return s;
    }

    // The definition's fields as channels and columns.
    void useDefinition(GdfDefinition definition, const std::string& sPath) {
        m_definition = std::move(definition);
        m_summary.sDefinition = sPath;
        m_summary.nRecordWidth = m_definition->recordWidth();
        m_summary.bNamedChannels = true;
        std::size_t nOffset = 0;
        for (const GdfField& field : m_definition->fields) {
            // Built whole (assigning the strings one by one trips a false maybe-uninitialized
            // warning of the 32-bit mingw-w64 g++ 12).
            Channel channel{field.sName, field.sUnits, field.sFormat, m_offsets.size(), field.nCount, nOffset, field.nWidth, {}};
            if (field.null) channel.nulls.push_back(*field.null);
            for (std::size_t i = 0; i < field.nCount; ++i) {
                m_offsets.push_back(nOffset);
                m_widths.push_back(field.nWidth);
                m_columnChannel.push_back(m_summary.channels.size());
                nOffset += field.nWidth;
            }
            m_summary.channels.push_back(std::move(channel));
        }
    }

    void finish() {
        if (m_bFailed) return;
        if (m_bOpen) emit();
        settle(0);
    }
};

// ---- records ---------------------------------------------------------------------------------

int64_t RecordView::lineNumber() const { return m_pLine->llNumber; }
const SurveyLine& RecordView::surveyLine() const { return m_pScan->m_pState->m_current; }
std::string_view RecordView::text() const { return {m_pLine->pText, m_pLine->nLength}; }
std::size_t RecordView::columns() const { return m_pScan->m_pState->columnCount(*m_pLine); }

std::string_view RecordView::field(std::size_t k) const {
    std::size_t nStart = 0, nSize = 0;
    m_pScan->m_pState->span(*m_pLine, k, nStart, nSize);
    return {m_pLine->pText + nStart, nSize};
}

RecordView::Value RecordView::number(std::size_t k, double& dValue) const {
    return m_pScan->m_pState->value(*m_pLine, k, dValue);
}

RecordView::Value RecordView::plainNumber(std::string_view field, double& dValue) {
    return parseNumber(field.data(), field.size(), dValue) == Parsed::Text ? Value::Text : Value::Number;
}

// ---- the scanner -----------------------------------------------------------------------------

SurveyScan::SurveyScan(ScanOptions options) : m_options(std::move(options)) {}
SurveyScan::~SurveyScan() { delete m_pState; }

const ScanSummary& SurveyScan::summary() const {
    static const ScanSummary s_empty;
    return m_pState != nullptr ? m_pState->m_summary : s_empty;
}

const LayoutSummary& SurveyScan::layouts() const {
    static const LayoutCollector s_empty;
    return m_pState != nullptr ? m_pState->m_layouts.summary() : s_empty.summary();
}

ScanResult SurveyScan::scanFile(const std::string& sPath, ScanSink& sink, int64_t llProgressStep) {
    FileSource source;
    if (!source.open(sPath)) {
        m_sError = source.error();
        return ScanResult::OpenError;
    }
    const ScanResult result = scan(source, sink, sPath, llProgressStep);
    if (!source.close() && result == ScanResult::Done) {
        m_sError = source.error();
        return ScanResult::ReadError;
    }
    return result;
}

namespace {
// The whole text of a small file, or false with sError set.
bool readSmallFile(const std::string& sPath, std::string& sText, std::string& sError) {
    FileSource source;
    if (!source.open(sPath)) {
        sError = source.error();
        return false;
    }
    char buffer[65536];
    for (;;) {
        const int64_t n = source.read(buffer, sizeof buffer);
        if (n < 0) {
            sError = source.error();
            return false;
        }
        if (n == 0) break;
        sText.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<int64_t>(sText.size()) > kMaxDefinitionBytes) {
            sError = "larger than 16 MiB: not a definition";
            return false;
        }
    }
    if (!source.close()) {
        sError = source.error();
        return false;
    }
    return true;
}
}  // namespace

ScanResult SurveyScan::scan(ByteSource& source, ScanSink& sink, const std::string& sDefinitionBeside, int64_t llProgressStep) {
    delete m_pState;
    m_pState = nullptr;
    m_pState = new State(*this, sink);
    m_sError.clear();
    State& state = *m_pState;

    std::string sDefinition = m_options.sDefinition;
    if (sDefinition.empty() && m_options.bFindDefinition) sDefinition = findDefinition(sDefinitionBeside);
    if (!sDefinition.empty()) {
        std::string sText, sWhy;
        GdfDefinition definition;
        if (!readSmallFile(sDefinition, sText, sWhy) || !parseGdfDefinition(sText, definition, sWhy)) {
            m_sError = sDefinition + ": " + sWhy;
            return ScanResult::BadDefinition;
        }
        state.useDefinition(std::move(definition), sDefinition);
        state.m_scanner.setDelimiter(' ');  // fixed widths: the definition places the fields
    } else {
        state.m_scanner.setDelimiter(m_options.cDelimiter);
    }
    for (const NullValue& null : m_options.nulls)
        if (!std::isfinite(null.dValue)) {
            m_sError = "--null " + null.sText + ": no finite number";
            return ScanResult::BadOption;
        }

    // Minus signs are told only where a null can be negative.
    bool bNegativeNull = false;
    for (const NullValue& null : m_options.nulls) bNegativeNull = bNegativeNull || null.dValue < 0;
    for (const Channel& channel : state.m_summary.channels)
        for (const double d : channel.nulls) bNegativeNull = bNegativeNull || d < 0;
    state.m_scanner.trackMinus(bNegativeNull);
    state.m_bTrackMinus = bNegativeNull;
    const ScanStatus status = state.m_scanner.run(source, state, llProgressStep);
    if (state.m_bFailed) return ScanResult::BadOption;
    if (status == ScanStatus::Binary) {
        m_sError = "looks binary (zero bytes, or mostly bytes that are not text, at its start): not a text file of records";
        return ScanResult::Binary;
    }
    if (status == ScanStatus::ReadError) {
        m_sError = source.error();
        return ScanResult::ReadError;
    }
    state.finish();
    if (state.m_bFailed) return ScanResult::BadOption;
    return ScanResult::Done;
}

}  // namespace qrtool
