// Python package qrcore: XYZ survey files through the text scanner.
#include "bindings.h"

namespace qrpy {

void bindXyz(py::module_& m) { (void)m; }

}  // namespace qrpy
