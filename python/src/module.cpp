// Python package qrcore: the extension module _qrcore, which the package's modules wrap.
#include "bindings.h"

PYBIND11_MODULE(_qrcore, m) {
    m.doc() = "QRCore's library functions for the qrcore package (use the package, not this module).";
    qrpy::bindErrors(m);
    qrpy::bindCodecs(m);
    qrpy::bindConvert(m);
    qrpy::bindFiles(m);
    qrpy::bindMapFile(m);
    qrpy::bindSegy(m);
    qrpy::bindXyz(m);
}
