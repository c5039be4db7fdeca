// A second process for the sharing tests: opens a mapping by name, reads and writes through a
// view, or creates a named mapping and dies without releasing it.
//   mapfile_peer open <name> <offset> <length> <text-to-write or ->   prints "size=<n> data=<bytes>"
//   mapfile_peer die <name> <size> <text>                              creates, writes, ends at once (9)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "qrcore/error.h"
#include "qrcore/mapfile.h"
#include "qrcore/notice.h"

namespace {

bool quiet(QR_NoticeKind, const char*, const char* szText, void*) {
    std::printf("notice: %s\n", szText);
    return false;
}

int openAndUse(const char* szName, int64_t llOffset, int32_t lLength, const char* szWrite) {
    CxMapFile map;
    if (!map.OpenMapping(szName, std::strcmp(szWrite, "-") == 0)) {
        std::printf("open failed %d\n", GetDllErrorNo());
        return 1;
    }
    if (!map.SetView(0, llOffset, lLength)) {
        std::printf("view failed %d\n", GetDllErrorNo());
        return 1;
    }
    const _tagMemView* pView = map.GetView(0);
    // The view starts at the aligned offset; the requested bytes lie further in.
    char* p = static_cast<char*>(map.UseView(0)) + (llOffset - pView->llOffset);
    std::printf("size=%lld data=%.*s\n", static_cast<long long>(map.GetMappingSize()), static_cast<int>(lLength), p);
    if (std::strcmp(szWrite, "-") != 0) {
        std::memcpy(p, szWrite, std::strlen(szWrite));
        map.Flush(*map.GetView(0));
    }
    map.FreeView();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QR_SetNoticeHandler(quiet, nullptr);
    if (argc == 6 && std::strcmp(argv[1], "open") == 0)
        return openAndUse(argv[2], std::atoll(argv[3]), std::atoi(argv[4]), argv[5]);
    if (argc == 5 && std::strcmp(argv[1], "die") == 0) {
        static CxMapFile map;
        if (!map.MapMemory(std::atoll(argv[3]), false, false, argv[2]) || !map.SetView(0, 0, 16)) return 1;
        std::memcpy(map.UseView(0), argv[4], std::strlen(argv[4]));
        std::fflush(stdout);
        // Ends as a killed process would: no destructor, no exit handler, nothing released.
        std::_Exit(9);
    }
    std::fprintf(stderr, "usage: mapfile_peer open <name> <offset> <length> <text|-> | die <name> <size> <text>\n");
    return 2;
}
