// Python package qrcore: the sample conversion SEG-Y needs beyond numpy's own byte orders: IBM
// System/360 single-precision floats to IEEE float32, over mapped trace data, without the GIL.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "bindings.h"

namespace qrpy {

namespace {

// One big-endian IBM float: sign, a base-16 exponent biased by 64 and a 24-bit fraction.
// Values beyond float32's range become +-inf, values below it +-0 (or a denormal), as the
// exact value rounds.
inline float ibmToFloat(const unsigned char* p) {
    const uint32_t nBits = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    const uint32_t nFraction = nBits & 0x00FFFFFFu;
    if (nFraction == 0) return (nBits & 0x80000000u) != 0 ? -0.0f : 0.0f;
    // 16^(e - 64) / 2^24 for every exponent, exact in double; the product is exact too, so the
    // one rounding is the cast to float.
    static const auto s_scale = [] {
        std::array<double, 128> scale{};
        for (int e = 0; e < 128; ++e) scale[static_cast<std::size_t>(e)] = std::ldexp(1.0, 4 * (e - 64) - 24);
        return scale;
    }();
    const double dValue = static_cast<double>(nFraction) * s_scale[(nBits >> 24) & 0x7F];
    return static_cast<float>((nBits & 0x80000000u) != 0 ? -dValue : dValue);
}

// Converts the rows of src (uint8, rows of nSamples * 4 bytes at any row stride) into out
// (float32, C-contiguous, rows x nSamples).
void ibmRows(const py::array& src, py::array_t<float, py::array::c_style>& out) {
    if (src.dtype().kind() != 'u' || src.itemsize() != 1 || src.ndim() != 2 || src.strides(1) != 1)
        throw py::type_error("the source must be a 2-D uint8 array of contiguous rows");
    if (out.ndim() != 2 || out.shape(0) != src.shape(0) || out.shape(1) * 4 != src.shape(1))
        throw py::value_error("the output must be float32 of shape (rows, row bytes / 4)");
    const auto* pSrc = static_cast<const unsigned char*>(src.data());
    float* pOut = out.mutable_data();
    const py::ssize_t nRows = src.shape(0), nSamples = out.shape(1), nStride = src.strides(0);
    py::gil_scoped_release release;
    for (py::ssize_t r = 0; r < nRows; ++r) {
        const unsigned char* pRow = pSrc + r * nStride;
        float* pOutRow = pOut + r * nSamples;
        for (py::ssize_t k = 0; k < nSamples; ++k) pOutRow[k] = ibmToFloat(pRow + 4 * k);
    }
}

}  // namespace

void bindSegy(py::module_& m) { m.def("segy_ibm_rows", &ibmRows, py::arg("src"), py::arg("out")); }

}  // namespace qrpy
