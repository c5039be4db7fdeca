// qrtool: a hex and text dump of a range of a file, read through mapped views.
#include <algorithm>

#include "commands.h"
#include "qrcore/convert.h"
#include "qrcore/error.h"
#include "qrcore/mapfile.h"

namespace qrtool {

namespace {

// Views are mapped a window at a time, so a dump of any length holds bounded address space.
constexpr int64_t kWindow = 16 << 20;

// The character the text column shows for each byte: printable ASCII as it is, or with
// --ebcdic the byte read through the library's EBCDIC table (an EBCDIC blank as a blank); '.'
// for everything else.
struct TextColumn {
    char aChar[256];
    explicit TextColumn(bool bEbcdic) {
        for (int b = 0; b < 256; ++b) {
            char c = static_cast<char>(b);
            if (bEbcdic && b != 0) {
                char sz[2] = {c, '\0'};
                EbcdicToAscii(sz);
                c = b == 0x40 || sz[0] != ' ' ? sz[0] : '.';
            }
            const auto uc = static_cast<unsigned char>(c);
            aChar[b] = uc >= 0x20 && uc < 0x7f ? c : '.';
        }
    }
};

void dumpRow(int64_t llAddress, const unsigned char* p, std::size_t n, const TextColumn& column) {
    char szRow[128];
    int nAt = std::snprintf(szRow, sizeof szRow, "%012llx ", static_cast<unsigned long long>(llAddress));
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 8) szRow[nAt++] = ' ';
        if (i < n)
            nAt += std::snprintf(szRow + nAt, sizeof szRow - static_cast<std::size_t>(nAt), " %02x", p[i]);
        else
            nAt += std::snprintf(szRow + nAt, sizeof szRow - static_cast<std::size_t>(nAt), "   ");
    }
    nAt += std::snprintf(szRow + nAt, sizeof szRow - static_cast<std::size_t>(nAt), "  |");
    for (std::size_t i = 0; i < n; ++i) szRow[nAt++] = column.aChar[p[i]];
    szRow[nAt++] = '|';
    szRow[nAt++] = '\n';
    writeOut(szRow, static_cast<std::size_t>(nAt));
}

}  // namespace

int runView(const Options& options, const Args& args) {
    if (args.size() != 3) return fail(kExitUsage, "view: expected FILE OFFSET SIZE (see qrtool view --help)");
    int64_t llOffset = 0, llSize = 0;
    if (!parseSize(args[1], llOffset)) return fail(kExitUsage, "view: '" + args[1] + "' is not an offset");
    if (!parseSize(args[2], llSize)) return fail(kExitUsage, "view: '" + args[2] + "' is not a size");

    CxMapFile map;
    // The object does not release its view list by itself.
    struct ViewsReleased {
        CxMapFile& map;
        ~ViewsReleased() {
            map.FreeView();
            map.UnMap();
        }
    } release{map};
    ReportError(0);
    if (!map.MapFile(args[0].c_str(), false, true, false)) return failLibrary("view: " + args[0]);
    const int64_t llEnd = map.GetMappingSize();
    if (llOffset >= llEnd) {
        return fail(kExitFailed, "view: " + args[0] + ": offset " + std::to_string(llOffset) +
                                     " is at or beyond the end of the file (" + std::to_string(llEnd) + " bytes)");
    }
    llSize = std::min(llSize, llEnd - llOffset);
    const TextColumn column(options.bEbcdic);
    for (int64_t llPos = llOffset; llPos < llOffset + llSize;) {
        const int64_t llLength = std::min(kWindow, llOffset + llSize - llPos);
        ReportError(0);
        if (!map.SetView(1, llPos, static_cast<int32_t>(llLength))) return failLibrary("view: " + args[0]);
        const auto* pBase = static_cast<const unsigned char*>(map.UseView(1));
        if (pBase == nullptr) return failLibrary("view: " + args[0]);
        // The view starts at the aligned offset at or before llPos.
        const unsigned char* pData = pBase + (llPos - map.GetMapViewStart());
        for (int64_t i = 0; i < llLength && !outputFailed(); i += 16)
            dumpRow(llPos + i, pData + i, static_cast<std::size_t>(std::min<int64_t>(16, llLength - i)), column);
        map.FreeView(1);
        if (outputFailed()) break;  // reported once, at the end of the run
        llPos += llLength;
    }
    return kExitOk;
}

}  // namespace qrtool
