// Test helper for the space tests: a second real process that runs one space function on a file
// and prints "<1|0> <error number> <last system error>" on standard output.
//   space_child [--fsize-limit N] FILE allocate POS SIZE
//   space_child [--fsize-limit N] FILE free POS SIZE
//   space_child [--fsize-limit N] FILE move SRC DST LENGTH
//   space_child [--fsize-limit N] FILE zero POS SIZE
// --fsize-limit: the process may not write files larger than N bytes (writes past it fail).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "support/child.h"

namespace {

int64_t number(const char* szText) { return std::strtoll(szText, nullptr, 0); }

bool runEdit(void* hFile, const std::string& sOp, const std::vector<int64_t>& values) {
    if (sOp == "allocate" && values.size() == 2) return AllocateDiskSpace(hFile, values[0], values[1]);
    if (sOp == "free" && values.size() == 2) return FreeDiskSpace(hFile, values[0], values[1]);
    if (sOp == "zero" && values.size() == 2) return InitiateSpaceIntoZero(hFile, values[0], values[1]);
    if (sOp == "move" && values.size() == 3) {
        const _tagMoveData move{values[0], values[1], values[2]};
        return MoveData(hFile, &move);
    }
    std::fprintf(stderr, "space_child: unknown operation %s\n", sOp.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    CloseErrorWin();
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (i + 1 >= argc) return 2;
        if (std::strcmp(argv[i], "--fsize-limit") == 0) {
            if (!qrtest::limitFileSize(number(argv[i + 1]))) return 3;
        } else {
            return 2;
        }
    }
    if (argc - i < 2) return 2;
    const char* szFile = argv[i];
    const std::string sOp = argv[i + 1];
    std::vector<int64_t> values;
    for (int j = i + 2; j < argc; ++j) values.push_back(number(argv[j]));

    void* hFile = nullptr;
    if (!QR_OpenFile(&hFile, szFile, 0)) {
        std::printf("0 %d %u\n", GetDllErrorNo(), qr::sys::lastError());
        return 0;
    }
    ReportError(0);
    const bool bOk = runEdit(hFile, sOp, values);
    const uint32_t nLast = qr::sys::lastError();
    std::printf("%d %d %u\n", bOk ? 1 : 0, GetDllErrorNo(), bOk ? 0u : nLast);
    QR_CloseFile(hFile);
    return 0;
}
