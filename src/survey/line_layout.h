// Survey codecs: the limits of a line name that the line-number code accepts.
// Internal to the survey subsystem; shared by the coder and the splitter of line names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "survey/name_text.h"

namespace qr::survey {

// A line name is split into a number part of at most 15 characters and an area of at most two
// (16- and 4-byte buffers with their terminators), and the whole name has at most 16 characters.
inline constexpr std::size_t kLineNumberBufferSize = 16;
inline constexpr std::size_t kLineAreaBufferSize = 4;
inline constexpr uint32_t kMaxLineNumber = 2147483647;

inline bool fitsLineSplit(const NameLayout& layout) {
    return layout.nLength <= kLineNumberBufferSize &&
           layout.nLength - layout.nDigit < kLineNumberBufferSize &&
           (layout.nDigit == 0 || layout.nDigit - 1 <= kMaxAreaLength);
}

}  // namespace qr::survey
