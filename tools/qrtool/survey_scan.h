// qrtool: the survey reading of XYZ and ASEG-GDF text as a library: survey lines (from header
// lines or a line column), channels, nulls and value ranges, in one pass and bounded memory.
//
// About use: a SurveyScan reads one source per scan() (or scanFile()) call, on one thread; it
// may be used again, each call starting afresh. Nothing here prints: results go to the sink as
// they come, and summary() and error() hold the rest. Memory stays bounded whatever the file's
// size (a few MiB for the scanner's buffers, the per-line counts of at most 65536 columns, and
// bounded lists); only what the sink keeps grows. Texts handed to the sink are valid during the
// call only (a record's whole text a little longer: RecordView::text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "survey_text.h"
#include "text_scanner.h"

namespace qrtool {

// A declared null value: for one channel (by name, any case), or for every channel when
// sChannel is empty. Fields equal to it as numbers count as nulls, not as data.
struct NullValue {
    std::string sChannel;
    std::string sText;  // as given ("-999.9999")
    double dValue = 0;
};
// Reads "VALUE" or "CHANNEL=VALUE" (the form of --null). False with sError set when VALUE is
// no finite number or CHANNEL is empty.
bool parseNullValue(const std::string& sText, NullValue& null, std::string& sError);

// How to read a file. Everything left empty is found from the file itself.
struct ScanOptions {
    // The column that holds the line number: a channel name (any case) or a column number from 1.
    // Empty: a channel named LINE, LINE_NO, LINENO, LINENUMBER, LINE_NUMBER or FLTLINE (any case)
    // when the file has no header line before its first record and its channels are named.
    std::string sLineColumn;
    // The column that holds the flight number, the same way (by name: FLIGHT, FLIGHT_NO,
    // FLIGHTNO, FLIGHTNUMBER, FLIGHT_NUMBER, FLT).
    std::string sFlightColumn;
    // An ASEG-GDF2 definition. Empty: FILE.dfn (or .DFN) beside FILE when bFindDefinition.
    std::string sDefinition;
    bool bFindDefinition = true;
    std::vector<NullValue> nulls;
    // '\0' detected from the first lines (',' or ';' when every one of them has the same
    // number of it, else blanks); ' ' blanks and tabs; ',' ';' or '|'.
    char cDelimiter = '\0';
    // Value ranges per channel (a number read from every field).
    bool bStats = false;
};

// One channel (a column, or an array of columns from a definition).
struct Channel {
    std::string sName;    // "MAG", or "EM_X" for an array shown as EM_X[1..30]
    std::string sUnits;   // from a definition
    std::string sFormat;  // from a definition: "F10.3"
    std::size_t nColumn = 0;  // its first column (0-based)
    std::size_t nCount = 1;   // columns (array elements)
    std::size_t nOffset = 0;  // from a definition: its first byte in a record
    std::size_t nWidth = 0;   // from a definition: bytes per element (0 without one)
    std::vector<double> nulls;  // the nulls that hold for it (the '*' field aside)
    // "EM_X[1..30]" for arrays, else the name.
    std::string label() const;
};

// Nulls and the range of the values of one channel over one survey line.
struct ChannelStats {
    int64_t llNulls = 0;
    int64_t llValues = 0;  // numeric values seen (with bStats)
    double dMin = 0, dMax = 0;
    bool bText = false;  // a value that is no number
};

// One survey line, as handed over when it is complete.
struct SurveyLine {
    LineName name;          // from a header line, or from the line column's value
    std::optional<Flight> flight;
    int64_t llFirstLine = 0;  // the header's line number, or the first record's
    int64_t llRecords = 0;
    std::vector<int32_t> widths;  // of its first record
    int64_t llLayouts = 0;        // runs of one layout inside the line (1: all alike; 0: not counted)
    std::vector<ChannelStats> channels;  // per channel (Summary::channels), as far as seen
    std::string sNote;
};

// What the scan found beyond its lines; complete once the scan has ended.
struct ScanSummary {
    std::vector<Channel> channels;  // named ones, or c1.. for unnamed columns
    bool bNamedChannels = false;    // the names come from the file or its definition
    std::size_t nColumns = 0;       // columns of the first record
    std::string sDefinition;        // the definition read, if any
    std::size_t nRecordWidth = 0;   // bytes per record the definition gives
    char cDelimiter = ' ';
    bool bCrLineEnds = false;       // lines end with CR alone
    std::string sLineColumn, sFlightColumn;  // the channels that split lines, if any
    int64_t llLines = 0;            // survey lines
    int64_t llHeaders = 0, llInvalid = 0, llDuplicates = 0;
    int64_t llCutLines = 0;         // longer than the line limit
    int64_t llUnknown = 0;          // lines that look like headers but are not understood
    std::vector<std::pair<int64_t, std::string>> unknownSamples;  // the first few: number, text
    int64_t llOtherWidth = 0;       // records not as wide as the definition says
    int64_t llFirstOtherWidth = 0;  // line number of the first
    int64_t llIgnoredHeaders = 0;   // header lines in a file whose lines come from a column
};

// One record during the scan: its fields as text and as numbers. Valid during onRecord only,
// but for text(), which lasts longer (ScanSink::onRegionEnd).
// Column k is Channel::nColumn (+ the element of an array); with a definition the fields are
// where it places them, else the blank- or delimiter-separated fields.
class RecordView {
public:
    enum class Value { Number, Null, Text, Missing };
    int64_t lineNumber() const;               // in the file, from 1
    const SurveyLine& surveyLine() const;     // the survey line it belongs to (counts so far)
    std::size_t columns() const;              // fields present
    std::string_view field(std::size_t k) const;  // column k without its padding; empty past the end
    // Column k as a number: Null for a declared null or '*', Text when it is no number.
    Value number(std::size_t k, double& dValue) const;
    // The whole record without its line end, for a reader that cuts blank-separated fields
    // itself in one pass (they are the runs of bytes other than blanks and tabs). At least
    // kLineSlack bytes after its end may be read (the line end, then unspecified bytes). The
    // text stays as it is until the onRegionEnd() after the next one has returned, or until
    // the scan object scans again or is destroyed.
    std::string_view text() const;
    // Whether a field of the record is a null (a declared null or '*'), so that a reader can
    // take the others' numbers without the null checks.
    bool heldNull() const { return m_bNull; }
    // A field of a record that held no null, read as number() reads it in a file whose fields
    // are separated by blanks (Text when it is no number). Needs no scan: any thread may call it.
    static Value plainNumber(std::string_view field, double& dValue);

private:
    friend class SurveyScan;
    const class SurveyScan* m_pScan = nullptr;
    const ScanLine* m_pLine = nullptr;
    bool m_bNull = false;
};

// Receives the results as the scan goes.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    // The channels are known (at the first record, or at the end of a file without records);
    // called once, before the first onLine and onRecord (not at all when the scan fails first).
    virtual void onChannels(const ScanSummary& /*summary*/) {}
    // A survey line is complete.
    virtual void onLine(const SurveyLine& line) = 0;
    // Every record, when wantsRecords() (for readers of values).
    virtual bool wantsRecords() const { return false; }
    // Whether the column layouts are followed (SurveyLine::llLayouts, SurveyScan::layouts()).
    // A reader of values does without, so records whose widths change (ragged columns) cost it
    // no more than others.
    virtual bool wantsLayouts() const { return true; }
    virtual void onRecord(const RecordView& /*record*/) {}
    // About every llProgressStep bytes, with the bytes read so far.
    virtual void onProgress(int64_t /*llDone*/) {}
    // The records of one region of the file have been handed over (when wantsRecords()): the
    // texts of the records handed before the previous call are overwritten once this returns.
    virtual void onRegionEnd() {}
};

enum class ScanResult { Done, OpenError, ReadError, Binary, BadDefinition, BadOption };

// Scans the file sPath ("-": standard input) with the options. The sink gets the channels,
// then every survey line in file order; summary() holds the rest. On failure sError says why
// (the lines found up to a read error have been handed over).
class SurveyScan {
public:
    explicit SurveyScan(ScanOptions options);
    ~SurveyScan();
    SurveyScan(const SurveyScan&) = delete;
    SurveyScan& operator=(const SurveyScan&) = delete;
    ScanResult scanFile(const std::string& sPath, ScanSink& sink, int64_t llProgressStep = int64_t{64} << 20);
    // The same over any source; sDefinitionBeside names the data file whose .dfn is looked for
    // (empty: none).
    ScanResult scan(ByteSource& source, ScanSink& sink, const std::string& sDefinitionBeside = {},
                    int64_t llProgressStep = int64_t{64} << 20);
    const ScanSummary& summary() const;
    // The column layouts of the records (as the columns command lists them).
    const LayoutSummary& layouts() const;
    const std::string& error() const { return m_sError; }
    const ScanOptions& options() const { return m_options; }

private:
    friend class RecordView;
    struct State;
    ScanOptions m_options;
    std::string m_sError;
    State* m_pState = nullptr;
};

// The definition file for sDataPath when one lies beside it (FILE.dfn for FILE.dat or FILE),
// else empty.
std::string findDefinition(const std::string& sDataPath);

}  // namespace qrtool
