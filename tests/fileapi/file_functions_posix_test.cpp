// The raw file-handle functions over the POSIX backend's own mechanisms: descriptors and their
// close-on-exec flag.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <string>

#include "api_fixture.h"
#include "platform/platform.h"
#include "platform/posix/file_handle.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

class FileFunctionsPosix : public fileapitest::ApiTest {};

// Descriptors that the API holds, read from /proc/self/fd with their close-on-exec flag.
TEST_F(FileFunctionsPosix, EveryDescriptorIsCloseOnExec) {
    void* hNew = nullptr;
    void* hOpen = nullptr;
    ASSERT_TRUE(QR_NewFile(&hNew, dir.file("n.dat").c_str(), 0x0300));
    ASSERT_TRUE(QR_OpenFile(&hOpen, dir.file("n.dat").c_str(), 0x0301));
    const std::string sTemp = qr::sys::makeTempFileName(dir.path().c_str(), "cx");
    ASSERT_FALSE(sTemp.empty());
    int nChecked = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), ec);
        if (ec || target.string().rfind(dir.path(), 0) != 0) continue;
        const int nFd = std::stoi(entry.path().filename().string());
        const int nFlags = ::fcntl(nFd, F_GETFD);
        EXPECT_NE(nFlags & FD_CLOEXEC, 0) << target << " (descriptor " << nFd << ")";
        ++nChecked;
    }
    EXPECT_EQ(nChecked, 2) << "one descriptor per handle, nothing left open by the temporary name";
    const qr::sys::HandleRef newRef = qr::sys::lookupHandle(hNew), openRef = qr::sys::lookupHandle(hOpen);
    ASSERT_TRUE(newRef && openRef);
    EXPECT_GE(newRef->nFd, 0);
    EXPECT_NE(newRef->nFd, openRef->nFd);
    EXPECT_TRUE(QR_CloseFile(hNew));
    EXPECT_TRUE(QR_CloseFile(hOpen));
}

TEST_F(FileFunctionsPosix, InvalidHandlesHaveNoDescriptor) {
    void* hClosed = nullptr;
    ASSERT_TRUE(QR_NewFile(&hClosed, dir.file("c.dat").c_str(), 0));
    ASSERT_TRUE(QR_CloseFile(hClosed));
    int nStackByte = 0;
    for (void* hFile : {static_cast<void*>(nullptr), qr::sys::kInvalidHandle, hClosed, static_cast<void*>(&nStackByte)}) {
        SCOPED_TRACE(::testing::Message() << "handle " << hFile);
        EXPECT_FALSE(qr::sys::lookupHandle(hFile));
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorInvalidHandle);
    }
}

}  // namespace
