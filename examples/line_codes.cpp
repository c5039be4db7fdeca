// Decodes survey line names given on the command line and prints their codes and parts.
#include <cstdio>
#include <cstring>
#include <vector>

#include <qrcore/qrcore.h>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::vector<char> name(argv[i], argv[i] + std::strlen(argv[i]) + 1);  // edited in place
        int64_t llCode = 0;
        if (!ToIntLineNo(name.data(), &llCode)) {
            std::fprintf(stderr, "%s: not a line name\n", argv[i]);
            return 1;
        }
        char szText[32];
        ToCharLineNo(llCode, szText, sizeof szText);
        std::printf("%s -> %lld (type %d, area %d) -> %s\n", argv[i], static_cast<long long>(llCode),
                    GetIntLineType(llCode), GetIntLineArea(llCode), szText);
    }
    return 0;
}
