// qrtool: reading blank-separated text files (XYZ survey files) at disk speed: lines, their kinds
// and the field layout of every record, in one pass over large blocks and bounded memory.
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

enum class LineKind { Blank, Comment, Header, Record };

// One line as the scanner hands it over. The text stays valid only during the call.
//
// Fields are maximal runs of bytes other than blanks and tabs. The scanner keeps the field ends
// as a bit mask over the line (bit k: a field ends just before position k + 1), which is all it
// needs to tell whether a record repeats the layout of the record before it; the positions are
// written out only when someone asks for them (ends()).
struct ScanLine {
    const char* pText = nullptr;  // the line without its end (LF, or CR LF)
    std::size_t nLength = 0;
    int64_t llNumber = 0;  // 1 for the first line
    LineKind kind = LineKind::Blank;
    bool bCut = false;  // longer than the scanner's line limit: only its start was looked at
    std::size_t nFirst = 0;  // position of the first field's first byte (nLength when none)
    // Records only: the field ends are those of the previous record of the file.
    bool bSameLayout = false;
    bool bStar = false;  // the line holds a '*' (a field may be a null value)
    const uint64_t* pEndBits = nullptr;  // the field-end mask, nEndWords words
    std::size_t nEndWords = 0;

    // The number of fields.
    std::size_t fields() const;
    // The position just after each field, in order (fields() of them): the column widths are
    // the differences of successive ends.
    const uint32_t* ends() const;

    uint32_t* pEndsRoom = nullptr;  // where ends() writes (the scanner's buffer)
private:
    mutable const uint32_t* m_pEnds = nullptr;
};

// What a line is. Blank: no field. Comment: the first field starts with '/' or '#'. Header: the
// first field is LINE or TIE (any case) and a name follows. Everything else is a record.
LineKind classify(const ScanLine& line);

// The name of a header line: from its second field to the end, trailing blanks and tabs removed.
std::string headerName(const ScanLine& line);
// The header's keyword upper-cased ("LINE" or "TIE").
std::string headerKeyword(const ScanLine& line);
// Field k of a line.
std::string fieldText(const ScanLine& line, std::size_t k);

// The bit masks of 64 bytes (bit j for byte j): line feeds, blanks or tabs, and stars. (Exposed
// so that the tests can hold the vector form against the portable one.)
struct ChunkMasks {
    uint64_t llLineFeed = 0;
    uint64_t llBlank = 0;
    uint64_t llStar = 0;
};
ChunkMasks chunkMasks(const char* p);
ChunkMasks chunkMasksPortable(const char* p);
// With 32-byte vectors where the processor has them (else chunkMasks).
ChunkMasks chunkMasksWide(const char* p);
bool wideMasksAvailable();

class LineVisitor {
public:
    virtual ~LineVisitor() = default;
    virtual void onLine(const ScanLine& line) = 0;
    // Called after about every nProgressStep bytes, with the bytes read so far.
    virtual void onProgress(int64_t /*llDone*/) {}
};

enum class ScanStatus { Done, ReadError, Binary };

// Splits the source into lines and every line into its fields: one pass finds line ends,
// blanks, tabs and field ends 64 bytes at a time, so each line costs little more than reading
// it. Lines longer than nMaxLine bytes are cut there (bCut). The first block is checked for
// text: zero bytes, or mostly bytes that are neither printable ASCII nor UTF-8, stop the scan
// with ScanStatus::Binary before any line is handed over.
class TextScanner {
public:
    explicit TextScanner(std::size_t nBlock = std::size_t{1} << 20, std::size_t nMaxLine = std::size_t{1} << 20);
    ScanStatus run(ByteSource& source, LineVisitor& visitor, int64_t llProgressStep = int64_t{64} << 20);
    // Whether the 32-byte form is used (where the processor has it; on by default). For tests.
    void useWideMasks(bool bWide) { m_bWide = bWide && wideMasksAvailable(); }

private:
    void processRegion(const char* p, std::size_t nLength, bool bCut);
    template <ChunkMasks (*Masks)(const char*)>
    void scanRegion(const char* p, std::size_t nLength, bool bCut);
    void scanRegionAvx2(const char* p, std::size_t nLength, bool bCut);
    void addEnds(uint64_t* pBits, std::size_t nMaxWords, uint64_t llTake, std::size_t nChunk, std::size_t nLineStart);
    void finishLine(const char* pLine, std::size_t nLength, bool bCut, bool bStar);

    std::size_t m_nBlock;
    std::size_t m_nMaxLine;
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
};

// True when the bytes look binary: a zero byte, or more than half of them neither printable
// ASCII (with tab, CR, LF, FF, VT) nor part of a well-formed UTF-8 sequence.
bool looksBinary(const char* p, std::size_t nLength);


// ---- column layouts ------------------------------------------------------------------------

// The column widths of a record (as RecordFormatAnalyse gives them, tabs counting as blanks).
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
            return;
        }
        addChanged(line);
    }
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
};

}  // namespace qrtool
