// The POSIX backend's named mapping objects: files under /dev/shm with encoded names, leftovers
// of killed processes, foreign files under an object's name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix/shm_object.h"

namespace {

using namespace qr::sys;

std::string uniqueName(const std::string& sStem) {
    return "qrtest_" + sStem + "_" + std::to_string(::getpid()) + "_" + std::to_string(randomBelow(1000000));
}

bool objectFileExists(const std::string& sName) {
    struct stat st{};
    return ::lstat(posix::objectPath(sName).c_str(), &st) == 0;
}

std::string lastErrorText() { return systemErrorText(lastError()); }

TEST(MappingNames, EncodeKeepsSafeBytesAndEscapesTheRest) {
    struct Row {
        const char* szName;
        const char* szEncoded;
    };
    const Row rows[] = {
        {"abcXYZ019_-", "abcXYZ019_-"},
        {"D:_survey_line1.dat", "D%3A_survey_line1%2Edat"},
        {"/tmp/a b", "%2Ftmp%2Fa%20b"},
        {"%", "%25"},
        {"\xB2\xE2\x5C", "%B2%E2%5C"},
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        EXPECT_EQ(posix::encodeObjectName(row.szName), row.szEncoded);
    }
    // Distinct names never share a file, also when their encodings would be too long.
    const std::string sLongA(255, '.');
    std::string sLongB(255, '.');
    sLongB[254] = ',';
    const std::string sFileA = posix::objectPath(sLongA);
    const std::string sFileB = posix::objectPath(sLongB);
    EXPECT_NE(sFileA, sFileB);
    EXPECT_LE(sFileA.size() - std::strlen(posix::kObjectFolder), 255u);
    EXPECT_EQ(posix::encodeObjectName(sLongA)[0], '#');
}

TEST(MappingObjects, LeftoverOfAKilledProcessIsCleanedOnTheNextCreateOrOpen) {
    for (const bool bOpenFirst : {true, false}) {
        SCOPED_TRACE(bOpenFirst ? "open" : "create");
        const std::string sName = uniqueName("leftover");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 4096, sName.c_str(), true, false, nullptr);
            auto* p = h != nullptr ? static_cast<char*>(mapViewOfFile(h, kMapWrite, 0, 0)) : nullptr;
            if (p != nullptr) std::memcpy(p, "stale", 5);
            const char c = p != nullptr ? 'y' : 'n';
            (void)!::write(fds[1], &c, 1);
            ::pause();  // until killed: the object is left behind, never released
            ::_exit(0);
        }
        ::close(fds[1]);
        char c = 0;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ::close(fds[0]);
        ASSERT_EQ(c, 'y');
        ::kill(pid, SIGKILL);
        int nStatus = 0;
        ::waitpid(pid, &nStatus, 0);
        ASSERT_TRUE(objectFileExists(sName)) << "the killed process left nothing to clean";

        if (bOpenFirst) {
            EXPECT_EQ(openFileMapping(kMapWrite, false, sName.c_str()), nullptr);
            EXPECT_EQ(lastError(), kErrorNotFound);
            EXPECT_FALSE(objectFileExists(sName));
        }
        bool bExisted = true;
        void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 4096, sName.c_str(), true, false, &bExisted);
        ASSERT_NE(h, nullptr) << lastErrorText();
        EXPECT_FALSE(bExisted);
        auto* p = static_cast<char*>(mapViewOfFile(h, kMapRead, 0, 0));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(p, 5), std::string(5, '\0'));
        EXPECT_TRUE(unmapViewOfFile(p));
        EXPECT_TRUE(closeFileMapping(h));
        EXPECT_FALSE(objectFileExists(sName));
    }
}

TEST(MappingObjects, ForeignFileUnderAnObjectNameIsRefusedAndLiveObjectsAreKept) {
    const std::string sName = uniqueName("foreign");
    const std::string sPath = posix::objectPath(sName);
    // A file nobody holds counts as a leftover whatever it holds.
    {
        const int fd = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "junk", 4), 4);
        ::close(fd);
    }
    void* h = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), true, false, nullptr);
    ASSERT_NE(h, nullptr) << lastErrorText();
    EXPECT_TRUE(closeFileMapping(h));
    // One that someone holds and that is not ours is refused, not taken over.
    const int fd = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);
    EXPECT_EQ(openFileMapping(kMapRead, false, sName.c_str()), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidArgument);
    EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), true, false, nullptr), nullptr);
    EXPECT_TRUE(objectFileExists(sName));
    // A valid object of ours that another user owns is not trusted either (only root can make
    // one here).
    if (::geteuid() == 0) {
        ::close(fd);
        ::unlink(sPath.c_str());
        void* hOwn = createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, false, nullptr);
        ASSERT_NE(hOwn, nullptr);
        ASSERT_EQ(::chown(sPath.c_str(), 65534, 65534), 0);
        EXPECT_EQ(openFileMapping(kMapRead, false, sName.c_str()), nullptr);
        EXPECT_EQ(lastError(), kErrorAccessDenied);
        EXPECT_TRUE(closeFileMapping(hOwn));  // its last holder removes it
        EXPECT_FALSE(objectFileExists(sName));
        // A foreign file nobody holds is not ours to remove either.
        const int fdForeign = ::open(sPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
        ASSERT_GE(fdForeign, 0);
        ::close(fdForeign);
        ASSERT_EQ(::chown(sPath.c_str(), 65534, 65534), 0);
        EXPECT_EQ(createFileMapping(kInvalidHandle, kPageReadWrite, 100, sName.c_str(), false, false, nullptr), nullptr);
        EXPECT_EQ(lastError(), kErrorAccessDenied);
        EXPECT_TRUE(objectFileExists(sName));
        ::unlink(sPath.c_str());
        return;
    }
    ::close(fd);
    ::unlink(sPath.c_str());
}

}  // namespace
