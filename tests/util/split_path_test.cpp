// Splitting paths into drive, directory, base name and extension, and the buffer-size rules.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "qrcore/util.h"

namespace {

struct Split {
    int32_t nResult;
    std::string sDrive, sDir, sName, sExt;
};

Split split(const char* szPath, uint32_t nSize = 260) {
    char szDrive[260], szDir[260], szName[260], szExt[260];
    std::memset(szDrive, '#', sizeof szDrive);
    std::memset(szDir, '#', sizeof szDir);
    std::memset(szName, '#', sizeof szName);
    std::memset(szExt, '#', sizeof szExt);
    Split result;
    result.nResult = SplitPath(szPath, szDrive, nSize, szDir, nSize, szName, nSize, szExt, nSize);
    result.sDrive = szDrive;
    result.sDir = szDir;
    result.sName = szName;
    result.sExt = szExt;
    return result;
}

TEST(SplitPath, SplitsIntoDriveDirectoryNameAndExtension) {
    const struct {
        const char* szPath;
        const char* szDrive;
        const char* szDir;
        const char* szName;
        const char* szExt;
    } rows[] = {
        {"C:\\data\\line1000.dat", "C:", "\\data\\", "line1000", ".dat"},
        {"/home/survey/flight.12.xyz", "", "/home/survey/", "flight.12", ".xyz"},
        {"d:name", "d:", "", "name", ""},
        {"relative/dir\\mixed/file", "", "relative/dir\\mixed/", "file", ""},
        {"dir.with.dots/file", "", "dir.with.dots/", "file", ""},
        {"file.", "", "", "file", "."},
        {".profile", "", "", "", ".profile"},
        {"a/..", "", "a/", ".", "."},
        {"/", "", "/", "", ""},
        {"", "", "", "", ""},
        {"C:", "C:", "", "", ""},
        {"C:\\", "C:", "\\", "", ""},
        {"x", "", "", "x", ""},
        {":x", "", "", ":x", ""},
        {"ab:c", "", "", "ab:c", ""},
        {"/a/b.c/", "", "/a/b.c/", "", ""},
        {"\xD6\xD0\xCE\xC4/\xCE\xC4.txt", "", "\xD6\xD0\xCE\xC4/", "\xCE\xC4", ".txt"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szPath);
        const Split s = split(row.szPath);
        EXPECT_EQ(s.nResult, 0);
        EXPECT_EQ(s.sDrive, row.szDrive);
        EXPECT_EQ(s.sDir, row.szDir);
        EXPECT_EQ(s.sName, row.szName);
        EXPECT_EQ(s.sExt, row.szExt);
        EXPECT_EQ(s.sDrive + s.sDir + s.sName + s.sExt, row.szPath);  // nothing lost or doubled
    }
}

TEST(SplitPath, PartsCanBeSkipped) {
    char szName[16], szExt[16];
    EXPECT_EQ(SplitPath("C:/a/b.c", nullptr, 0, nullptr, 0, szName, sizeof szName, szExt, sizeof szExt), 0);
    EXPECT_STREQ(szName, "b");
    EXPECT_STREQ(szExt, ".c");
    char szDir[16];
    EXPECT_EQ(SplitPath("C:/a/b.c", nullptr, 0, szDir, sizeof szDir, nullptr, 0, nullptr, 0), 0);
    EXPECT_STREQ(szDir, "/a/");
    EXPECT_EQ(SplitPath("C:/a/b.c", nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), 0);
}

TEST(SplitPath, BufferSizesAreCheckedExactly) {
    // "C:/ab/cde.fgh": drive 2, dir 4, name 3, ext 4 characters; each buffer needs one more.
    const char* szPath = "C:/ab/cde.fgh";
    const struct {
        const char* szName;
        uint32_t nDrive, nDir, nName, nExt;
        int32_t nResult;
    } rows[] = {
        {"all exact", 3, 5, 4, 5, 0},
        {"drive short", 2, 5, 4, 5, ERANGE},
        {"dir short", 3, 4, 4, 5, ERANGE},
        {"name short", 3, 5, 3, 5, ERANGE},
        {"ext short", 3, 5, 4, 4, ERANGE},
        {"size one", 1, 1, 1, 1, ERANGE},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        char szDrive[8], szDir[8], szName[8], szExt[8];
        std::memset(szDrive, '#', sizeof szDrive);
        std::memset(szDir, '#', sizeof szDir);
        std::memset(szName, '#', sizeof szName);
        std::memset(szExt, '#', sizeof szExt);
        EXPECT_EQ(SplitPath(szPath, szDrive, row.nDrive, szDir, row.nDir, szName, row.nName, szExt,
                            row.nExt),
                  row.nResult);
        if (row.nResult == 0) {
            EXPECT_STREQ(szDrive, "C:");
            EXPECT_STREQ(szDir, "/ab/");
            EXPECT_STREQ(szName, "cde");
            EXPECT_STREQ(szExt, ".fgh");
        } else {  // every buffer left empty, nothing written past its size
            EXPECT_EQ(szDrive[0], '\0');
            EXPECT_EQ(szDir[0], '\0');
            EXPECT_EQ(szName[0], '\0');
            EXPECT_EQ(szExt[0], '\0');
        }
        EXPECT_EQ(szDrive[row.nDrive], '#');
        EXPECT_EQ(szDir[row.nDir], '#');
        EXPECT_EQ(szName[row.nName], '#');
        EXPECT_EQ(szExt[row.nExt], '#');
    }
    // An empty part fits a buffer of one byte.
    char szDrive[1] = {'#'}, szExt[1] = {'#'};
    EXPECT_EQ(SplitPath("/a/b", szDrive, 1, nullptr, 0, nullptr, 0, szExt, 1), 0);
    EXPECT_EQ(szDrive[0], '\0');
    EXPECT_EQ(szExt[0], '\0');
}

TEST(SplitPath, InconsistentArgumentsAreInvalid) {
    char szDrive[8], szDir[8], szName[8], szExt[8];
    auto fill = [&] {
        std::memset(szDrive, '#', sizeof szDrive);
        std::memset(szDir, '#', sizeof szDir);
        std::memset(szName, '#', sizeof szName);
        std::memset(szExt, '#', sizeof szExt);
    };
    fill();
    EXPECT_EQ(SplitPath(nullptr, szDrive, 8, szDir, 8, szName, 8, szExt, 8), EINVAL);
    EXPECT_EQ(szDrive[0], '\0');
    EXPECT_EQ(szExt[0], '\0');
    fill();
    EXPECT_EQ(SplitPath("a/b.c", szDrive, 0, szDir, 8, szName, 8, szExt, 8), EINVAL);
    EXPECT_EQ(szDrive[0], '#');  // a buffer of size 0 is never written
    EXPECT_EQ(szDir[0], '\0');
    fill();
    EXPECT_EQ(SplitPath("a/b.c", szDrive, 8, nullptr, 8, szName, 8, szExt, 8), EINVAL);
    EXPECT_EQ(szDrive[0], '\0');
    EXPECT_EQ(szName[0], '\0');
    fill();
    EXPECT_EQ(SplitPath("a/b.c", szDrive, 8, szDir, 8, szName, 8, nullptr, 3), EINVAL);
    EXPECT_EQ(szName[0], '\0');
}

}  // namespace
