// qrtool: the text scanner: lines, their kinds and record layouts in one pass over large blocks.
#include "text_scanner.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// On x86 with GCC or Clang the scanner also has a 32-byte form of its inner loop, taken when
// the processor has AVX2.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QRTOOL_WIDE_MASKS 1
#include <immintrin.h>
#else
#define QRTOOL_WIDE_MASKS 0
#endif

#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/util.h"
#include "survey_text.h"

namespace qrtool {

// ---- sources ---------------------------------------------------------------------------------

namespace {
std::string lastLibraryMessage() {
    char szText[256] = "";
    GetDllErrorString(szText, sizeof szText);
    std::string sText = szText;
    while (!sText.empty() && (sText.back() == '\n' || sText.back() == '\r')) sText.pop_back();
    return (sText.empty() ? std::string("failed") : sText) + " (error " + std::to_string(GetDllErrorNo()) + ")";
}
}  // namespace

FileSource::~FileSource() { close(); }

bool FileSource::open(const std::string& sPath) {
    if (sPath == "-") {
        m_bStdin = true;
        return true;
    }
    ReportError(0);
    // Read access, sharing both: a scan never stands in the way of the file's other users.
    if (!QR_OpenFile(&m_hFile, sPath.c_str(), 0x301)) {
        m_hFile = nullptr;
        m_sError = lastLibraryMessage();
        return false;
    }
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(sPath, ec);
    m_llSize = ec ? -1 : static_cast<int64_t>(nSize);
    return true;
}

int64_t FileSource::read(char* p, std::size_t nBytes) {
    if (m_bStdin) {
        errno = 0;
        const std::size_t n = std::fread(p, 1, nBytes, stdin);
        if (n == 0 && std::ferror(stdin) != 0) {
            m_sError = std::strerror(errno != 0 ? errno : EIO);
            return -1;
        }
        return static_cast<int64_t>(n);
    }
    const auto nAsk = static_cast<uint32_t>(std::min<std::size_t>(nBytes, UINT32_MAX));
    ReportError(0);
    const uint32_t n = QR_Read(m_hFile, p, nAsk);
    if (n == 0 && GetDllErrorNo() != 0) {
        m_sError = lastLibraryMessage();
        return -1;
    }
    return n;
}

bool FileSource::close() {
    if (m_hFile == nullptr) return true;
    void* hFile = m_hFile;
    m_hFile = nullptr;
    ReportError(0);
    if (QR_CloseFile(hFile)) return true;
    m_sError = lastLibraryMessage();
    return false;
}

// ---- masks -----------------------------------------------------------------------------------

namespace {

// One bit per byte of the little-endian word w: set where the byte equals the byte in every
// lane of kPattern (exact per byte: no borrow crosses a lane).
inline uint64_t equalBytes(uint64_t w, uint64_t kPattern) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t x = w ^ kPattern;
    const uint64_t nonZero = (((x & kLow7) + kLow7) | x) & 0x8080808080808080ull;
    return ((~nonZero & 0x8080808080808080ull) >> 7) * 0x0102040810204080ull >> 56;
}

constexpr uint64_t lanes(unsigned char c) { return 0x0101010101010101ull * c; }

}  // namespace

ChunkMasks chunkMasksPortable(const char* p, char cLineEnd, char cDelimiter) {
    ChunkMasks masks;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t llEnd = lanes(static_cast<unsigned char>(cLineEnd)),
                       llDelimiter = lanes(static_cast<unsigned char>(cDelimiter));
        for (unsigned i = 0; i < 64; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            masks.llLineFeed |= equalBytes(w, llEnd) << i;
            masks.llBlank |= (equalBytes(w, lanes(' ')) | equalBytes(w, lanes('\t'))) << i;
            masks.llStar |= equalBytes(w, lanes('*')) << i;
            masks.llDelimiter |= equalBytes(w, llDelimiter) << i;
            masks.llMinus |= equalBytes(w, lanes('-')) << i;
        }
    } else {
        for (unsigned i = 0; i < 64; ++i) {
            const uint64_t bit = uint64_t{1} << i;
            if (p[i] == cLineEnd) masks.llLineFeed |= bit;
            if (p[i] == ' ' || p[i] == '\t') masks.llBlank |= bit;
            if (p[i] == '*') masks.llStar |= bit;
            if (p[i] == cDelimiter) masks.llDelimiter |= bit;
            if (p[i] == '-') masks.llMinus |= bit;
        }
    }
    return masks;
}

#if QRTOOL_WIDE_MASKS
// The same with 32-byte vectors, for processors that have them (chosen at run time).
__attribute__((target("avx2"))) inline ChunkMasks chunkMasksAvx2(const char* p, char cLineEnd, char cDelimiter) {
    const __m256i lf = _mm256_set1_epi8(cLineEnd), blank = _mm256_set1_epi8(' '), tab = _mm256_set1_epi8('\t'),
                  star = _mm256_set1_epi8('*'), delimiter = _mm256_set1_epi8(cDelimiter), minus = _mm256_set1_epi8('-');
    ChunkMasks masks;
    for (unsigned i = 0; i < 64; i += 32) {
        __m256i v;
        std::memcpy(&v, p + i, sizeof v);
        // (No lambda here: it would not share the function's target.)
        const auto nLineFeed = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, lf)));
        const auto nBlank = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(v, blank), _mm256_cmpeq_epi8(v, tab))));
        const auto nStar = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, star)));
        const auto nDelimiter = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, delimiter)));
        masks.llLineFeed |= static_cast<uint64_t>(nLineFeed) << i;
        masks.llBlank |= static_cast<uint64_t>(nBlank) << i;
        masks.llStar |= static_cast<uint64_t>(nStar) << i;
        masks.llDelimiter |= static_cast<uint64_t>(nDelimiter) << i;
        masks.llMinus |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, minus)))) << i;
    }
    return masks;
}
#endif

bool wideMasksAvailable() {
#if QRTOOL_WIDE_MASKS
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

ChunkMasks chunkMasksWide(const char* p, char cLineEnd, char cDelimiter) {
#if QRTOOL_WIDE_MASKS
    if (wideMasksAvailable()) return chunkMasksAvx2(p, cLineEnd, cDelimiter);
#endif
    return chunkMasks(p, cLineEnd, cDelimiter);
}

ChunkMasks chunkMasks(const char* p, char cLineEnd, char cDelimiter) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8(cLineEnd), blank = _mm_set1_epi8(' '), tab = _mm_set1_epi8('\t'),
                  star = _mm_set1_epi8('*'), delimiter = _mm_set1_epi8(cDelimiter), minus = _mm_set1_epi8('-');
    ChunkMasks masks;
    for (unsigned i = 0; i < 64; i += 16) {
        __m128i v;
        std::memcpy(&v, p + i, sizeof v);
        const auto bits = [&](__m128i eq) {
            return static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(eq))) << i;
        };
        masks.llLineFeed |= bits(_mm_cmpeq_epi8(v, lf));
        masks.llBlank |= bits(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab)));
        masks.llStar |= bits(_mm_cmpeq_epi8(v, star));
        masks.llDelimiter |= bits(_mm_cmpeq_epi8(v, delimiter));
        masks.llMinus |= bits(_mm_cmpeq_epi8(v, minus));
    }
    return masks;
#else
    return chunkMasksPortable(p, cLineEnd, cDelimiter);
#endif
}

// ---- lines -----------------------------------------------------------------------------------

namespace {
inline bool isBlank(char c) { return c == ' ' || c == '\t'; }
inline bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// The set bits of w, without the library call that std::popcount is on processors taken to
// lack the instruction.
inline std::size_t countBits(uint64_t w) {
    w -= (w >> 1) & 0x5555555555555555ull;
    w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
    w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return static_cast<std::size_t>((w * 0x0101010101010101ull) >> 56);
}
}  // namespace

std::size_t ScanLine::fields() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < nEndWords; ++i) n += countBits(pEndBits[i]);
    return n;
}

const uint32_t* ScanLine::ends() const {
    if (m_pEnds == nullptr) {
        // A delimiter's bit stands at the delimiter itself: the field ends there.
        const std::size_t nPast = cDelimiter != '\0' ? 0 : 1;
        uint32_t* pOut = pEndsRoom;
        for (std::size_t i = 0; i < nEndWords; ++i)
            for (uint64_t w = pEndBits[i]; w != 0; w &= w - 1)
                *pOut++ = static_cast<uint32_t>(64 * i + static_cast<std::size_t>(std::countr_zero(w)) + nPast);
        m_pEnds = pEndsRoom;
    }
    return m_pEnds;
}

void ScanLine::field(std::size_t k, std::size_t& nStart, std::size_t& nSize) const {
    // The first few fields (a line column) are found in the mask itself; further ones through
    // the positions, written out once.
    std::size_t nEnd = 0, nBefore = 0;
    if (m_pEnds == nullptr && k < 8) {
        // One walk over the set bits finds the end of field k and of the field before it.
        std::size_t nBit = SIZE_MAX, nPrevious = 0, nLeft = k;
        for (std::size_t i = 0; i < nEndWords && nBit == SIZE_MAX; ++i)
            for (uint64_t w = pEndBits[i]; w != 0; w &= w - 1) {
                const std::size_t nPos = 64 * i + static_cast<std::size_t>(std::countr_zero(w));
                if (nLeft-- == 0) {
                    nBit = nPos;
                    break;
                }
                nPrevious = nPos;
            }
        if (nBit == SIZE_MAX) {
            nStart = nLength;
            nSize = 0;
            return;
        }
        const std::size_t nPast = cDelimiter != '\0' ? 0 : 1;
        nEnd = nBit + nPast;
        nBefore = nPrevious + nPast;
    } else {
        if (k >= fields()) {
            nStart = nLength;
            nSize = 0;
            return;
        }
        const uint32_t* pEnds = ends();
        nEnd = pEnds[k];
        nBefore = k > 0 ? pEnds[k - 1] : 0;
    }
    if (cDelimiter == '\0') {
        std::size_t i = k == 0 ? nFirst : nBefore;
        while (isBlank(pText[i])) ++i;
        nStart = i;
        nSize = nEnd - i;
        return;
    }
    std::size_t i = k == 0 ? 0 : nBefore + 1;
    while (i < nEnd && isBlank(pText[i])) ++i;
    while (nEnd > i && isBlank(pText[nEnd - 1])) --nEnd;
    nStart = i;
    nSize = nEnd - i;
}

namespace {
// The end of the first word (at a blank, a tab or the delimiter).
std::size_t firstWordEnd(const ScanLine& line) {
    std::size_t i = line.nFirst;
    while (i < line.nLength && !isBlank(line.pText[i]) && line.pText[i] != line.cDelimiter) ++i;
    return i;
}
// Where the text after the first word starts (past blanks and delimiters).
std::size_t afterFirstWord(const ScanLine& line) {
    std::size_t i = firstWordEnd(line);
    while (i < line.nLength && (isBlank(line.pText[i]) || line.pText[i] == line.cDelimiter)) ++i;
    return i;
}
}  // namespace

LineKind classify(const ScanLine& line) {
    if (line.nFirst >= line.nLength) return LineKind::Blank;
    const char c = line.pText[line.nFirst];
    if (c == '/' || c == '#') return LineKind::Comment;
    if (!isLetter(c)) return LineKind::Record;
    const std::size_t nWord = firstWordEnd(line) - line.nFirst;
    if (lineKeywordType(line.pText + line.nFirst, nWord) != '\0' && afterFirstWord(line) < line.nLength)
        return LineKind::Header;
    return LineKind::Text;
}

std::string headerName(const ScanLine& line) {
    const std::size_t nStart = afterFirstWord(line);
    std::size_t nEnd = line.nLength;
    while (nEnd > nStart && (isBlank(line.pText[nEnd - 1]) || line.pText[nEnd - 1] == line.cDelimiter)) --nEnd;
    return std::string(line.pText + nStart, nEnd - nStart);
}

std::string headerKeyword(const ScanLine& line) {
    std::string s(line.pText + line.nFirst, firstWordEnd(line) - line.nFirst);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string fieldText(const ScanLine& line, std::size_t k) {
    std::size_t nStart = 0, nSize = 0;
    line.field(k, nStart, nSize);
    return std::string(line.pText + nStart, nSize);
}

char detectDelimiter(const char* p, std::size_t nLength, char cLineEnd, bool bAll) {
    // Counts of ';' and ',' in the first lines that are neither blank, comments nor headers; a
    // delimiter is one that every such line has equally often (';' first: files that use it often write
    // decimal commas).
    constexpr int kLines = 16;
    std::ptrdiff_t counts[2][kLines];
    int nLines = 0;
    for (std::size_t nPos = 0; nPos < nLength && nLines < kLines;) {
        const char* pEnd = static_cast<const char*>(std::memchr(p + nPos, cLineEnd, nLength - nPos));
        if (pEnd == nullptr && !bAll) break;  // a line cut by the end of the block
        const std::size_t nEnd = pEnd != nullptr ? static_cast<std::size_t>(pEnd - p) : nLength;
        std::size_t i = nPos;
        while (i < nEnd && (isBlank(p[i]) || p[i] == '\r')) ++i;
        std::size_t nWord = i;
        while (nWord < nEnd && isLetter(p[nWord])) ++nWord;
        const bool bHeader = nWord > i && lineKeywordType(p + i, nWord - i) != '\0';
        if (i < nEnd && p[i] != '/' && p[i] != '#' && !bHeader) {
            counts[0][nLines] = std::count(p + i, p + nEnd, ';');
            counts[1][nLines] = std::count(p + i, p + nEnd, ',');
            ++nLines;
        }
        nPos = nEnd + 1;
    }
    for (int d = 0; d < 2 && nLines > 0; ++d) {
        bool bSame = counts[d][0] > 0;
        for (int i = 1; bSame && i < nLines; ++i) bSame = counts[d][i] == counts[d][0];
        if (bSame) return d == 0 ? ';' : ',';
    }
    return '\0';
}

bool looksBinary(const char* p, std::size_t nLength) {
    std::size_t nOther = 0;
    for (std::size_t i = 0; i < nLength;) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == 0) return true;
        if ((c >= 0x20 && c < 0x7F) || (c >= '\t' && c <= '\r')) {
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence counts as text (a sequence cut by the end of the block
        // too).
        std::size_t nMore = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        std::size_t k = 1;
        while (nMore > 0 && k <= nMore && i + k < nLength && (static_cast<unsigned char>(p[i + k]) & 0xC0) == 0x80) ++k;
        if (nMore > 0 && (k == nMore + 1 || i + k == nLength)) {
            i += k;
            continue;
        }
        ++nOther;
        ++i;
    }
    return nOther * 2 > nLength;
}

TextScanner::TextScanner(std::size_t nBlock, std::size_t nMaxLine)
    : m_nBlock(std::max<std::size_t>(nBlock, 1)),
      m_nMaxLine(std::max<std::size_t>(nMaxLine, 1)),
      m_bits(m_nMaxLine / 64 + 2),
      m_ends(new uint32_t[m_nMaxLine + 2]),
      m_bWide(wideMasksAvailable()) {}

namespace {
inline void setBit(uint64_t* pBits, std::size_t k) { pBits[k / 64] |= uint64_t{1} << (k % 64); }
inline void clearBit(uint64_t* pBits, std::size_t k) { pBits[k / 64] &= ~(uint64_t{1} << (k % 64)); }
}  // namespace

void TextScanner::finishLine(const char* pLine, std::size_t nLength, bool bCut, bool bStar, bool bMinus) {
    ++m_llLine;
    uint64_t* const pBits = m_bits.data();
    // The mask words the scan may have written for this line (its ends lie within it), to be
    // cleared afterwards.
    const std::size_t nTouched = std::min(nLength / 64 + 2, m_bits.size());
    if (nLength > m_nMaxLine) {
        // Only the start of an overlong line counts.
        bCut = true;
        nLength = m_nMaxLine;
    }
    const bool bDelimited = m_cDelimiter != '\0';
    if (nLength > 0 && pLine[nLength - 1] == '\r') {
        // A CR LF line end. The scan counted the CR as a field byte: the last field ends before
        // it, or was the CR alone.
        --nLength;
        if (!bCut && !bDelimited) {
            clearBit(pBits, nLength);
            if (nLength > 0 && !isBlank(pLine[nLength - 1])) setBit(pBits, nLength - 1);
        }
    }
    std::size_t nFirst = 0;
    while (nFirst < nLength && isBlank(pLine[nFirst])) ++nFirst;
    std::size_t nWords = (nLength + 63) / 64;
    if (bCut) {
        // Ends past the cut go; a field running over the cut ends there.
        for (std::size_t i = nWords; i < nTouched; ++i) pBits[i] = 0;
        if (nLength % 64 != 0) pBits[nWords - 1] &= (uint64_t{1} << (nLength % 64)) - 1;
        if (!bDelimited && nLength > 0 && !isBlank(pLine[nLength - 1])) setBit(pBits, nLength - 1);
    }
    if (bDelimited && nFirst < nLength) {
        // The last field ends at the line's end.
        setBit(pBits, nLength);
        nWords = nLength / 64 + 1;
    }
    while (nWords > 0 && pBits[nWords - 1] == 0) --nWords;

    ScanLine line;
    line.pText = pLine;
    line.nLength = nLength;
    line.llNumber = m_llLine;
    line.bCut = bCut;
    line.bStar = bStar;
    line.bMinus = bMinus;
    line.pEndBits = pBits;
    line.nEndWords = nWords;
    line.pEndsRoom = m_ends.get();
    line.cDelimiter = m_cDelimiter;
    line.nFirst = nFirst;
    // Most lines are records that start with a digit or a sign.
    const char cFirst = pLine[nFirst];
    line.kind = nFirst < nLength && ((cFirst >= '0' && cFirst <= '9') || cFirst == '-' || cFirst == '+') ? LineKind::Record
                                                                                                      : classify(line);
    if (line.kind == LineKind::Record) {
        // Compared in line: most masks are a word or two, too short to be worth a call.
        bool bSame = m_bHaveRecord && nWords == m_lastBits.size();
        for (std::size_t i = 0; bSame && i < nWords; ++i) bSame = pBits[i] == m_lastBits[i];
        line.bSameLayout = bSame;
        if (!bSame) {
            m_lastBits.assign(pBits, pBits + nWords);
            m_bHaveRecord = true;
        }
    }
    m_pVisitor->onLine(line);
    // Most lines touch two words or three: cleared in line rather than by a call.
    pBits[0] = 0;
    pBits[1] = 0;
    if (nTouched > 2) {
        pBits[2] = 0;
        if (nTouched > 3) std::fill(pBits + 3, pBits + nTouched, 0);
    }
}

// Hands over every line of [p, p + nLength), which ends with a line end and is followed by at
// least 64 readable bytes. One pass over 64-byte chunks finds line ends and field ends: without
// a delimiter a field byte is anything but a blank, a tab and a line end (the CR of a CR LF end
// is set right per line), and a field ends where a field byte is followed by one that is not;
// with a delimiter the fields end at the delimiters. The ends of each chunk are shifted into the
// mask of the line they belong to, a word at a time.
template <ChunkMasks (*Masks)(const char*, char, char), bool bDelimited, bool bSigns>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void TextScanner::scanRegion(const char* p, std::size_t nLength, bool bCut) {
    uint64_t* const pBits = m_bits.data();
    const std::size_t nMaxWords = m_bits.size() - 1;  // words of ends at or below the limit, and one spare
    const char cLineEnd = m_cLineEnd, cDelimiter = bDelimited ? m_cDelimiter : ',';
    std::size_t nLineStart = 0;
    bool bStar = false, bMinus = false;
    for (std::size_t nChunk = 0; nChunk < nLength; nChunk += 64) {
        const ChunkMasks masks = Masks(p + nChunk, cLineEnd, cDelimiter);
        const std::size_t nRest = nLength - nChunk;
        const uint64_t llValid = nRest >= 64 ? ~uint64_t{0} : (uint64_t{1} << nRest) - 1;
        uint64_t llLineFeed = masks.llLineFeed & llValid;
        uint64_t llEnds;
        if constexpr (bDelimited) {
            llEnds = masks.llDelimiter & llValid;
        } else {
            const uint64_t llField = ~(masks.llBlank | llLineFeed) & llValid;
            const char cNext = p[nChunk + 64];  // readable: the region is followed by 64 bytes or more
            const bool bNextField = nRest > 64 && !isBlank(cNext) && cNext != cLineEnd;
            llEnds = llField & ~((llField >> 1) | (static_cast<uint64_t>(bNextField) << 63));
        }
        // Stars and minus signs only count per line: one mask of both, told apart per line.
        uint64_t llStars = masks.llStar & llValid, llMinus = bSigns ? masks.llMinus & llValid : 0;
        if (llLineFeed == 0) {
            // The whole chunk belongs to the line being read.
            addEnds(pBits, nMaxWords, llEnds, nChunk, nLineStart);
            bStar = bStar || llStars != 0;
            if constexpr (bSigns) bMinus = bMinus || llMinus != 0;
            continue;
        }
        for (;;) {
            // The ends (and stars) up to the next line end belong to the line being read.
            const uint64_t llBefore = llLineFeed != 0 ? (llLineFeed & (~llLineFeed + 1)) - 1 : ~uint64_t{0};
            const uint64_t llTake = llEnds & llBefore;
            llEnds ^= llTake;
            bStar = bStar || (llStars & llBefore) != 0;
            llStars &= ~llBefore;
            if constexpr (bSigns) {
                bMinus = bMinus || (llMinus & llBefore) != 0;
                llMinus &= ~llBefore;
            }
            addEnds(pBits, nMaxWords, llTake, nChunk, nLineStart);
            if (llLineFeed == 0) break;
            const std::size_t nPos = nChunk + static_cast<std::size_t>(std::countr_zero(llLineFeed));
            finishLine(p + nLineStart, nPos - nLineStart, bCut, bStar, bMinus);
            bStar = false;
            bMinus = false;
            nLineStart = nPos + 1;
            llLineFeed &= llLineFeed - 1;
        }
    }
}

// Bit b of the chunk at nChunk is bit nChunk + b - nLineStart of the line's mask.
inline void TextScanner::addEnds(uint64_t* pBits, std::size_t nMaxWords, uint64_t llTake, std::size_t nChunk,
                                 std::size_t nLineStart) {
    if (llTake == 0) return;
    if (nChunk < nLineStart) {
        pBits[0] |= llTake >> (nLineStart - nChunk);
        return;
    }
    const std::size_t nShift = nChunk - nLineStart, q = nShift / 64, r = nShift % 64;
    if (q >= nMaxWords) return;  // past the line limit
    pBits[q] |= llTake << r;
    if (r != 0) pBits[q + 1] |= llTake >> (64 - r);
}

// The scan's forms: with or without a delimiter, minus signs told or not.
template <ChunkMasks (*Masks)(const char*, char, char)>
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void TextScanner::scanRegionForms(const char* p, std::size_t nLength, bool bCut) {
    if (m_cDelimiter != '\0') {
        if (m_bTrackMinus)
            scanRegion<Masks, true, true>(p, nLength, bCut);
        else
            scanRegion<Masks, true, false>(p, nLength, bCut);
    } else if (m_bTrackMinus) {
        scanRegion<Masks, false, true>(p, nLength, bCut);
    } else {
        scanRegion<Masks, false, false>(p, nLength, bCut);
    }
}

void TextScanner::processRegion(const char* p, std::size_t nLength, bool bCut) {
#if QRTOOL_WIDE_MASKS
    if (m_bWide) {
        scanRegionAvx2(p, nLength, bCut);
        return;
    }
#endif
    scanRegionForms<chunkMasks>(p, nLength, bCut);
}

#if QRTOOL_WIDE_MASKS
__attribute__((target("avx2"))) void TextScanner::scanRegionAvx2(const char* p, std::size_t nLength, bool bCut) {
    scanRegionForms<chunkMasksAvx2>(p, nLength, bCut);
}
#endif

namespace {
// The first LF or CR in [p, p + n), or nullptr.
const char* firstLineEnd(const char* p, std::size_t n) {
    const char* pLf = static_cast<const char*>(std::memchr(p, '\n', n));
    const char* pCr = static_cast<const char*>(std::memchr(p, '\r', pLf != nullptr ? static_cast<std::size_t>(pLf - p) : n));
    return pCr != nullptr ? pCr : pLf;
}
}  // namespace

bool TextScanner::decideLineEnd(const char* pEnd, const char* pStop, bool bAll) {
    // CR alone ends the lines of files from old Mac software: the first line end tells. A CR
    // whose next byte is not here yet waits for it.
    if (*pEnd == '\r' && pEnd + 1 == pStop && !bAll) return false;
    m_cLineEnd = *pEnd == '\r' && (pEnd + 1 == pStop || pEnd[1] != '\n') ? '\r' : '\n';
    m_bDecided = true;
    return true;
}

void TextScanner::detect(const char* p, std::size_t nLength, bool bAll) {
    if (m_cWantDelimiter == '\0') m_cDelimiter = detectDelimiter(p, std::min<std::size_t>(nLength, 1 << 16), m_cLineEnd, bAll);
    if (m_cDelimiter == '\n' || m_cDelimiter == '\r') m_cDelimiter = '\0';
}

ScanStatus TextScanner::run(ByteSource& source, LineVisitor& visitor, int64_t llProgressStep) {
    m_pVisitor = &visitor;
    m_llLine = 0;
    m_bHaveRecord = false;
    m_bStop = false;
    m_bDecided = false;
    m_cLineEnd = '\n';
    m_cDelimiter = m_cWantDelimiter == ' ' || m_cWantDelimiter == '\t' ? '\0' : m_cWantDelimiter;
    constexpr std::size_t kPad = 128;            // readable bytes after the data (a chunk's tail)
    static_assert(kPad >= kLineSlack + 1, "a line's end and its slack lie in the buffer");
    constexpr std::size_t kFirstCheck = 1 << 16;  // bytes looked at for the text check
    // Room for an overlong line's start plus a block. Two buffers take turns: the lines of one
    // region are handed over while the other still holds those of the region before (see
    // LineVisitor::onRegionEnd); the part of a line not yet ended moves to the front of the
    // other buffer before the next block is read behind it.
    const std::size_t nCapacity = m_nMaxLine + m_nBlock + 1;
    for (std::vector<char>& room : m_buffers) room.resize(nCapacity + kPad);
    std::vector<char>* pBuffer = &m_buffers[0];
    std::size_t nHave = 0;
    int64_t llRead = 0, llNextProgress = llProgressStep;
    bool bChecked = false, bSkipping = false, bEnd = false;
    while (!bEnd) {
        std::vector<char>& buffer = *pBuffer;
        const int64_t n = source.read(buffer.data() + nHave, std::min(m_nBlock, nCapacity - nHave));
        if (n < 0) return ScanStatus::ReadError;
        bEnd = n == 0;
        llRead += n;
        if (llRead >= llNextProgress) {
            visitor.onProgress(llRead);
            llNextProgress = llRead + llProgressStep;
        }
        const std::size_t nNew = static_cast<std::size_t>(n);
        if (!bChecked) {
            // Wait for a whole first block (or the end, or a full buffer) before judging.
            nHave += nNew;
            if (nHave < std::min(kFirstCheck, nCapacity) && !bEnd) continue;
            if (looksBinary(buffer.data(), std::min(nHave, kFirstCheck))) return ScanStatus::Binary;
            bChecked = true;
        } else if (bSkipping) {
            // The rest of an overlong line is read past. When no line end came before, its end
            // decides how lines end (nHave is 1 while a CR waits for the byte after it).
            const char* pData = buffer.data();
            const std::size_t nData = nHave + nNew;
            const bool bUndecided = !m_bDecided;
            const char* pFeed = m_bDecided ? static_cast<const char*>(std::memchr(pData, m_cLineEnd, nData)) : firstLineEnd(pData, nData);
            nHave = 0;
            if (pFeed == nullptr) continue;
            if (bUndecided) {
                if (!decideLineEnd(pFeed, pData + nData, bEnd)) {
                    buffer[0] = '\r';
                    nHave = 1;
                    continue;
                }
                if (m_cLineEnd == '\n') pFeed = static_cast<const char*>(std::memchr(pFeed, '\n', static_cast<std::size_t>(pData + nData - pFeed)));
            }
            const std::size_t nKeep = static_cast<std::size_t>(pData + nData - (pFeed + 1));
            std::memmove(buffer.data(), pFeed + 1, nKeep);
            nHave = nKeep;
            bSkipping = false;
            if (bUndecided) detect(buffer.data(), nHave, bEnd);
        } else {
            nHave += nNew;
        }
        if (!m_bDecided) {
            const char* pFirst = firstLineEnd(buffer.data(), nHave);
            if (pFirst != nullptr ? decideLineEnd(pFirst, buffer.data() + nHave, bEnd) : bEnd) {
                m_bDecided = true;
                detect(buffer.data(), nHave, bEnd);
            } else if (nHave <= m_nMaxLine && !bEnd) {
                continue;  // no whole line yet
            }
        }
        const char cLineEnd = m_cLineEnd;
        // Every line that has its end is handed over; the unfinished one waits for more.
        if (bEnd && nHave > 0 && buffer[nHave - 1] != cLineEnd) buffer[nHave++] = cLineEnd;  // no final line end
        std::size_t nDone = nHave;
        while (nDone > 0 && buffer[nDone - 1] != cLineEnd) --nDone;
        if (nDone > 0 || nHave > m_nMaxLine) {
            if (nDone > 0) {
                processRegion(buffer.data(), nDone, false);
            } else {
                // A line longer than the limit: its start is looked at, the rest read past.
                buffer[m_nMaxLine] = cLineEnd;
                processRegion(buffer.data(), m_nMaxLine + 1, true);
                nDone = nHave;
                bSkipping = true;
            }
            visitor.onRegionEnd();
            pBuffer = &m_buffers[pBuffer == &m_buffers[0] ? 1 : 0];
            if (!bSkipping) std::memcpy(pBuffer->data(), buffer.data() + nDone, nHave - nDone);
            nHave -= nDone;
        }
        if (m_bStop) return ScanStatus::Stopped;
    }
    return ScanStatus::Done;
}

// ---- layouts ---------------------------------------------------------------------------------

std::vector<int32_t> recordWidths(const ScanLine& line) {
    if (line.cDelimiter != '\0') {
        std::vector<int32_t> widths(line.fields());
        const uint32_t* pEnds = line.ends();
        for (std::size_t k = 0; k < widths.size(); ++k) widths[k] = static_cast<int32_t>(pEnds[k] - (k == 0 ? 0 : pEnds[k - 1]));
        return widths;
    }
    // The library's analysis of the record, with tabs read as blanks. A zero byte would end the
    // library's text early, so it stands in as a field byte (a control character).
    std::string sRecord(line.pText, line.nLength);
    for (char& c : sRecord) {
        if (c == '\t') c = ' ';
        else if (c == '\0') c = '\x1a';
    }
    int32_t nCount = 0;
    int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nCount);
    std::vector<int32_t> widths;
    if (pWidths != nullptr) {
        widths.assign(pWidths, pWidths + std::max<int32_t>(nCount, 0));
        std::free(pWidths);
    }
    return widths;
}

void LayoutCollector::addChanged(const ScanLine& line) {
    std::size_t nLayout = m_nLast;
    if (!line.bSameLayout || !m_bAny) {
        m_lastWidths = recordWidths(line);
        // The layouts are found by a hash of their widths (FNV-1a), then compared whole.
        uint64_t llHash = 0xcbf29ce484222325ull;
        for (const int32_t w : m_lastWidths) llHash = (llHash ^ static_cast<uint32_t>(w)) * 0x100000001b3ull;
        auto it = std::lower_bound(m_index.begin(), m_index.end(), std::make_pair(llHash, std::size_t{0}));
        nLayout = SIZE_MAX;
        for (auto at = it; at != m_index.end() && at->first == llHash; ++at)
            if (m_summary.layouts[at->second].widths == m_lastWidths) nLayout = at->second;
        // Memory stays bounded: kMaxLayouts layouts and kMaxStoredWidths widths in all.
        if (nLayout == SIZE_MAX && m_summary.layouts.size() < kMaxLayouts &&
            m_nStoredWidths + m_lastWidths.size() <= kMaxStoredWidths) {
            nLayout = m_summary.layouts.size();
            m_index.insert(it, {llHash, nLayout});
            m_summary.layouts.push_back({m_lastWidths, 0, 0, {}});
            m_nStoredWidths += m_lastWidths.size();
        }
    }
    Layout& layout = nLayout == SIZE_MAX ? m_summary.other : m_summary.layouts[nLayout];
    ++layout.llRecords;
    m_bNewRun = !m_bAny || nLayout != m_nLast || nLayout == SIZE_MAX;
    if (m_bNewRun) {
        ++layout.llRuns;
        if (layout.starts.size() < kMaxStarts) layout.starts.push_back(line.llNumber);
    }
    m_nLast = nLayout;
    m_bAny = true;
}

}  // namespace qrtool
