// Share modes and the POSIX backend's own mechanism behind them: the share slots are held by
// descriptors, which must not survive into programs the process executes.
#include <gtest/gtest.h>

#include <string>

#include "qrcore/fileapi.h"
#include "support/child.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

class ShareModesPosix : public ::testing::Test {
protected:
    void SetUp() override {
        m_sPath = dir.file("shared.dat");
        qrtest::writeFileText(m_sPath, "contents");
    }
    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{true};
    std::string m_sPath;
};

TEST_F(ShareModesPosix, HandlesAreNotInheritedByExecutedChildren) {
    // A handle that shares nothing, held while a child runs: the child must not keep the
    // descriptor (and with it the share slots) past exec.
    void* hHeld = nullptr;
    ASSERT_TRUE(QR_OpenFile(&hHeld, m_sPath.c_str(), 0x0003));
    const qrtest::ChildResult result =
        qrtest::runChild("/bin/sh", {"-c", "ls -l /proc/$$/fd | grep -c shared.dat || true"});
    EXPECT_EQ(result.sStdout, "0\n");
    ASSERT_TRUE(QR_CloseFile(hHeld));
}

}  // namespace
