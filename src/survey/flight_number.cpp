// Survey codecs: flight names to and from the 32-bit flight-number code.
// Part of the survey subsystem; keeps no state and never touches the error state.
#include "qrcore/survey.h"
#include "qrcore/util.h"
#include "survey/name_format.h"
#include "survey/name_text.h"

namespace qr::survey {
namespace {

inline constexpr uint32_t kMaxFlightNumber = 65535;

// The code of a valid flight name, or false. Names of any length: nothing is copied.
bool codeFlight(const char* szFlight, int32_t* plCode) {
    const NameLayout layout = scanName(szFlight);
    int64_t llKeyword = 0;
    if (matchKeyword(szFlight, layout.nLength, &llKeyword)) {
        *plCode = static_cast<int32_t>(llKeyword);
        return true;
    }
    uint32_t nNumber = 0;
    if (!readLeadingDigits(szFlight + layout.nDigit, kMaxFlightNumber, &nNumber)) return false;
    uint32_t nCode = nNumber;
    if (layout.nDigit > 0) {
        const std::size_t nTypeAt = layout.nDigit - 1;
        const unsigned nType = typeIndexOf(kFlightTypeIndex, szFlight[nTypeAt]);
        if (nType == 0) return false;
        nCode += nType << 16;
        if (nTypeAt > 0) {
            if (nTypeAt > 2) return false;
            const unsigned nArea = areaCodeOf(szFlight, nTypeAt);
            if (nArea == kNoArea) return false;
            nCode += nArea << 24;
        }
    }
    *plCode = static_cast<int32_t>(nCode);
    return true;
}

}  // namespace
}  // namespace qr::survey

using namespace qr::survey;

extern "C" QR_API bool ToIntFlightNo(char* szFlight, int32_t* plCode) {
    if (plCode == nullptr) return false;
    if (szFlight == nullptr) {
        *plCode = static_cast<int32_t>(kDummyCode);
        return false;
    }
    DelAllBlank(szFlight);
    if (codeFlight(szFlight, plCode)) return true;
    *plCode = static_cast<int32_t>(kDummyCode);
    return false;
}

extern "C" QR_API bool ToCharFlightNo(int32_t lCode, char* szBuffer, int32_t nSize) {
    if (szBuffer == nullptr) return false;
    if (const char* szKeyword = keywordText(lCode))
        return deliverText(szKeyword, std::strlen(szKeyword), szBuffer, nSize);
    // The 32-bit absolute value: the most negative code keeps its bits.
    const uint32_t nBits = static_cast<uint32_t>(QR_llabs(lCode));
    const int nType = static_cast<int8_t>(static_cast<uint8_t>(nBits >> 16));
    const int nArea = static_cast<int8_t>(static_cast<uint8_t>(nBits >> 24));
    if (nType > 5) {
        deliverText("DUMMY", 5, szBuffer, nSize);
        return false;
    }
    char szText[kNameBufferSize];
    std::size_t nLength = writeAreaAndType(szText, nArea, nType, kFlightTypes);
    nLength += writeUnsigned(szText + nLength, nBits & 0xFFFFu, 2);
    return deliverText(szText, nLength, szBuffer, nSize);
}
