// CxMapFile as a debug build: broken preconditions stop with an assertion naming the source unit
// and its line, and an empty file is traced.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "qrcore/fileapi.h"
#include "qrcore/mapfile.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

// The line of the first occurrence of sText in the class's source.
int sourceLine(const std::string& sText) {
    std::ifstream in(CXMAPFILE_SOURCE);
    std::string sLine;
    for (int n = 1; std::getline(in, sLine); ++n)
        if (sLine.find(sText) != std::string::npos) return n;
    return -1;
}

std::string assertionPattern(const std::string& sCall) {
    const int nLine = sourceLine("QR_MAPFILE_ASSERT(" + sCall);
    EXPECT_GT(nLine, 0) << sCall;
    return "cmemmap\\\\cxmapfile\\(" + std::to_string(nLine) + "\\): assertion failed: " + sCall;
}

TEST(MapFileDebug, BrokenPreconditionsAreAsserted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    qrtest::RecordingNotices notices;
    struct Row {
        const char* szWhat;
        const char* szAssert;
        void (*pfnCall)();
    };
    const Row rows[] = {
        {"MapMemory size 0", "llSize > 0", [] { CxMapFile().MapMemory(0, false, false, nullptr); }},
        {"CreateMapping size -1", "llSize >= 0", [] { CxMapFile().CreateMapping(-1); }},
        {"SetView id -1", "lViewID >= 0", [] { CxMapFile().SetView(-1, 0, 10); }},
        {"SetView offset -1", "lViewID >= 0", [] { CxMapFile().SetView(0, -1, 10); }},
        {"SetView size 0", "lViewID >= 0", [] { CxMapFile().SetView(0, 0, 0); }},
        {"MapView size 0", "view.llOffset >= 0", [] {
             CxMapFile map;
             _tagMemView view{0, 0, 0, 0, nullptr, nullptr, false};
             map.MapView(view);
         }},
        {"MapView offset -5", "view.llOffset >= 0", [] {
             CxMapFile map;
             _tagMemView view{0, -5, 0, 10, nullptr, nullptr, false};
             map.MapView(view);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        EXPECT_DEATH(row.pfnCall(), assertionPattern(row.szAssert));
    }
    // Valid calls pass the checks.
    CxMapFile map;
    EXPECT_TRUE(map.MapMemory(4096, false, false, nullptr));
    EXPECT_TRUE(map.SetView(0, 10, 10));
    map.FreeView();
}

TEST(MapFileDebug, EmptyFileIsTraced) {
    qrtest::RecordingNotices notices;
    qrtest::ScratchDir dir;
    const std::string sPath = dir.file("empty.dat");
    qrtest::writeFileText(sPath, "");
    CxMapFile map;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(map.MapFile(sPath.c_str(), false, false, false));
    const std::string sErr = ::testing::internal::GetCapturedStderr();
    const int nLine = sourceLine("QR_MAPFILE_TRACE(\"File size is 0");
    ASSERT_GT(nLine, 0);
    EXPECT_EQ(sErr, "cmemmap\\cxmapfile(" + std::to_string(nLine) +
                        "): File size is 0, not attempting to memory map the file\n");
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_TRUE(map.GetReadOlny());
}

}  // namespace
