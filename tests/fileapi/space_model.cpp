// Test support: the byte-vector model of the space functions.
#include "space_model.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace fileapitest {

namespace {
constexpr int64_t kChunk = 0x100000;

std::size_t at(int64_t llValue) { return static_cast<std::size_t>(llValue); }

void copyPiece(Bytes& bytes, int64_t llFrom, int64_t llTo, int64_t llCount) {
    if (bytes.size() < at(llTo + llCount)) bytes.resize(at(llTo + llCount), 0);
    const Bytes piece(bytes.begin() + llFrom, bytes.begin() + llFrom + llCount);
    std::copy(piece.begin(), piece.end(), bytes.begin() + llTo);
}
}  // namespace

bool modelAllocate(Bytes& bytes, int64_t llPos, int64_t llSize) {
    if (llSize <= 0 || llPos < 0 || at(llPos) >= bytes.size()) return false;
    bytes.insert(bytes.begin() + llPos, at(llSize), 0);
    return true;
}

bool modelFree(Bytes& bytes, int64_t llPos, int64_t llSize) {
    if (llSize <= 0 || llPos < 0 || at(llPos + llSize) >= bytes.size()) return false;
    bytes.erase(bytes.begin() + llPos, bytes.begin() + llPos + llSize);
    return true;
}

bool modelMove(Bytes& bytes, int64_t llSrc, int64_t llDst, int64_t llLength) {
    if (llLength <= 0 || llSrc == llDst) return false;
    // As if through an intermediate copy.
    copyPiece(bytes, llSrc, llDst, llLength);
    return true;
}

void modelZero(Bytes& bytes, int64_t llPos, int64_t llSize) {
    if (llSize <= 0) return;
    if (bytes.size() < at(llPos + llSize)) bytes.resize(at(llPos + llSize), 0);
    std::fill(bytes.begin() + llPos, bytes.begin() + llPos + llSize, 0);
}

int moveSteps(int64_t llLength) { return static_cast<int>((llLength + kChunk - 1) / kChunk); }

void modelMoveSteps(Bytes& bytes, int64_t llSrc, int64_t llDst, int64_t llLength, int nSteps) {
    for (int i = 0; i < nSteps; ++i) {
        const int64_t llDone = i * kChunk;
        const int64_t llCount = std::min(kChunk, llLength - llDone);
        if (llCount <= 0) return;
        const int64_t llOffset = llSrc > llDst ? llDone : llLength - llDone - llCount;
        copyPiece(bytes, llSrc + llOffset, llDst + llOffset, llCount);
    }
}

Bytes randomBytes(std::size_t nSize, uint32_t nSeed) {
    std::mt19937 engine(nSeed);
    Bytes bytes(nSize);
    for (auto& b : bytes) b = static_cast<unsigned char>(engine());
    return bytes;
}

Bytes readRange(const std::string& sPath, int64_t llPos, std::size_t nCount) {
    // A stream of its own that shares reading and writing, so the file may be read while the
    // test holds it open.
    Bytes bytes(nCount);
    std::ifstream in(sPath, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(llPos))) return {};
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(nCount));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

Bytes readAll(const std::string& sPath) {
    std::error_code ec;
    const auto nSize = std::filesystem::file_size(sPath, ec);
    if (ec) return {};
    return readRange(sPath, 0, static_cast<std::size_t>(nSize));
}

}  // namespace fileapitest
