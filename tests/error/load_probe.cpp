// Prints a marker from main and reports one error, so the load tests can tell whether the
// library let the program start.
#include <cstdio>

#include "qrcore/error.h"

int main() {
    std::printf("main ran\n");
    CloseErrorWin();
    ReportError(1000003);
    std::printf("error %d\n", GetDllErrorNo());
    return 3;
}
