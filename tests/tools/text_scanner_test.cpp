// qrtool's text scanner against the line-by-line analysis it replaced: the same layouts, record
// counts and run starts on random ragged files, whatever the block size, and the texts of the
// lines handed over kept as long as the scanner promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qrcore/util.h"
#include "gdf_definition.h"
#include "survey_scan.h"
#include "text_scanner.h"

namespace {

// The first implementation of the columns listing, kept as the reference: lines read one at a
// time (cut at nMaxLine bytes, then one trailing CR removed), classified by their first word,
// and every record analysed by the library.
namespace reference {

enum class Kind { Blank, Comment, Header, Record, Text };

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

Kind classify(const std::string& sLine) {
    const std::size_t nStart = sLine.find_first_not_of(" \t");
    if (nStart == std::string::npos) return Kind::Blank;
    if (sLine[nStart] == '/' || sLine[nStart] == '#') return Kind::Comment;
    if (!std::isalpha(static_cast<unsigned char>(sLine[nStart]))) return Kind::Record;
    const std::size_t nEnd = sLine.find_first_of(" \t", nStart);
    const std::string sKeyword = upper(sLine.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
    const std::set<std::string> keywords = {"LINE", "LI", "LN", "BASE", "BL", "TIE", "TL", "TI", "TREND",
                                            "TR", "TEST", "TS", "SPECIAL", "SP", "RANDOM", "RL", "RN"};
    if (keywords.count(sKeyword) > 0 && nEnd != std::string::npos && sLine.find_first_not_of(" \t", nEnd) != std::string::npos)
        return Kind::Header;
    return Kind::Text;
}

std::vector<int32_t> widths(const std::string& sRecord) {
    int32_t nCount = 0;
    int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nCount);
    std::vector<int32_t> result;
    if (pWidths != nullptr) {
        result.assign(pWidths, pWidths + (nCount > 0 ? nCount : 0));
        std::free(pWidths);
    }
    return result;
}

struct Result {
    qrtool::LayoutSummary summary;
    int64_t llCut = 0;
    std::vector<std::pair<int64_t, Kind>> kinds;  // line number and kind of every non-blank line
    std::vector<std::vector<int32_t>> widths;     // of every record
    std::vector<bool> same;                       // every record: the widths of the record before
};

Result columns(const std::string& sFile, std::size_t nMaxLine) {
    Result result;
    std::map<std::vector<int32_t>, std::size_t> index;
    std::size_t nPrevious = SIZE_MAX;
    int64_t llLine = 0;
    for (std::size_t nPos = 0; nPos < sFile.size();) {
        std::size_t nEnd = sFile.find('\n', nPos);
        if (nEnd == std::string::npos) nEnd = sFile.size();
        std::string sLine = sFile.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        ++llLine;
        if (sLine.size() > nMaxLine) {
            sLine.resize(nMaxLine);
            ++result.llCut;
        }
        if (!sLine.empty() && sLine.back() == '\r') sLine.pop_back();
        const Kind kind = classify(sLine);
        if (kind != Kind::Blank) result.kinds.emplace_back(llLine, kind);
        if (kind != Kind::Record) continue;
        const std::vector<int32_t> w = widths(sLine);
        result.same.push_back(!result.widths.empty() && result.widths.back() == w);
        result.widths.push_back(w);
        std::size_t nLayout = SIZE_MAX;
        if (auto it = index.find(w); it != index.end()) {
            nLayout = it->second;
        } else if (result.summary.layouts.size() < qrtool::kMaxLayouts) {
            nLayout = result.summary.layouts.size();
            index.emplace(w, nLayout);
            result.summary.layouts.push_back({w, 0, 0, {}});
        }
        qrtool::Layout& layout = nLayout == SIZE_MAX ? result.summary.other : result.summary.layouts[nLayout];
        ++layout.llRecords;
        if (nLayout != nPrevious || nLayout == SIZE_MAX) {
            ++layout.llRuns;
            if (layout.starts.size() < qrtool::kMaxStarts) layout.starts.push_back(llLine);
        }
        nPrevious = nLayout;
    }
    return result;
}

}  // namespace reference

class StringSource : public qrtool::ByteSource {
public:
    StringSource(const std::string& s, std::size_t nChunk) : m_s(s), m_nChunk(nChunk) {}
    int64_t read(char* p, std::size_t nBytes) override {
        const std::size_t n = std::min({nBytes, m_nChunk, m_s.size() - m_nPos});
        std::memcpy(p, m_s.data() + m_nPos, n);
        m_nPos += n;
        return static_cast<int64_t>(n);
    }

private:
    const std::string& m_s;
    std::size_t m_nChunk;
    std::size_t m_nPos = 0;
};

struct Collecting : qrtool::LineVisitor {
    qrtool::LayoutCollector layouts;
    int64_t llCut = 0;
    std::vector<std::pair<int64_t, reference::Kind>> kinds;
    std::vector<std::vector<int32_t>> widths;  // from the field ends the scanner gives
    std::vector<bool> same;
    // The texts handed over in the last region and in the one before, as they were then: they
    // must stay so until the end of the region after their own.
    std::vector<std::pair<const char*, std::string>> regions[2];
    int64_t llChangedTexts = 0;
    void onLine(const qrtool::ScanLine& line) override {
        regions[1].emplace_back(line.pText, std::string(line.pText, line.nLength));
        if (line.bCut) ++llCut;
        if (line.kind != qrtool::LineKind::Blank) kinds.emplace_back(line.llNumber, static_cast<reference::Kind>(line.kind));
        if (line.kind != qrtool::LineKind::Record) return;
        std::vector<int32_t> w;
        for (std::size_t k = 0, nPrev = 0; k < line.fields(); nPrev = line.ends()[k++])
            w.push_back(static_cast<int32_t>(line.ends()[k] - nPrev));
        widths.push_back(w);
        same.push_back(line.bSameLayout);
        layouts.add(line);
    }
    void onRegionEnd() override {
        checkTexts();
        regions[0] = std::move(regions[1]);
        regions[1].clear();
    }
    void checkTexts() {
        for (const auto& region : regions)
            for (const auto& [p, sText] : region) llChangedTexts += std::string(p, sText.size()) != sText;
    }
};

void expectSameLayouts(const qrtool::Layout& got, const qrtool::Layout& want) {
    EXPECT_EQ(got.widths, want.widths);
    EXPECT_EQ(got.llRecords, want.llRecords);
    EXPECT_EQ(got.llRuns, want.llRuns);
    EXPECT_EQ(got.starts, want.starts);
}

// A random ragged file: records drawn from a few layouts (so that runs form) and from fresh
// ones, with random blank runs, leading and trailing blanks, long records across many 64-byte
// chunks, comments, headers, blank lines, CR LF ends and perhaps no final line end.
std::string randomFile(std::mt19937& rng) {
    const char kFieldChars[] = "0123456789.-+*eEAbLt/#\x80\xff!~";
    // A layout: per field, the blanks in front of it and its length.
    using Layout = std::vector<std::pair<unsigned, unsigned>>;
    const auto randomLayout = [&](unsigned nMaxFields) {
        Layout layout(1 + rng() % nMaxFields);
        for (std::size_t k = 0; k < layout.size(); ++k) layout[k] = {(k == 0 ? 0u : 1u) + rng() % 4, 1 + rng() % 12};
        return layout;
    };
    std::vector<Layout> pool;
    for (unsigned i = 1 + rng() % 5; i > 0; --i) pool.push_back(randomLayout(10));
    std::string sFile;
    for (unsigned nLine = rng() % 400; nLine > 0; --nLine) {
        const unsigned nKind = rng() % 20;
        std::string sLine;
        if (nKind == 0) {
            sLine = std::string(rng() % 3, ' ') + (rng() % 2 ? "/ X Y FID" : "# note");
        } else if (nKind == 1) {
            sLine = std::string(rng() % 2, ' ') + (rng() % 2 ? "Line " : "TIE\t") + std::to_string(rng() % 100000);
        } else if (nKind == 2) {
            sLine = std::string(rng() % 4, ' ');
        } else {
            // From the pool (runs form), or now and then a fresh layout, sometimes very wide.
            const Layout layout = nKind == 3 ? randomLayout(rng() % 8 == 0 ? 150 : 10) : pool[rng() % pool.size()];
            for (const auto& [nBlanks, nChars] : layout) {
                sLine.append(nBlanks, ' ');
                for (unsigned i = 0; i < nChars; ++i) sLine.push_back(kFieldChars[rng() % (sizeof kFieldChars - 1)]);
            }
            sLine.append(rng() % 4 == 0 ? rng() % 3 : 0, ' ');
        }
        sFile += sLine;
        sFile += rng() % 5 == 0 ? "\r\n" : "\n";
    }
    if (!sFile.empty() && rng() % 3 == 0) sFile.pop_back();  // no final line end
    return sFile;
}

TEST(TextScanner, LayoutsAgreeWithTheLineByLineAnalysis) {
    std::mt19937 rng(4242);
    const std::size_t kBlocks[] = {1, 7, 63, 64, 65, 1000, 1 << 16};
    for (int nRound = 0; nRound < 400; ++nRound) {
        std::string sFile = randomFile(rng);
        // Every fourth file with CR line ends alone (as old Mac software writes them): the lines
        // are the same.
        std::string sScanned = sFile;
        if (nRound % 4 == 3) {
            sFile.erase(std::remove(sFile.begin(), sFile.end(), '\r'), sFile.end());
            sScanned = sFile;
            std::replace(sScanned.begin(), sScanned.end(), '\n', '\r');
        }
        const std::size_t nBlock = kBlocks[rng() % (sizeof kBlocks / sizeof kBlocks[0])];
        // Now and then a small line limit, so that lines are cut (in the buffer and past it).
        const std::size_t nMaxLine = rng() % 4 == 0 ? 40 + rng() % 100 : std::size_t{1} << 20;
        SCOPED_TRACE("round " + std::to_string(nRound) + ", block " + std::to_string(nBlock) + ", line limit " +
                     std::to_string(nMaxLine));
        const reference::Result want = reference::columns(sFile, nMaxLine);

        StringSource source(sScanned, nBlock);
        Collecting got;
        qrtool::TextScanner scanner(nBlock, nMaxLine);
        scanner.useWideMasks(nRound % 2 == 0);  // both forms of the inner loop
        ASSERT_EQ(scanner.run(source, got), qrtool::ScanStatus::Done);
        got.checkTexts();
        EXPECT_EQ(got.llChangedTexts, 0);
        EXPECT_EQ(got.kinds, want.kinds);
        EXPECT_EQ(got.llCut, want.llCut);
        EXPECT_EQ(got.widths, want.widths);
        EXPECT_EQ(got.same, want.same);
        const qrtool::LayoutSummary& summary = got.layouts.summary();
        ASSERT_EQ(summary.layouts.size(), want.summary.layouts.size());
        for (std::size_t i = 0; i < summary.layouts.size(); ++i) {
            SCOPED_TRACE("layout " + std::to_string(i + 1));
            expectSameLayouts(summary.layouts[i], want.summary.layouts[i]);
        }
        expectSameLayouts(summary.other, want.summary.other);
    }
}

TEST(TextScanner, VectorMasksMatchThePortableOnes) {
    std::mt19937 rng(99);
    const char kBytes[] = {' ', '\t', '\n', '\r', 'a', '\0', '\x80', '\xff', '\x0b', '*', ',', ';', '-'};
    for (int nRound = 0; nRound < 20000; ++nRound) {
        char chunk[64];
        for (char& c : chunk) c = kBytes[rng() % sizeof kBytes];
        // The line end and the delimiter vary as CR files and CSV files have them.
        const char cEnd = nRound % 2 == 0 ? '\n' : '\r', cDelimiter = nRound % 3 == 0 ? ';' : ',';
        const qrtool::ChunkMasks vector = qrtool::chunkMasks(chunk, cEnd, cDelimiter),
                                 portable = qrtool::chunkMasksPortable(chunk, cEnd, cDelimiter),
                                 wide = qrtool::chunkMasksWide(chunk, cEnd, cDelimiter);
        uint64_t llLineFeed = 0, llBlank = 0, llStar = 0, llDelimiter = 0, llMinus = 0;
        for (unsigned i = 0; i < 64; ++i) {
            llLineFeed |= static_cast<uint64_t>(chunk[i] == cEnd) << i;
            llBlank |= static_cast<uint64_t>(chunk[i] == ' ' || chunk[i] == '\t') << i;
            llStar |= static_cast<uint64_t>(chunk[i] == '*') << i;
            llDelimiter |= static_cast<uint64_t>(chunk[i] == cDelimiter) << i;
            llMinus |= static_cast<uint64_t>(chunk[i] == '-') << i;
        }
        for (const qrtool::ChunkMasks& masks : {vector, portable, wide}) {
            EXPECT_EQ(masks.llLineFeed, llLineFeed);
            EXPECT_EQ(masks.llBlank, llBlank);
            EXPECT_EQ(masks.llStar, llStar);
            EXPECT_EQ(masks.llDelimiter, llDelimiter);
            EXPECT_EQ(masks.llMinus, llMinus);
        }
    }
}

// ---- survey scans ----------------------------------------------------------------------------

struct Collected : qrtool::ScanSink {
    qrtool::ScanSummary channels;
    std::vector<qrtool::SurveyLine> lines;
    void onChannels(const qrtool::ScanSummary& summary) override { channels = summary; }
    void onLine(const qrtool::SurveyLine& line) override { lines.push_back(line); }
};

struct Scanned {
    qrtool::ScanResult result;
    std::string sError;
    qrtool::ScanSummary summary;
    std::vector<qrtool::SurveyLine> lines;
    // "NAME:records" of every line, and the channel labels, joined by blanks.
    std::string lineList() const {
        std::string s;
        for (const qrtool::SurveyLine& line : lines) s += (s.empty() ? "" : " ") + line.name.sShown + ":" + std::to_string(line.llRecords);
        return s;
    }
    std::string channelList() const {
        std::string s;
        for (const qrtool::Channel& channel : summary.channels) s += (s.empty() ? "" : " ") + channel.label();
        return s;
    }
};

// Scans sText in small blocks (so that lines cross block ends).
Scanned scanText(const std::string& sText, qrtool::ScanOptions options = {}) {
    StringSource source(sText, 7);
    Collected sink;
    qrtool::SurveyScan scan(std::move(options));
    const qrtool::ScanResult result = scan.scan(source, sink);
    return {result, scan.error(), scan.summary(), sink.lines};
}

TEST(SurveyScan, ChannelNamesFromExportHeaders) {
    const struct {
        const char* szCase;
        std::string sText;
        std::string sChannels;
    } rows[] = {
        {"export header: names, a rule of '=', an empty comment",
         "/         X          Y FIDUCIAL     MAGCOR\n/========== ========== ======== ==========\n/\nLine 1\n 1 2 3 4\n",
         "X Y FIDUCIAL MAGCOR"},
        {"a rule of '-' and '*'", "/ X Y Z\n/ --- *** ---\nLine 1\n 1 2 3\n", "X Y Z"},
        {"the last comment with as many words", "/ A B C\n/ X Y\n/ P Q R\nLine 1\n 1 2 3\n", "P Q R"},
        {"no comment of the records' width", "/ X Y\nLine 1\n 1 2 3\n", "c1 c2 c3"},
        {"a names line without '/' (CSV header)", "X,Y,MAG\n1,2,3\n", "X Y MAG"},
        {"repeated names", "/ X X Y\n 1 2 3\n", "c1 c2 c3"},
        {"records that start with a name", "/ STATION X Y\nSTN1 1 2\nSTN2 3 4\n", "STATION X Y"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        const Scanned scanned = scanText(row.sText);
        ASSERT_EQ(scanned.result, qrtool::ScanResult::Done) << scanned.sError;
        EXPECT_EQ(scanned.channelList(), row.sChannels);
        EXPECT_EQ(scanned.summary.llUnknown, 0);
    }
}

// Every line kind the codec has, by word and abbreviation, in any case; versions; and lines that
// look like headers but name no line are reported, never counted as records.
TEST(SurveyScan, HeaderKeywordsAndLinesNotUnderstood) {
    const struct {
        const char* szHeader;
        const char* szLine;  // the line's name, or nullptr: not understood
        const char* szType;
        const char* szVersion;
    } rows[] = {
        {"LI 1", "L1", "L", ""},        {"TL 3", "T3", "T", ""},          {"tie 9010", "T9010", "T", ""},
        {"Base 7", "B7", "B", ""},      {"BL 7", "B7", "B", ""},          {"Trend 4", "R4", "R", ""},
        {"TR 4", "R4", "R", ""},        {"Test 5", "S5", "S", ""},        {"TS 5", "S5", "S", ""},
        {"Special 2", "P2", "P", ""},   {"SP 2", "P2", "P", ""},          {"Random 9", "D9", "D", ""},
        {"RL 9", "D9", "D", ""},        {"ln 12", "L12", "L", ""},        {"Line 10030.2", "L10030.2", "L", "2"},
        {"LINE AL0123", "AL0123", "L", ""}, {"Lines 10", nullptr, "", ""}, {"LINE", nullptr, "", ""},
        {"Flight 3", nullptr, "", ""},  {"Survey 12", nullptr, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szHeader);
        const Scanned scanned = scanText("/ X Y\nLine 100\n 1 2\n" + std::string(row.szHeader) + "\n 3 4\n 5 6\n");
        ASSERT_EQ(scanned.result, qrtool::ScanResult::Done) << scanned.sError;
        if (row.szLine == nullptr) {
            EXPECT_EQ(scanned.lineList(), "L100:3");
            EXPECT_EQ(scanned.summary.llUnknown, 1);
            ASSERT_EQ(scanned.summary.unknownSamples.size(), 1u);
            EXPECT_EQ(scanned.summary.unknownSamples[0], std::make_pair(int64_t{4}, std::string(row.szHeader)));
            continue;
        }
        EXPECT_EQ(scanned.lineList(), "L100:1 " + std::string(row.szLine) + ":2");
        ASSERT_EQ(scanned.lines.size(), 2u);
        EXPECT_TRUE(scanned.lines[1].name.valid()) << scanned.lines[1].name.sReason;
        EXPECT_EQ(scanned.lines[1].name.sType, row.szType);
        EXPECT_EQ(scanned.lines[1].name.sVersion, row.szVersion);
        EXPECT_EQ(scanned.summary.llUnknown, 0);
    }
}

TEST(SurveyScan, LinesFromAColumn) {
    const std::string sLineNo = "/ X LINE_NO FLT\n 1 100 7\n 2 100 7\n 3 200 7\n 4 200 8\n 5 100 8\n";
    const struct {
        const char* szCase;
        std::string sText;
        std::string sLineColumn, sFlightColumn;
        qrtool::ScanResult result;
        std::string sLines;  // NAME:records ...
        int64_t llDuplicates;
    } rows[] = {
        {"found by name, a line seen again is noted", sLineNo, "", "", qrtool::ScanResult::Done, "L100:2 L200:2 L100:1", 1},
        {"LINE in any case", "/ x y Line\n 1 2 10\n 1 2 10\n", "", "", qrtool::ScanResult::Done, "L10:2", 0},
        {"named by number", "1 2 10\n1 2 10\n1 2 11\n", "3", "", qrtool::ScanResult::Done, "L10:2 L11:1", 0},
        {"a value padded otherwise is the same", "1 10\n1    10\n  1 10\n", "2", "", qrtool::ScanResult::Done, "L10:3", 0},
        {"named by name (any case)", sLineNo, "line_no", "flt", qrtool::ScanResult::Done, "L100:2 L200:2 L100:1", 1},
        {"headers come first: no column by name", "/ X LINE\nLine 5\n 1 100\n 2 200\n", "", "", qrtool::ScanResult::Done, "L5:2", 0},
        {"a column that is not there", sLineNo, "LINE", "", qrtool::ScanResult::BadOption, "", 0},
        {"a column number past the records", sLineNo, "4", "", qrtool::ScanResult::BadOption, "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtool::ScanOptions options;
        options.sLineColumn = row.sLineColumn;
        options.sFlightColumn = row.sFlightColumn;
        const Scanned scanned = scanText(row.sText, options);
        ASSERT_EQ(scanned.result, row.result) << scanned.sError;
        if (row.result != qrtool::ScanResult::Done) {
            EXPECT_NE(scanned.sError.find("no column '" + row.sLineColumn + "'"), std::string::npos) << scanned.sError;
            continue;
        }
        EXPECT_EQ(scanned.lineList(), row.sLines);
        EXPECT_EQ(scanned.summary.llDuplicates, row.llDuplicates);
    }
    // The flight comes from its column, with the line where it starts.
    qrtool::ScanOptions options;
    options.sFlightColumn = "FLT";
    const Scanned scanned = scanText(sLineNo, options);
    ASSERT_EQ(scanned.lines.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(scanned.lines[i].flight.has_value());
        EXPECT_EQ(scanned.lines[i].flight->sName, i < 2 ? "7" : "8");
    }
}

TEST(SurveyScan, DefinitionsAreRead) {
    const std::string sComment = "DEFN   ST=RECD,RT=COMM;RT:A4;COMMENTS:A76\n";
    const struct {
        const char* szCase;
        std::string sText;
        std::string sFields;  // NAME:FORMAT:count:width:units:null ..., or the error's start
    } rows[] = {
        {"fields, arrays, attributes",
         sComment + "DEFN 1 ST=RECD,RT=;LINE:I10:NAME=Line number\n"
                    "DEFN 2 ST=RECD,RT=;mag:f10.3:UNITS=nT,NULL=-99999.999\n"
                    "DEFN 3 ST=RECD,RT=;EM:30F10.3: UNIT=ppm :NULL=-9999\n"
                    "DEFN 4 ST=RECD,RT=;TAG:A4\n"
                    "DEFN 5 ST=RECD,RT=;END DEFN\nDEFN 6 ST=RECD,RT=;AFTER:I2\n",
         "LINE:I10:1:10:: mag:F10.3:1:10:nT:-99999.999 EM:30F10.3:30:10:ppm:-9999 TAG:A4:1:4::"},
        {"E and D formats", "DEFN ST=RECD,RT=;A:E12.4;B:D20.12\n", "A:E12.4:1:12:: B:D20.12:1:20::"},
        {"no format", "DEFN 1 ST=RECD,RT=;LINE\n", "line 1: field LINE: no format"},
        {"a format of no kind", "DEFN 1 ST=RECD,RT=;LINE:X10\n", "line 1: field LINE: no format"},
        {"a null that is no number", "DEFN 1 ST=RECD,RT=;LINE:I10:NULL=none\n", "line 1: field LINE: NULL=none is no number"},
        {"no field", sComment, "no field is defined"},
        {"records too wide", "DEFN 1 ST=RECD,RT=;EM:9999999F10.3\n", "line 1: records wider than"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtool::GdfDefinition definition;
        std::string sError;
        if (!qrtool::parseGdfDefinition(row.sText, definition, sError)) {
            EXPECT_EQ(sError.rfind(row.sFields, 0), 0u) << sError;
            continue;
        }
        std::string sFields;
        for (const qrtool::GdfField& field : definition.fields)
            sFields += (sFields.empty() ? "" : " ") + field.sName + ":" + field.sFormat + ":" + std::to_string(field.nCount) + ":" +
                       std::to_string(field.nWidth) + ":" + field.sUnits + ":" + field.sNullText;
        EXPECT_EQ(sFields, row.sFields);
    }
}

// Nulls declared every way count as nulls, by value (9999 = 9999.000), never as data.
TEST(SurveyScan, DeclaredNullsAreNotData) {
    const std::string sData = "/ X Y Z\n 1 9999 -999.9999\n 2 9999.000 -999.99\n 3 * 5\n";
    const struct {
        const char* szCase;
        std::string sText;
        std::vector<std::string> nulls;
        std::vector<int64_t> counts;  // nulls per channel
        double dMinZ;                 // the smallest Z that is data
    } rows[] = {
        {"'*' alone", sData, {}, {0, 1, 0}, -999.9999},
        {"--null VALUE for every channel", sData, {"9999", "-999.9999"}, {0, 3, 1}, -999.99},
        {"--null CHANNEL=VALUE", sData, {"z=-999.9999"}, {0, 1, 1}, -999.99},
        {"a Workbench /DUMMY block", "/DUMMY\n/ 9999\n" + sData, {}, {0, 3, 0}, -999.9999},
        {"/DUMMY with its value", "/DUMMY -999.9999\n" + sData, {}, {0, 1, 1}, -999.99},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtool::ScanOptions options;
        options.bStats = true;
        for (const std::string& sNull : row.nulls) {
            qrtool::NullValue null;
            std::string sError;
            ASSERT_TRUE(qrtool::parseNullValue(sNull, null, sError)) << sError;
            options.nulls.push_back(null);
        }
        const Scanned scanned = scanText(row.sText, options);
        ASSERT_EQ(scanned.result, qrtool::ScanResult::Done) << scanned.sError;
        ASSERT_EQ(scanned.lines.size(), 1u);
        const std::vector<qrtool::ChannelStats>& stats = scanned.lines[0].channels;
        ASSERT_EQ(stats.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(stats[k].llNulls, row.counts[k]) << "channel " << k;
        EXPECT_EQ(stats[2].dMin, row.dMinZ);
        EXPECT_EQ(stats[2].dMax, 5.0);
    }
    qrtool::NullValue null;
    std::string sError;
    EXPECT_FALSE(qrtool::parseNullValue("=5", null, sError));
    EXPECT_FALSE(qrtool::parseNullValue("MAG=abc", null, sError));
    EXPECT_FALSE(qrtool::parseNullValue("inf", null, sError));
}

TEST(SurveyScan, DelimitersAndLineEnds) {
    const struct {
        const char* szCase;
        std::string sText;
        char cWant;  // the --delimiter given ('\0': detected)
        char cDelimiter;
        bool bCr;
        std::vector<int32_t> widths;  // of the first record
        std::string sLines;
    } rows[] = {
        {"commas detected", "DATE, TIME, LINE_NO, RHO\n2019-05-01, 10:00:00, 100, 12.5\n", '\0', ',', false,
         {10, 10, 5, 6}, "L100:1"},
        {"semicolons before decimal commas (read as decimals)", "X;Y;LINE\n1,5;2,25;7\n1,5;-2,5;7\n", '\0', ';', false,
         {3, 5, 2}, "L7:2"},
        {"commas under header lines", "/ X,Y\nLine 1\n1,2\n3,4\nLine 2\n5,6\n", '\0', ',', false, {1, 2}, "L1:2 L2:1"},
        {"blanks when the commas differ", "/ X Y\nLine 1\n 1,2 3\n 4 5\n", '\0', ' ', false, {4, 2}, "L1:2"},
        {"a delimiter given", "/ X Y\nLine 1\n1|2\n", '|', '|', false, {1, 2}, "L1:1"},
        {"CR line ends", "/ X Y\rLine 1\r 1 2\r 3 4\rLine 2\r 5 6\r", '\0', ' ', true, {2, 2}, "L1:2 L2:1"},
        {"CR LF line ends", "/ X Y\r\nLine 1\r\n 1 2\r\n 3 4\r\n", '\0', ' ', false, {2, 2}, "L1:2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szCase);
        qrtool::ScanOptions options;
        options.cDelimiter = row.cWant;
        options.bStats = true;
        const Scanned scanned = scanText(row.sText, options);
        ASSERT_EQ(scanned.result, qrtool::ScanResult::Done) << scanned.sError;
        EXPECT_EQ(scanned.summary.cDelimiter, row.cDelimiter);
        EXPECT_EQ(scanned.summary.bCrLineEnds, row.bCr);
        EXPECT_EQ(scanned.lineList(), row.sLines);
        ASSERT_FALSE(scanned.lines.empty());
        EXPECT_EQ(scanned.lines[0].widths, row.widths);
        if (row.cDelimiter == ';') {
            ASSERT_EQ(scanned.lines[0].channels.size(), 3u);
            EXPECT_EQ(scanned.lines[0].channels[1].dMin, -2.5);
            EXPECT_EQ(scanned.lines[0].channels[1].dMax, 2.25);
        }
    }
}

// What a reader of values gets: numbers, nulls, text and missing fields per record.
TEST(SurveyScan, RecordsGiveTheirValues) {
    struct Reader : qrtool::ScanSink {
        std::string sSeen;
        bool wantsRecords() const override { return true; }
        void onLine(const qrtool::SurveyLine&) override {}
        void onRecord(const qrtool::RecordView& record) override {
            sSeen += record.surveyLine().name.sShown + ":";
            for (std::size_t k = 0; k < 4; ++k) {
                double d = 0;
                const auto value = record.number(k, d);
                sSeen += value == qrtool::RecordView::Value::Number ? std::to_string(static_cast<int>(d))
                         : value == qrtool::RecordView::Value::Null ? "N"
                         : value == qrtool::RecordView::Value::Text ? "T:" + std::string(record.field(k))
                                                                     : "-";
                sSeen += k < 3 ? "," : ";";
            }
        }
    };
    const std::string sText = "/ X Y Z W\nLine 7\n 1 2 -99 a\n 3 * 4\n";
    StringSource source(sText, 5);
    Reader reader;
    qrtool::ScanOptions options;
    options.nulls.push_back({"", "-99", -99});
    qrtool::SurveyScan scan(options);
    ASSERT_EQ(scan.scan(source, reader), qrtool::ScanResult::Done) << scan.error();
    EXPECT_EQ(reader.sSeen, "L7:1,2,N,T:a;L7:3,N,4,-;");
}

}  // namespace
