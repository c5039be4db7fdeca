// Python package qrcore: what the binding sources share (the error bridge, array helpers and the
// per-area registration functions of the extension module _qrcore).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace qrpy {

namespace py = pybind11;

// A failure the library reported: its error number, the text its notice carried on this thread
// and the system's error code when the text is one of the system's (0 otherwise). Turned into a
// qrcore.Error (or one of its OSError subclasses) when it reaches Python.
struct LibraryError {
    int32_t lNumber;
    std::string sText;
    int nSystemCode;
};

// Clears this thread's record of the last notice; call before a library call whose failure is
// to be raised.
void clearNotice();
// The library's last failure as seen from this thread: the error number and the text of the
// notice this thread received (the library's own text when none came).
[[noreturn]] void throwLibraryError(const std::string& sContext = {});
// The overwrite question's answer for library calls on this thread while the guard lives.
class OverwriteAnswer {
public:
    explicit OverwriteAnswer(bool bOverwrite);
    ~OverwriteAnswer();
    OverwriteAnswer(const OverwriteAnswer&) = delete;
    OverwriteAnswer& operator=(const OverwriteAnswer&) = delete;

private:
    bool m_bPrevious;
};

// A path argument as the library wants it: bytes as given, str through the file-system encoding.
std::string pathArgument(const py::object& path);

void bindErrors(py::module_& m);
void bindCodecs(py::module_& m);
void bindConvert(py::module_& m);
void bindFiles(py::module_& m);
void bindMapFile(py::module_& m);
void bindSegy(py::module_& m);
void bindXyz(py::module_& m);

}  // namespace qrpy
