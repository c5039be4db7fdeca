// Python package qrcore: the survey line and flight codecs over numpy arrays, without the GIL;
// a name the codec refuses gets its invalid code (DUMMY), as in the library, never an exception.
#include <cstdint>
#include <limits>

#include "qrcore/survey.h"
#include "text_arrays.h"

namespace qrpy {

py::array textArray(const py::array& names) {
    const char cKind = names.dtype().kind();
    if (cKind != 'U' && cKind != 'S') throw py::type_error("names must be str or bytes (a numpy 'U' or 'S' array)");
    return py::array::ensure(names, py::array::c_style);
}

py::array arrayLike(const py::array& like, const char* szDtype) {
    std::vector<py::ssize_t> shape(like.shape(), like.shape() + like.ndim());
    return py::array(py::dtype(szDtype), shape);
}

namespace {

constexpr std::size_t kNameChars = 16;  // every line and flight text fits 15 characters

// Codes as int64, C-contiguous (any integer array converts; others are refused by numpy's rules).
py::array_t<int64_t, py::array::c_style | py::array::forcecast> codeArray(const py::array& codes) {
    if (codes.dtype().kind() != 'i' && codes.dtype().kind() != 'u')
        throw py::type_error("codes must be integers");
    return py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(codes);
}

py::array encodeLines(const py::array& names) {
    py::array text = textArray(names);
    py::array out = arrayLike(text, "int64");
    auto* pOut = static_cast<int64_t*>(out.mutable_data());
    forEachText(text, [pOut](char* szName, std::size_t i) { ToIntLineNo(szName, &pOut[i]); });
    return out;
}

py::array encodeFlights(const py::array& names) {
    py::array text = textArray(names);
    py::array out = arrayLike(text, "int64");
    auto* pOut = static_cast<int64_t*>(out.mutable_data());
    forEachText(text, [pOut](char* szName, std::size_t i) {
        int32_t lCode = 0;
        ToIntFlightNo(szName, &lCode);
        pOut[i] = lCode;
    });
    return out;
}

// The text of each code as the library writes it ("DUMMY" for a code it cannot print).
template <class Write>
py::array decodeCodes(const py::array& codes, Write write) {
    auto in = codeArray(codes);
    py::array out = arrayLike(in, "<U16");
    const int64_t* pIn = in.data();
    auto* pOut = static_cast<uint32_t*>(out.mutable_data());
    const std::size_t nCount = static_cast<std::size_t>(in.size());
    {
        py::gil_scoped_release release;
        char szText[kNameChars + 1];
        for (std::size_t i = 0; i < nCount; ++i) {
            write(pIn[i], szText);
            putText(pOut, i, szText, kNameChars);
        }
    }
    return out;
}

py::array decodeLines(const py::array& codes) {
    return decodeCodes(codes, [](int64_t llCode, char* szText) { ToCharLineNo(llCode, szText, kNameChars + 1); });
}

py::array decodeFlights(const py::array& codes) {
    return decodeCodes(codes, [](int64_t llCode, char* szText) {
        // A flight code is 32 bits; a wider value is no flight code at all.
        const bool bFits = llCode >= std::numeric_limits<int32_t>::min() && llCode <= std::numeric_limits<int32_t>::max();
        ToCharFlightNo(bFits ? static_cast<int32_t>(llCode) : -32767, szText, kNameChars + 1);
    });
}

py::tuple splitCodes(const py::array& codes) {
    auto in = codeArray(codes);
    py::array number = arrayLike(in, "int64"), type = arrayLike(in, "int16"), area = arrayLike(in, "int16");
    const int64_t* pIn = in.data();
    auto* pNumber = static_cast<int64_t*>(number.mutable_data());
    auto* pType = static_cast<int16_t*>(type.mutable_data());
    auto* pArea = static_cast<int16_t*>(area.mutable_data());
    const std::size_t nCount = static_cast<std::size_t>(in.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < nCount; ++i) SplitIntLineNo(pIn[i], &pNumber[i], &pType[i], &pArea[i]);
    }
    return py::make_tuple(number, type, area);
}

py::tuple splitNames(const py::array& names) {
    py::array text = textArray(names);
    py::array number = arrayLike(text, "<U16"), type = arrayLike(text, "<U1"), area = arrayLike(text, "<U2"),
              ok = arrayLike(text, "bool");
    auto* pNumber = static_cast<uint32_t*>(number.mutable_data());
    auto* pType = static_cast<uint32_t*>(type.mutable_data());
    auto* pArea = static_cast<uint32_t*>(area.mutable_data());
    auto* pOk = static_cast<bool*>(ok.mutable_data());
    forEachText(text, [&](char* szName, std::size_t i) {
        char szNumber[kNameChars + 1] = {}, szArea[3] = {}, szType[2] = {};
        pOk[i] = SplitCharLineNo(szName, szNumber, kNameChars + 1, &szType[0], szArea, 3);
        putText(pNumber, i, szNumber, kNameChars);
        putText(pType, i, szType, 1);
        putText(pArea, i, szArea, 2);
    });
    return py::make_tuple(number, type, area, ok);
}

}  // namespace

void bindCodecs(py::module_& m) {
    m.def("line_encode", &encodeLines, py::arg("names"));
    m.def("line_decode", &decodeLines, py::arg("codes"));
    m.def("line_split_codes", &splitCodes, py::arg("codes"));
    m.def("line_split_names", &splitNames, py::arg("names"));
    m.def("flight_encode", &encodeFlights, py::arg("names"));
    m.def("flight_decode", &decodeFlights, py::arg("codes"));
}

}  // namespace qrpy
