// qrtool: reading blank- or delimiter-separated text files (XYZ survey files) at disk speed: lines,
// their kinds and the field layout of every record, in one pass over large blocks and bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qrtool {

// Where the bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to nBytes into p; 0 at the end; -1 on a read error (the cause in error()).
    virtual int64_t read(char* p, std::size_t nBytes) = 0;
    // The total size when known in advance, else -1 (for the progress display).
    virtual int64_t size() const { return -1; }
    const std::string& error() const { return m_sError; }

protected:
    std::string m_sError;
};

// A file read through the library in large blocks (QR_OpenFile and QR_Read; others may read and
// write the file meanwhile), or standard input for "-".
class FileSource : public ByteSource {
public:
    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    // False with error() set (the library's message for a file it cannot open).
    bool open(const std::string& sPath);
    int64_t read(char* p, std::size_t nBytes) override;
    int64_t size() const override { return m_llSize; }
    // Closes the file; false with error() set when the close reports an error.
    bool close();

private:
    void* m_hFile = nullptr;
    bool m_bStdin = false;
    int64_t m_llSize = -1;
};

// Text: starts with a letter but is no header (a word that names no line type, or a keyword
// without a name): channel names, or a line that is not understood.
enum class LineKind { Blank, Comment, Header, Record, Text };

// Bytes that may be read after the end of any line the scanner hands over (for word-wise reads).
inline constexpr std::size_t kLineSlack = 64;

// One line as the scanner hands it over. The text stays valid only during the call.
//
// Without a delimiter, fields are maximal runs of bytes other than blanks and tabs, and the
// scanner keeps the field ends as a bit mask over the line (bit k: a field ends just before
// position k + 1). With a delimiter (',' for instance), a field runs from one delimiter to the
// next, blanks around it being padding, and bit k marks a delimiter at position k, or the line's
// end. The mask is all the scanner needs to tell whether a record repeats the layout of the
// record before it; the positions are written out only when someone asks for them (ends()).
struct ScanLine {
    const char* pText = nullptr;  // the line without its end (LF, CR LF, or CR in CR files)
    std::size_t nLength = 0;
    int64_t llNumber = 0;  // 1 for the first line
    LineKind kind = LineKind::Blank;
    bool bCut = false;  // longer than the scanner's line limit: only its start was looked at
    std::size_t nFirst = 0;  // position of the first field's first byte (nLength when none)
    // Records only (false for Text lines): the field ends are those of the previous record.
    bool bSameLayout = false;
    bool bStar = false;  // the line holds a '*' (a field may be a null value)
    bool bMinus = false;  // the line holds a '-' (only with TextScanner::trackMinus)
    const uint64_t* pEndBits = nullptr;  // the field-end mask, nEndWords words
    std::size_t nEndWords = 0;
    char cDelimiter = '\0';  // '\0': fields separated by blanks and tabs

    // The number of fields.
    std::size_t fields() const;
    // The position just after each field, in order (fields() of them). Without a delimiter the
    // column widths are the differences of successive ends; with one, field k + 1 starts just
    // after ends()[k] (the delimiter).
    const uint32_t* ends() const;
    // Field k without blanks around it: its first byte and length (nLength, 0 past the end).
    void field(std::size_t k, std::size_t& nStart, std::size_t& nSize) const;

    uint32_t* pEndsRoom = nullptr;  // where ends() writes (the scanner's buffer)
private:
    mutable const uint32_t* m_pEnds = nullptr;
};

// What a line is. Blank: no field. Comment: the first field starts with '/' or '#'. Header: the
// first word names a line type (lineKeywordType: LINE, TIE, LI, TL, BASE ... any case) and a
// name follows. Text: any other line that starts with a letter. Everything else is a record.
LineKind classify(const ScanLine& line);

// The name of a header line: after its first word to the end, blanks, tabs (and delimiters)
// around it removed.
std::string headerName(const ScanLine& line);
// The header's keyword upper-cased ("LINE", "TL").
std::string headerKeyword(const ScanLine& line);
// Field k of a line.
std::string fieldText(const ScanLine& line, std::size_t k);

// The bit masks of 64 bytes (bit j for byte j): line ends (cLineEnd), blanks or tabs, stars,
// delimiters (cDelimiter) and minus signs. (Exposed so that the tests can hold the vector form against the
// portable one.)
struct ChunkMasks {
    uint64_t llLineFeed = 0;
    uint64_t llBlank = 0;
    uint64_t llStar = 0;
    uint64_t llDelimiter = 0;
    uint64_t llMinus = 0;
};
ChunkMasks chunkMasks(const char* p, char cLineEnd = '\n', char cDelimiter = ',');
ChunkMasks chunkMasksPortable(const char* p, char cLineEnd = '\n', char cDelimiter = ',');
// With 32-byte vectors where the processor has them (else chunkMasks).
ChunkMasks chunkMasksWide(const char* p, char cLineEnd = '\n', char cDelimiter = ',');
bool wideMasksAvailable();

class LineVisitor {
public:
    virtual ~LineVisitor() = default;
    virtual void onLine(const ScanLine& line) = 0;
    // Called after about every nProgressStep bytes, with the bytes read so far.
    virtual void onProgress(int64_t /*llDone*/) {}
    // The lines of a region (the lines of one buffer) have been handed over. The text of a line
    // stays valid until the end of the region after its own has been told and this call has
    // returned, or until the scanner runs again or is destroyed: a visitor may read lines on
    // other threads meanwhile, and lets go of those of the region before here.
    virtual void onRegionEnd() {}
};

enum class ScanStatus { Done, ReadError, Binary, Stopped };

// Splits the source into lines and every line into its fields: one pass finds line ends,
// blanks, tabs, delimiters and field ends 64 bytes at a time, so each line costs little more
// than reading it. Lines longer than nMaxLine bytes are cut there (bCut). The first block is
// checked for text: zero bytes, or mostly bytes that are neither printable ASCII nor UTF-8,
// stop the scan with ScanStatus::Binary before any line is handed over. The first line end
// tells how lines end (a CR not followed by LF: CR alone), and the lines of the first block
// the delimiter, unless it is set.
class TextScanner {
public:
    explicit TextScanner(std::size_t nBlock = std::size_t{1} << 20, std::size_t nMaxLine = std::size_t{1} << 20);
    ScanStatus run(ByteSource& source, LineVisitor& visitor, int64_t llProgressStep = int64_t{64} << 20);
    // Whether the 32-byte form is used (where the processor has it; on by default). For tests.
    void useWideMasks(bool bWide) { m_bWide = bWide && wideMasksAvailable(); }
    // '\0' (the default): detected, ',' or ';' when every one of the first lines that is not a
    // comment has the same number of it (more than none), else blanks; ' ': blanks and tabs;
    // any other byte but a line end: that delimiter.
    void setDelimiter(char cDelimiter) { m_cWantDelimiter = cDelimiter; }
    // Known once the first line has been handed over: '\0' for blanks.
    char delimiter() const { return m_cDelimiter; }
    bool crLineEnds() const { return m_cLineEnd == '\r'; }
    // A visitor that takes a Text line for a record says so: the next record's layout is then
    // not compared with the record before that line (bSameLayout false).
    void forgetLayout() { m_bHaveRecord = false; }
    // Whether lines tell their minus signs (bMinus; off by default: it costs a little per line).
    void trackMinus(bool bTrack) { m_bTrackMinus = bTrack; }
    // Ends the run after the lines of the current block (run returns ScanStatus::Stopped).
    void stop() { m_bStop = true; }

private:
    bool decideLineEnd(const char* pEnd, const char* pStop, bool bAll);
    void detect(const char* p, std::size_t nLength, bool bAll);
    void processRegion(const char* p, std::size_t nLength, bool bCut);
    template <ChunkMasks (*Masks)(const char*, char, char), bool bDelimited, bool bSigns>
    void scanRegion(const char* p, std::size_t nLength, bool bCut);
    template <ChunkMasks (*Masks)(const char*, char, char)>
    void scanRegionForms(const char* p, std::size_t nLength, bool bCut);
    void scanRegionAvx2(const char* p, std::size_t nLength, bool bCut);
    void addEnds(uint64_t* pBits, std::size_t nMaxWords, uint64_t llTake, std::size_t nChunk, std::size_t nLineStart);
    void finishLine(const char* pLine, std::size_t nLength, bool bCut, bool bStar, bool bMinus);

    std::size_t m_nBlock;
    std::size_t m_nMaxLine;
    std::vector<char> m_buffers[2];  // the text of the last two regions handed over
    LineVisitor* m_pVisitor = nullptr;
    int64_t m_llLine = 0;
    // The field-end mask of the line being read (bits past the line limit are not kept); at
    // least two words.
    std::vector<uint64_t> m_bits;
    std::vector<uint64_t> m_lastBits;  // the mask of the last record, without zero words at its end
    bool m_bHaveRecord = false;
    // Room for the positions of every end a line can have below the limit (a field and its
    // blank take two bytes), allocated once and left untouched until positions are asked for.
    std::unique_ptr<uint32_t[]> m_ends;
    bool m_bWide;  // the processor has 32-byte vectors
    char m_cWantDelimiter = '\0';
    char m_cDelimiter = '\0';
    char m_cLineEnd = '\n';
    bool m_bStop = false;
    bool m_bTrackMinus = false;
    bool m_bDecided = false;  // the line end is known
};

// The delimiter the first lines of p use, as TextScanner detects it ('\0': blanks). Lines that
// are blank, comments or headers are passed over; bAll: p ends at the end of the text (its last line
// counts even without its end).
char detectDelimiter(const char* p, std::size_t nLength, char cLineEnd, bool bAll);

// True when the bytes look binary: a zero byte, or more than half of them neither printable
// ASCII (with tab, CR, LF, FF, VT) nor part of a well-formed UTF-8 sequence.
bool looksBinary(const char* p, std::size_t nLength);


// ---- column layouts ------------------------------------------------------------------------

// The column widths of a record (as RecordFormatAnalyse gives them, tabs counting as blanks;
// with a delimiter, each field's bytes from the delimiter before it, the delimiter included).
std::vector<int32_t> recordWidths(const ScanLine& line);

// The distinct layouts of a file's records, in order of first appearance.
struct Layout {
    std::vector<int32_t> widths;
    int64_t llRecords = 0;
    int64_t llRuns = 0;
    std::vector<int64_t> starts;  // the first kMaxStarts line numbers where a run begins
};
struct LayoutSummary {
    std::vector<Layout> layouts;  // at most kMaxLayouts
    Layout other;                 // records of the layouts beyond kMaxLayouts
};
inline constexpr std::size_t kMaxLayouts = 4096;
inline constexpr std::size_t kMaxStoredWidths = std::size_t{1} << 20;  // widths kept over all layouts
inline constexpr std::size_t kMaxStarts = 16;

// Collects the layouts of a file's records (a run: consecutive records of one layout, other
// lines in between not counting). Memory stays bounded: at most kMaxLayouts layouts, with at
// most kMaxStoredWidths widths in all, are told apart; the records of any further layout count
// under "other".
class LayoutCollector {
public:
    void add(const ScanLine& line) {
        // Most records repeat the layout before them.
        if (line.bSameLayout && m_nLast != SIZE_MAX) {
            ++m_summary.layouts[m_nLast].llRecords;
            m_bNewRun = false;
            return;
        }
        addChanged(line);
    }
    // Whether the last record added started a run (its layout is not the one before it).
    bool newRun() const { return m_bNewRun; }
    const LayoutSummary& summary() const { return m_summary; }
    // The widths of the last record added.
    const std::vector<int32_t>& lastWidths() const { return m_lastWidths; }

private:
    void addChanged(const ScanLine& line);
    LayoutSummary m_summary;
    std::vector<std::pair<uint64_t, std::size_t>> m_index;  // hash of the widths, layout; sorted
    std::size_t m_nStoredWidths = 0;
    std::vector<int32_t> m_lastWidths;
    std::size_t m_nLast = SIZE_MAX;  // index of the last record's layout (SIZE_MAX: other)
    bool m_bAny = false;
    bool m_bNewRun = false;
};

}  // namespace qrtool
