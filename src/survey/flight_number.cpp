// Survey codecs: flight names to and from the 32-bit flight-number code.
// Part of the survey subsystem; keeps no state and never touches the error state.
#include "qrcore/survey.h"
#include "qrcore/util.h"
#include "survey/name_format.h"
#include "survey/name_text.h"

namespace qr::survey {
namespace {

inline constexpr uint32_t kMaxFlightNumber = 65535;
inline constexpr auto kFlightLetters = makeLetterTable(kFlightTypes);

// The code of the blank-free flight name szFlight laid out as layout, or false. Names of any
// length: nothing is copied.
bool codeFlight(const char* szFlight, const NameLayout& layout, int32_t* plCode) {
    int64_t llKeyword = 0;
    if (matchKeyword(szFlight, layout.nLength, &llKeyword)) {
        *plCode = static_cast<int32_t>(llKeyword);
        return true;
    }
    if (layout.nNumber > kMaxFlightNumber) return false;
    uint32_t nCode = layout.nNumber;
    if (layout.nDigit > 0) {
        const std::size_t nTypeAt = layout.nDigit - 1;
        if (nTypeAt > kMaxAreaLength) return false;
        const unsigned nType = typeIndexOf(kFlightTypeIndex, szFlight[nTypeAt]);
        const unsigned nArea = areaCodeOf(szFlight, nTypeAt);
        if (nType == 0 || nArea == kNoArea) return false;
        nCode += nType << 16;
        nCode += nArea << 24;
    }
    *plCode = static_cast<int32_t>(nCode);
    return true;
}

}  // namespace
}  // namespace qr::survey

using namespace qr::survey;

extern "C" QR_API bool QR_CALL ToIntFlightNo(char* szFlight, int32_t* plCode) {
    if (plCode == nullptr) return false;
    if (szFlight == nullptr) {
        *plCode = static_cast<int32_t>(kDummyCode);
        return false;
    }
    const NameLayout layout = removeBlanks(szFlight, kMaxFlightNumber);
    if (codeFlight(szFlight, layout, plCode)) return true;
    *plCode = static_cast<int32_t>(kDummyCode);
    return false;
}

extern "C" QR_API bool QR_CALL ToCharFlightNo(int32_t lCode, char* szBuffer, int32_t nSize) {
    if (szBuffer == nullptr) return false;
    bool bResult = false;
    if (writeKeyword(lCode, szBuffer, nSize, &bResult)) return bResult;
    // The 32-bit absolute value: the most negative code keeps its bits.
    const uint32_t nBits = static_cast<uint32_t>(QR_llabs(lCode));
    const int nType = static_cast<int8_t>(static_cast<uint8_t>(nBits >> 16));
    const int nArea = static_cast<int8_t>(static_cast<uint8_t>(nBits >> 24));
    if (nType > 5) {
        writeWord("DUMMY", 5, szBuffer, nSize);
        return false;
    }
    char szLocal[kNameBufferSize];
    char* pText = textTarget(szBuffer, nSize, szLocal);
    std::size_t nLength = writeLetters(pText, kFlightLetters, nArea, nType);
    nLength += writeUnsigned(pText + nLength, nBits & 0xFFFFu, 2);
    return finishText(pText, nLength, szBuffer, nSize);
}
