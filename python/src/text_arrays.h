// Python package qrcore: loops over numpy arrays of names (str or bytes) and of codes, run in C++
// without the GIL.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "bindings.h"

namespace qrpy {

// A C-contiguous copy (or the array itself) of a str ('U') or bytes ('S') array; TypeError for
// any other kind.
py::array textArray(const py::array& names);

// Calls fn(szName, i) for every element of a text array, in order, with the element as a
// zero-terminated, writable byte string (str elements in UTF-8), without the GIL.
template <class Fn>
void forEachText(const py::array& names, Fn fn) {
    const char cKind = names.dtype().kind();
    const std::size_t nItem = static_cast<std::size_t>(names.itemsize());
    const std::size_t nCount = static_cast<std::size_t>(names.size());
    const auto* pData = static_cast<const unsigned char*>(names.data());
    py::gil_scoped_release release;
    std::vector<char> room(nItem + 1);
    for (std::size_t i = 0; i < nCount; ++i) {
        const unsigned char* pItem = pData + i * nItem;
        std::size_t n = 0;
        if (cKind == 'S') {
            n = strnlen(reinterpret_cast<const char*>(pItem), nItem);
            std::memcpy(room.data(), pItem, n);
        } else {
            // UCS-4 as numpy keeps it; written out as UTF-8 (4 bytes per character at most, so
            // the room of itemsize bytes always holds it).
            for (std::size_t k = 0; k + 4 <= nItem; k += 4) {
                uint32_t c;
                std::memcpy(&c, pItem + k, 4);
                if (c == 0) break;
                if (c < 0x80) {
                    room[n++] = static_cast<char>(c);
                } else if (c < 0x800) {
                    room[n++] = static_cast<char>(0xC0 | (c >> 6));
                    room[n++] = static_cast<char>(0x80 | (c & 0x3F));
                } else if (c < 0x10000) {
                    room[n++] = static_cast<char>(0xE0 | (c >> 12));
                    room[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                    room[n++] = static_cast<char>(0x80 | (c & 0x3F));
                } else {
                    room[n++] = static_cast<char>(0xF0 | (c >> 18));
                    room[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                    room[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                    room[n++] = static_cast<char>(0x80 | (c & 0x3F));
                }
            }
        }
        room[n] = '\0';
        fn(room.data(), i);
    }
}

// Writes the ASCII text szText into element i of the data of a 'U' array of nChars characters
// (cut there).
inline void putText(uint32_t* pOut, std::size_t i, const char* szText, std::size_t nChars) {
    uint32_t* pItem = pOut + i * nChars;
    std::size_t k = 0;
    for (; k < nChars && szText[k] != '\0'; ++k) pItem[k] = static_cast<unsigned char>(szText[k]);
    for (; k < nChars; ++k) pItem[k] = 0;
}

// A new C-contiguous array of the shape of like, of type dtype (numpy's dtype text, e.g. "<U16").
py::array arrayLike(const py::array& like, const char* szDtype);

}  // namespace qrpy
