// Survey codecs: splitting a line name into its number part, type character and area text.
// Part of the survey subsystem; keeps no state and never touches the error state.
#include "qrcore/survey.h"
#include "qrcore/util.h"
#include "survey/line_layout.h"
#include "survey/name_text.h"

namespace qr::survey {
namespace {

// Copies nLength characters and a terminator when they fit nSize bytes; otherwise false with
// the buffer left as it was (empty).
bool copyPart(const char* pText, std::size_t nLength, char* szBuffer, int16_t nSize) {
    if (nSize <= 0 || nLength >= static_cast<std::size_t>(nSize)) return false;
    std::memcpy(szBuffer, pText, nLength);
    szBuffer[nLength] = '\0';
    return true;
}

}  // namespace
}  // namespace qr::survey

using namespace qr::survey;

extern "C" QR_API bool QR_CALL SplitCharLineNo(char* szLine, char* szNumber, int16_t nNumberSize, char* pcType,
                                       char* szArea, int16_t nAreaSize) {
    if (pcType != nullptr) *pcType = '\0';
    if (szNumber != nullptr && nNumberSize > 0) szNumber[0] = '\0';
    if (szArea != nullptr && nAreaSize > 0) szArea[0] = '\0';
    if (szLine == nullptr || szNumber == nullptr || pcType == nullptr || szArea == nullptr) return false;

    const NameLayout layout = removeBlanks(szLine, kMaxLineNumber);
    if (nNumberSize < 0 || layout.nLength > static_cast<std::size_t>(nNumberSize)) return false;
    int64_t llKeyword = 0;
    if (matchKeyword(szLine, layout.nLength, &llKeyword))
        return copyPart(szLine, layout.nLength, szNumber, nNumberSize);
    if (!copyPart(szLine + layout.nDigit, layout.nLength - layout.nDigit, szNumber, nNumberSize)) return false;
    if (layout.nDigit == 0) return true;

    const std::size_t nTypeAt = layout.nDigit - 1;
    *pcType = static_cast<char>(upperCase(static_cast<unsigned char>(szLine[nTypeAt])));
    if (nTypeAt == 0) return true;
    if (nTypeAt > kMaxAreaLength) return false;
    return copyPart(szLine, nTypeAt, szArea, nAreaSize);
}

extern "C" QR_API bool QR_CALL GetCharLineType(char* szLine, char* pcType) {
    char szNumber[kLineNumberBufferSize];
    char szArea[kLineAreaBufferSize];
    return SplitCharLineNo(szLine, szNumber, static_cast<int16_t>(sizeof szNumber), pcType, szArea,
                           static_cast<int16_t>(sizeof szArea));
}

extern "C" QR_API bool QR_CALL GetCharLineArea(char* szLine, char* szArea, int16_t nAreaSize) {
    char szNumber[kLineNumberBufferSize];
    char cType = '\0';
    return SplitCharLineNo(szLine, szNumber, static_cast<int16_t>(sizeof szNumber), &cType, szArea, nAreaSize);
}
