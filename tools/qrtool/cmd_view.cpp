// qrtool: a hex and text dump of a range of a file, read through mapped views.
#include <algorithm>
#include <memory>

#include "commands.h"
#include "ebcdic_text.h"
#include "per_file.h"
#include "qrcore/error.h"
#include "qrcore/mapfile.h"

namespace qrtool {

namespace {

// Views are mapped a window at a time, so a dump of any length holds bounded address space.
constexpr int64_t kWindow = 16 << 20;

// The character the text column shows for each byte: printable ASCII as it is, or with
// --ebcdic the byte's character in the code page (037 unless --codepage names another) when that
// is printable ASCII; '.' for everything else.
struct TextColumn {
    char aChar[256];
    std::string sName;  // what the column shows: "ASCII" or the code page's label
    explicit TextColumn(const Codepage* pCodepage) : sName(pCodepage != nullptr ? pCodepage->szLabel : "ASCII") {
        for (int b = 0; b < 256; ++b) {
            const unsigned c = pCodepage != nullptr ? pCodepage->aChar[b] : static_cast<unsigned>(b);
            aChar[b] = c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '.';
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

// One row as JSON: its offset, the bytes in hexadecimal and the text column.
void jsonRow(Listing& listing, int64_t llAddress, const unsigned char* p, std::size_t n, const TextColumn& column) {
    std::string sHex, sText;
    for (std::size_t i = 0; i < n; ++i) {
        char szByte[4];
        std::snprintf(szByte, sizeof szByte, i == 0 ? "%02x" : " %02x", p[i]);
        sHex += szByte;
        sText += column.aChar[p[i]];
    }
    listing.row({number("offset", llAddress), text("hex", sHex), text("text", sText)});
}

// Dumps one file's range; with --json one object holding the rows.
int viewOne(const Options& options, const std::string& sPath, int64_t llOffset, int64_t llSize, const TextColumn& column) {
    if (!regularOrMissing("view", sPath, "only a regular file can be mapped")) return kExitFailed;
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
    if (!map.MapFile(sPath.c_str(), false, true, false)) return failLibrary("view: " + sPath);
    const int64_t llEnd = map.GetMappingSize();
    if (llOffset >= llEnd) {
        return fail(kExitFailed, "view: " + sPath + ": offset " + std::to_string(llOffset) +
                                     " is at or beyond the end of the file (" + std::to_string(llEnd) + " bytes)");
    }
    llSize = std::min(llSize, llEnd - llOffset);
    std::unique_ptr<Listing> pJson;
    if (options.bJson)
        pJson = std::make_unique<Listing>(options, false,
                                          std::vector<Field>{text("file", sPath), number("offset", llOffset),
                                                             number("size", llSize), text("text_encoding", column.sName)},
                                          "rows");
    for (int64_t llPos = llOffset; llPos < llOffset + llSize;) {
        const int64_t llLength = std::min(kWindow, llOffset + llSize - llPos);
        ReportError(0);
        if (!map.SetView(1, llPos, static_cast<int32_t>(llLength))) return failLibrary("view: " + sPath);
        const auto* pBase = static_cast<const unsigned char*>(map.UseView(1));
        if (pBase == nullptr) return failLibrary("view: " + sPath);
        // The view starts at the aligned offset at or before llPos.
        const unsigned char* pData = pBase + (llPos - map.GetMapViewStart());
        for (int64_t i = 0; i < llLength && !outputFailed(); i += 16) {
            const auto n = static_cast<std::size_t>(std::min<int64_t>(16, llLength - i));
            if (pJson) jsonRow(*pJson, llPos + i, pData + i, n, column);
            else dumpRow(llPos + i, pData + i, n, column);
        }
        map.FreeView(1);
        if (outputFailed()) break;  // reported once, at the end of the run
        llPos += llLength;
    }
    return kExitOk;
}

}  // namespace

int runView(const Options& options, const Args& args) {
    if (args.size() < 3) return fail(kExitUsage, "view: expected FILE... OFFSET SIZE (see qrtool view --help)");
    const std::string& sOffset = args[args.size() - 2];
    const std::string& sSize = args.back();
    int64_t llOffset = 0, llSize = 0;
    if (!parseSize(sOffset, llOffset)) return fail(kExitUsage, "view: '" + sOffset + "' is not an offset");
    if (!parseSize(sSize, llSize)) return fail(kExitUsage, "view: '" + sSize + "' is not a size");
    // A code page asks for EBCDIC by itself.
    const Codepage* pCodepage = nullptr;
    if (!findCodepage(options.sCodepage, pCodepage))
        return fail(kExitUsage, "view: --codepage '" + options.sCodepage + "' is not one of 037, 1047, table");
    if (options.bEbcdic && pCodepage == nullptr) pCodepage = &defaultCodepage();
    const TextColumn column(pCodepage);
    return forEachFile(options, Args(args.begin(), args.end() - 2),
                       [&](const std::string& sPath) { return viewOne(options, sPath, llOffset, llSize, column); });
}

}  // namespace qrtool
