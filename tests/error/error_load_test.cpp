// Loading the error list in a real process: a program linked against the library, copied into
// a folder with a missing or broken QuarrionError.inf, must end with status 0 after the notice
// and never reach main.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/backend.h"
#include "support/child.h"
#include "support/scratch.h"

namespace {

struct LoadCase {
    const char* szName;
    const char* szListText;  // null: no file at all
    const char* szNotice;    // expected on standard error; null: loads fine
};

TEST(ErrorListLoad, BrokenListsEndTheProcessBeforeMain) {
    const LoadCase cases[] = {
        {"missing file", nullptr, "Quarrion错误信息: 打开QuarrionError.inf文件错误!"},
        {"keyword in other case", "qrerror 1\n1000003 E_MODE bad-mode\n", "Quarrion错误信息: QuarrionError.inf格式错误!"},
        {"first word longer than 7 bytes", "QRErrors 1\n1000003 E_MODE bad-mode\n",
         "Quarrion错误信息: QuarrionError.inf格式错误!"},
        {"empty file", "", "Quarrion错误信息: QuarrionError.inf格式错误!"},
        {"keyword glued to text", "QRError1 1000003 E_MODE bad-mode", "Quarrion错误信息: QuarrionError.inf格式错误!"},
        {"well formed", "QRError\t1\n1000003\nE_MODE\nbad-mode\n", nullptr},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.szName);
        qrtest::ScratchDir dir;
        const std::string sProgram = qrtest::copyProgram(LOAD_PROBE_PATH, dir.path(), "probe");
        if (c.szListText != nullptr) qrtest::writeFileText(dir.file("QuarrionError.inf"), c.szListText);

        const qrtest::ChildResult result = qrtest::runChild(sProgram, {});
        ASSERT_TRUE(result.bExited) << result.sStderr;
        if (c.szNotice != nullptr) {
            EXPECT_EQ(result.nStatus, 0);
            EXPECT_EQ(result.sStderr, qrtest::systemText(c.szNotice) + "\n");
            EXPECT_EQ(result.sStdout, "");
        } else {
            EXPECT_EQ(result.nStatus, 3);
            EXPECT_EQ(result.sStdout, "main ran\nerror 1000003\n");
            EXPECT_EQ(result.sStderr, "");
        }
    }
}

TEST(ErrorListLoad, ListIsReadFromTheExecutablesFolderNotTheWorkingFolder) {
    qrtest::ScratchDir dir;
    std::filesystem::create_directory(dir.file("bin"));
    const std::string sProgram = qrtest::copyProgram(LOAD_PROBE_PATH, dir.file("bin"), "probe");
    // A good list in the parent folder only: the program's own folder has none.
    qrtest::writeFileText(dir.file("QuarrionError.inf"), "QRError 0\n");
    const qrtest::ChildResult result = qrtest::runChild(sProgram, {});
    ASSERT_TRUE(result.bExited);
    EXPECT_EQ(result.nStatus, 0);
    EXPECT_EQ(result.sStdout, "");
}

}  // namespace
