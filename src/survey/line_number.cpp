// Survey codecs: line names to and from the 64-bit line-number code, and the code's fields.
// Part of the survey subsystem; keeps no state and never touches the error state.
#include "qrcore/survey.h"
#include "qrcore/util.h"
#include "survey/line_layout.h"
#include "survey/name_format.h"
#include "survey/name_text.h"

namespace qr::survey {
namespace {

// The code of the blank-free line name szLine laid out as layout, or false.
bool codeLine(const char* szLine, const NameLayout& layout, int64_t* pllCode) {
    if (matchKeyword(szLine, layout.nLength, pllCode)) return true;
    if (!fitsLineSplit(layout) || layout.nNumber > kMaxLineNumber) return false;
    int64_t llCode = layout.nNumber;
    if (layout.nDigit > 0) {
        const std::size_t nTypeAt = layout.nDigit - 1;
        const unsigned nType = typeIndexOf(kLineTypeIndex, szLine[nTypeAt]);
        const unsigned nArea = areaCodeOf(szLine, nTypeAt);
        if (nType == 0 || nArea == kNoArea) return false;
        llCode += static_cast<int64_t>(nType) << 32;
        llCode += static_cast<int64_t>(nArea) << 40;
    }
    *pllCode = llCode;
    return true;
}

inline constexpr auto kLineLetters = makeLetterTable(kLineTypes);

// The absolute value of a non-keyword code, as the field readers see it.
uint64_t lineBits(int64_t llCode) { return static_cast<uint64_t>(QR_llabs(llCode)); }

}  // namespace
}  // namespace qr::survey

using namespace qr::survey;

extern "C" QR_API bool QR_CALL ToIntLineNo(char* szLine, int64_t* pllCode) {
    if (pllCode == nullptr) return false;
    if (szLine == nullptr) {
        *pllCode = kDummyCode;
        return false;
    }
    const NameLayout layout = removeBlanks(szLine, kMaxLineNumber);
    if (codeLine(szLine, layout, pllCode)) return true;
    *pllCode = kDummyCode;
    return false;
}

extern "C" QR_API bool QR_CALL ToCharLineNo(int64_t llCode, char* szBuffer, int32_t nSize) {
    if (szBuffer == nullptr) return false;
    bool bResult = false;
    if (writeKeyword(llCode, szBuffer, nSize, &bResult)) return bResult;
    const uint64_t llBits = lineBits(llCode);
    const int nType = static_cast<int8_t>(static_cast<uint8_t>(llBits >> 32));
    const int nArea = static_cast<int8_t>(static_cast<uint8_t>(llBits >> 40));
    if (nType > 7) {
        writeWord("DUMMY", 5, szBuffer, nSize);
        return false;
    }
    char szLocal[kNameBufferSize];
    char* pText = textTarget(szBuffer, nSize, szLocal);
    std::size_t nLength = writeLetters(pText, kLineLetters, nArea, nType);
    nLength += writeSigned(pText + nLength, static_cast<int32_t>(static_cast<uint32_t>(llBits)), 4);
    return finishText(pText, nLength, szBuffer, nSize);
}

extern "C" QR_API void QR_CALL SplitIntLineNo(int64_t llCode, int64_t* pllNumber, int16_t* pnType, int16_t* pnArea) {
    int64_t llNumber = llCode;
    int16_t nType = 0;
    int16_t nArea = 0;
    if (llCode != kResetCode && llCode != kNextIndCode && llCode != kDummyCode) {
        const uint64_t llBits = lineBits(llCode);
        llNumber = static_cast<int64_t>(llBits & 0xFFFFFFFFu);
        nType = static_cast<int8_t>(static_cast<uint8_t>(llBits >> 32));
        nArea = static_cast<int8_t>(static_cast<uint8_t>(llBits >> 40));
    }
    if (pllNumber != nullptr) *pllNumber = llNumber;
    if (pnType != nullptr) *pnType = nType;
    if (pnArea != nullptr) *pnArea = nArea;
}

extern "C" QR_API int16_t QR_CALL GetIntLineType(int64_t llCode) {
    if (llCode == kResetCode || llCode == kDummyCode) return 0;
    return static_cast<uint8_t>(lineBits(llCode) >> 32);
}

extern "C" QR_API int16_t QR_CALL GetIntLineArea(int64_t llCode) {
    if (llCode == kResetCode || llCode == kDummyCode) return 0;
    return static_cast<uint8_t>(lineBits(llCode) >> 40);
}
