// qrtool's text scanner against the line-by-line analysis it replaced: the same layouts, record
// counts and run starts on random ragged files, whatever the block size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qrcore/util.h"
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
    void onLine(const qrtool::ScanLine& line) override {
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
        const std::string sFile = randomFile(rng);
        const std::size_t nBlock = kBlocks[rng() % (sizeof kBlocks / sizeof kBlocks[0])];
        // Now and then a small line limit, so that lines are cut (in the buffer and past it).
        const std::size_t nMaxLine = rng() % 4 == 0 ? 40 + rng() % 100 : std::size_t{1} << 20;
        SCOPED_TRACE("round " + std::to_string(nRound) + ", block " + std::to_string(nBlock) + ", line limit " +
                     std::to_string(nMaxLine));
        const reference::Result want = reference::columns(sFile, nMaxLine);

        StringSource source(sFile, nBlock);
        Collecting got;
        qrtool::TextScanner scanner(nBlock, nMaxLine);
        scanner.useWideMasks(nRound % 2 == 0);  // both forms of the inner loop
        ASSERT_EQ(scanner.run(source, got), qrtool::ScanStatus::Done);
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
    const char kBytes[] = {' ', '\t', '\n', '\r', 'a', '\0', '\x80', '\xff', '\x0b', '*'};
    for (int nRound = 0; nRound < 20000; ++nRound) {
        char chunk[64];
        for (char& c : chunk) c = kBytes[rng() % sizeof kBytes];
        const qrtool::ChunkMasks vector = qrtool::chunkMasks(chunk), portable = qrtool::chunkMasksPortable(chunk),
                                 wide = qrtool::chunkMasksWide(chunk);
        uint64_t llLineFeed = 0, llBlank = 0, llStar = 0;
        for (unsigned i = 0; i < 64; ++i) {
            llLineFeed |= static_cast<uint64_t>(chunk[i] == '\n') << i;
            llBlank |= static_cast<uint64_t>(chunk[i] == ' ' || chunk[i] == '\t') << i;
            llStar |= static_cast<uint64_t>(chunk[i] == '*') << i;
        }
        for (const qrtool::ChunkMasks& masks : {vector, portable, wide}) {
            EXPECT_EQ(masks.llLineFeed, llLineFeed);
            EXPECT_EQ(masks.llBlank, llBlank);
            EXPECT_EQ(masks.llStar, llStar);
        }
    }
}

}  // namespace
