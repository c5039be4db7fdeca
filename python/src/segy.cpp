// Python package qrcore: the sample conversion SEG-Y needs beyond numpy's own byte orders: IBM
// System/360 single-precision floats to IEEE float32, over mapped trace data, without the GIL.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "bindings.h"

namespace qrpy {

namespace {

// One big-endian IBM float: sign, a base-16 exponent e biased by 64 and a 24-bit fraction f,
// the value f * 16^(e - 64) / 2^24. That power of two, with the sign, is built directly as a
// double (its exponent field 4e + 743 is always a normal one); the product with the fraction is
// exact, so the one rounding is the cast to float: values beyond float32's range become +-inf,
// tiny ones +-0 or denormals, as they round. No branch and no table, so loops vectorise.
inline float ibmToFloat(const unsigned char* p) {
    uint32_t nBits;
    std::memcpy(&nBits, p, 4);
    nBits = __builtin_bswap32(nBits);
    const uint64_t llScale = (uint64_t{nBits >> 31} << 63) | (uint64_t{((nBits >> 24) & 0x7F) * 4 + 743} << 52);
    double dScale;
    std::memcpy(&dScale, &llScale, 8);
    return static_cast<float>(static_cast<double>(nBits & 0x00FFFFFFu) * dScale);
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
