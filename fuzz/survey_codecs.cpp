// Fuzz target for the survey codecs: any bytes as a line or flight name, coded, split and
// printed back; any code printed into buffers of any size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "qrcore/survey.h"

namespace {

void require(bool bCondition) {
    if (!bCondition) __builtin_trap();
}

// A heap copy of the bytes with a terminator, exactly as large, so reading past it is caught.
std::unique_ptr<char[]> textOf(const uint8_t* pData, size_t nSize) {
    std::unique_ptr<char[]> pText(new char[nSize + 1]);
    if (nSize > 0) std::memcpy(pText.get(), pData, nSize);
    pText[nSize] = '\0';
    return pText;
}

// Buffers of exactly nSize bytes, unterminated (one byte for sizes of 0 and below, which the
// codecs must not touch).
std::unique_ptr<char[]> bufferOf(int nSize) {
    const size_t nBytes = nSize > 0 ? static_cast<size_t>(nSize) : 1;
    std::unique_ptr<char[]> pBuffer(new char[nBytes]);
    std::memset(pBuffer.get(), '#', nBytes);
    return pBuffer;
}

void fuzzLine(const uint8_t* pData, size_t nSize) {
    auto pText = textOf(pData, nSize);
    int64_t llCode = 0;
    const bool bCoded = ToIntLineNo(pText.get(), &llCode);
    require(bCoded || llCode == -32767);
    require(std::strchr(pText.get(), ' ') == nullptr);
    if (!bCoded) return;
    // Every code read from text prints in 15 bytes and reads back as itself.
    auto pPrinted = bufferOf(15);
    require(ToCharLineNo(llCode, pPrinted.get(), 15));
    int64_t llBack = 0;
    require(ToIntLineNo(pPrinted.get(), &llBack) && llBack == llCode);
    // And the split with the same buffers succeeds too.
    auto pAgain = textOf(pData, nSize);
    char szNumber[16], szArea[4], cType = 0;
    require(SplitCharLineNo(pAgain.get(), szNumber, 16, &cType, szArea, 4));
}

void fuzzSplit(int16_t nNumberSize, int16_t nAreaSize, const uint8_t* pData, size_t nSize) {
    auto pText = textOf(pData, nSize);
    auto pNumber = bufferOf(nNumberSize);
    auto pArea = bufferOf(nAreaSize);
    char cType = 0;
    if (SplitCharLineNo(pText.get(), pNumber.get(), nNumberSize, &cType, pArea.get(), nAreaSize)) {
        require(std::strlen(pNumber.get()) < static_cast<size_t>(nNumberSize));
        if (nAreaSize > 0) require(std::strlen(pArea.get()) < static_cast<size_t>(nAreaSize));
    }
    auto pForType = textOf(pData, nSize);
    GetCharLineType(pForType.get(), &cType);
    auto pForArea = textOf(pData, nSize);
    GetCharLineArea(pForArea.get(), pArea.get(), nAreaSize);
}

void fuzzFlight(const uint8_t* pData, size_t nSize) {
    auto pText = textOf(pData, nSize);
    int32_t lCode = 0;
    const bool bCoded = ToIntFlightNo(pText.get(), &lCode);
    require(bCoded || lCode == -32767);
    if (!bCoded) return;
    auto pPrinted = bufferOf(9);
    require(ToCharFlightNo(lCode, pPrinted.get(), 9));
    int32_t lBack = 0;
    require(ToIntFlightNo(pPrinted.get(), &lBack) && lBack == lCode);
}

// Any code into a buffer of any small size: never written past, always terminated.
void fuzzPrint(const uint8_t* pData, size_t nSize) {
    if (nSize < 9) return;
    int64_t llCode = 0;
    std::memcpy(&llCode, pData, sizeof llCode);
    const int nBuffer = pData[8] % 20;
    auto pBuffer = bufferOf(nBuffer);
    if (ToCharLineNo(llCode, pBuffer.get(), nBuffer)) require(std::strlen(pBuffer.get()) < static_cast<size_t>(nBuffer));
    int64_t llNumber = 0;
    int16_t nType = 0, nArea = 0;
    SplitIntLineNo(llCode, &llNumber, &nType, &nArea);
    require(GetIntLineType(llCode) == static_cast<uint8_t>(nType));
    require(GetIntLineArea(llCode) == static_cast<uint8_t>(nArea));
    int32_t lCode = 0;
    std::memcpy(&lCode, pData, sizeof lCode);
    if (ToCharFlightNo(lCode, pBuffer.get(), nBuffer)) require(std::strlen(pBuffer.get()) < static_cast<size_t>(nBuffer));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    fuzzLine(pData, nSize);
    fuzzFlight(pData, nSize);
    fuzzPrint(pData, nSize);
    if (nSize >= 2) fuzzSplit(static_cast<int16_t>(pData[0] % 24) - 2, static_cast<int16_t>(pData[1] % 6) - 1, pData + 2, nSize - 2);
    return 0;
}
