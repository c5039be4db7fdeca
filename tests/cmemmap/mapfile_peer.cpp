// A second process for the sharing tests: opens a mapping by name, reads and writes through a
// view, creates a named mapping and dies without releasing it, maps memory or a file under a
// name another process may hold, or tries to cut a file another process maps.
//   mapfile_peer open <name> <offset> <length> <text-to-write or ->   prints "size=<n> data=<bytes>"
//   mapfile_peer die <name> <size> <text>                              creates, writes, ends at once (9)
//   mapfile_peer memory <name> <size> <append-null 0|1>                MapMemory, one view over all
//   mapfile_peer mapfile <folder> <path> <append-null 0|1>             MapFile from that folder
//   mapfile_peer cut <operation> <path>                                 one operation of mapfile_cut_ops.h
// The last three print "ok size=<mapping size> view=<view size>" (or "ok" for cut), or
// "failed <error number> <text of the last notice>".
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mapfile_cut_ops.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/mapfile.h"
#include "qrcore/notice.h"

namespace {

std::string g_sLastNotice;
bool g_bRecord = false;

bool quiet(QR_NoticeKind kind, const char*, const char* szText, void*) {
    if (g_bRecord) {
        g_sLastNotice = szText != nullptr ? szText : "";
        return kind == QR_NoticeQuestion;  // the overwrite question is answered with OK
    }
    std::printf("notice: %s\n", szText);
    return false;
}

int failed() {
    std::printf("failed %d %s\n", GetDllErrorNo(), g_sLastNotice.c_str());
    return 1;
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

// One view over everything the object holds (cut at its data end), which in append-null mode
// writes the two terminator bytes.
int viewAll(CxMapFile& map) {
    if (!map.SetView(0, 0, INT32_MAX)) return failed();
    std::printf("ok size=%lld view=%d\n", static_cast<long long>(map.GetMappingSize()), map.GetView(0)->lSize);
    map.FreeView();
    return 0;
}

int cut(const std::string& sHow, const char* szPath) {
    if (!mftest::cutFile(sHow, szPath)) return failed();
    std::printf("ok\n");
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
    g_bRecord = true;
    if (argc == 5 && std::strcmp(argv[1], "memory") == 0) {
        CxMapFile map;
        if (!map.MapMemory(std::atoll(argv[3]), std::strcmp(argv[4], "1") == 0, false, argv[2])) return failed();
        return viewAll(map);
    }
    if (argc == 5 && std::strcmp(argv[1], "mapfile") == 0) {
        if (::chdir(argv[2]) != 0) return 2;
        CxMapFile map;
        if (!map.MapFile(argv[3], std::strcmp(argv[4], "1") == 0, false, false)) return failed();
        return viewAll(map);
    }
    if (argc == 4 && std::strcmp(argv[1], "cut") == 0) return cut(argv[2], argv[3]);
    std::fprintf(stderr, "usage: mapfile_peer open|die|memory|mapfile|cut ... (see the source)\n");
    return 2;
}
