// Python package qrcore: the library's EBCDIC, BCD, angle and time conversions over whole
// buffers and numpy arrays, without the GIL.
#include <array>
#include <cstdint>
#include <cstring>

#include "qrcore/convert.h"
#include "text_arrays.h"

namespace qrpy {

namespace {

using ByteTable = std::array<unsigned char, 256>;

// The library's translation of every byte, asked once per byte; the zero byte (its texts'
// terminator) stays zero, so a buffer keeps its length and its zero bytes.
template <int32_t (*Translate)(char*)>
const ByteTable& tableOf() {
    static const ByteTable s_table = [] {
        ByteTable table{};
        for (int b = 1; b < 256; ++b) {
            char szText[2] = {static_cast<char>(b), '\0'};
            Translate(szText);
            table[static_cast<std::size_t>(b)] = static_cast<unsigned char>(szText[0]);
        }
        return table;
    }();
    return s_table;
}

void translate(const unsigned char* pIn, unsigned char* pOut, std::size_t nLength, const ByteTable& table) {
    py::gil_scoped_release release;
    for (std::size_t i = 0; i < nLength; ++i) pOut[i] = table[pIn[i]];
}

// Translates any contiguous buffer of bytes; bytes come back as bytes, anything else as a
// numpy uint8 array of the buffer's shape.
py::object translateBuffer(const py::buffer& data, const ByteTable& table) {
    py::buffer_info info = data.request();
    if (info.itemsize != 1) throw py::type_error("the data must be bytes or an array of uint8");
    py::array in = py::array::ensure(py::array(py::dtype("uint8"), info.shape, info.strides, info.ptr, data),
                                     py::array::c_style);
    const std::size_t nLength = static_cast<std::size_t>(in.size());
    if (py::isinstance<py::bytes>(data) || py::isinstance<py::bytearray>(data)) {
        py::object out = py::reinterpret_steal<py::object>(PyBytes_FromStringAndSize(nullptr, static_cast<py::ssize_t>(nLength)));
        if (!out) throw py::error_already_set();
        auto* pOut = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(out.ptr()));
        translate(static_cast<const unsigned char*>(in.data()), pOut, nLength, table);
        return out;
    }
    py::array out = arrayLike(in, "uint8");
    translate(static_cast<const unsigned char*>(in.data()), static_cast<unsigned char*>(out.mutable_data()), nLength, table);
    return out;
}

// BcdTol over the last axis of a uint8 array: one int32 per row.
py::array bcdRows(const py::array_t<uint8_t, py::array::c_style | py::array::forcecast>& data) {
    if (data.ndim() == 0) throw py::value_error("BCD data needs at least one axis");
    const py::ssize_t nWidth = data.shape(data.ndim() - 1);
    if (nWidth > INT32_MAX) throw py::value_error("BCD rows are too wide");
    std::vector<py::ssize_t> shape(data.shape(), data.shape() + data.ndim() - 1);
    py::array_t<int32_t> out(shape);
    const uint8_t* pIn = data.data();
    int32_t* pOut = out.mutable_data();
    const std::size_t nRows = static_cast<std::size_t>(out.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < nRows; ++i)
            pOut[i] = BcdTol(pIn + i * static_cast<std::size_t>(nWidth), static_cast<int32_t>(nWidth));
    }
    return out;
}

using Conversion = double(QR_CALL*)(double);

py::array convertAll(const py::array_t<double, py::array::c_style | py::array::forcecast>& values, Conversion fn) {
    py::array out = arrayLike(values, "float64");
    const double* pIn = values.data();
    auto* pOut = static_cast<double*>(out.mutable_data());
    const std::size_t nCount = static_cast<std::size_t>(values.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < nCount; ++i) pOut[i] = fn(pIn[i]);
    }
    return out;
}

struct NamedConversion {
    const char* szName;
    Conversion fn;
};
const NamedConversion kConversions[] = {
    {"second_to_hms", &SecondToHMS},     {"hms_to_second", &HMSToSecond},   {"hms_to_hour", &HMSToHour},
    {"hour_to_hms", &HourToHMS},         {"second_to_dms", &SecondToDMS},   {"dms_to_second", &DMSToSecond},
    {"dms_to_degree", &DMSToDegree},     {"degree_to_dms", &DegreeToDMS},   {"dms_to_radian", &DMSToRadian},
    {"radian_to_dms", &RadianToDMS},     {"degree_to_radian", &DegreeToRadian}, {"radian_to_degree", &RadianToDegree},
    {"second_to_radian", &SecondToRadian}, {"radian_to_second", &RadianToSecond}, {"dm_to_degree", &DMToDegree},
    {"degree_to_dm", &DegreeToDM},       {"dm_to_radian", &DMToRadian},     {"radian_to_dm", &RadianToDM},
    {"dm_to_dms", &DMToDMS},             {"dms_to_dm", &DMSToDM},
};

}  // namespace

void bindConvert(py::module_& m) {
    m.def("ebcdic_to_ascii", [](const py::buffer& data) { return translateBuffer(data, tableOf<&EbcdicToAscii>()); });
    m.def("ascii_to_ebcdic", [](const py::buffer& data) { return translateBuffer(data, tableOf<&AsciiToEbcdic>()); });
    m.def("bcd_rows", &bcdRows);
    py::list names;
    for (const NamedConversion& conversion : kConversions) {
        Conversion fn = conversion.fn;
        m.def(conversion.szName, [fn](const py::array_t<double, py::array::c_style | py::array::forcecast>& values) {
            return convertAll(values, fn);
        });
        names.append(conversion.szName);
    }
    m.attr("angle_time_conversions") = names;
}

}  // namespace qrpy
