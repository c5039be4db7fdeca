// Files under a live mapping on POSIX: a mapping that grows its file reserves the grown range
// first, so a full disk fails the mapping instead of a later write into it (which would end the
// writer with a bus error).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "mapfile_support.h"
#include "qrcore/fileapi.h"
#include "support/scratch.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

// A small file system of its own: a tmpfs of nBytes mounted in a private mount namespace of the
// test process (so nothing stays mounted if the test dies). Needs the privilege to mount.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& sMountPoint, int64_t nBytes) : m_sPath(sMountPoint) {
        if (::unshare(CLONE_NEWNS) != 0) {
            m_sWhy = "unshare(CLONE_NEWNS): " + qrtest::errnoText(errno);
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            m_sWhy = "making the mounts private: " + qrtest::errnoText(errno);
            return;
        }
        const std::string sOptions = "size=" + std::to_string(nBytes) + ",mode=0700";
        if (::mount("tmpfs", sMountPoint.c_str(), "tmpfs", 0, sOptions.c_str()) != 0) {
            m_sWhy = "mount tmpfs: " + qrtest::errnoText(errno);
            return;
        }
        m_bMounted = true;
    }
    ~SmallDisk() {
        if (m_bMounted) ::umount2(m_sPath.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_bMounted; }
    const std::string& why() const { return m_sWhy; }
    std::string file(const std::string& sName) const { return m_sPath + "/" + sName; }
    // Fills the file system with a file of its own until only nLeave bytes are free.
    bool fill(int64_t nLeave) const {
        const int fd = ::open(file("filler").c_str(), O_CREAT | O_WRONLY | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        const std::vector<char> page(4096, 'f');
        while (free() > nLeave && ::write(fd, page.data(), page.size()) > 0) {
        }
        ::close(fd);
        return free() <= nLeave;
    }
    int64_t free() const {
        struct statvfs st{};
        if (::statvfs(m_sPath.c_str(), &st) != 0) return -1;
        return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
    }

private:
    std::string m_sPath;
    std::string m_sWhy;
    bool m_bMounted = false;
};

class MappedFilesOnSmallDisk : public MapFileTest {
protected:
    qrtest::ScratchDir dir;
};

TEST_F(MappedFilesOnSmallDisk, GrowingMappingReservesTheGrownRangeOrFailsOnAFullDisk) {
    const std::string sMount = dir.file("small");
    ASSERT_EQ(::mkdir(sMount.c_str(), 0700), 0);
    SmallDisk disk(sMount, 64 * 4096);
    if (!disk.mounted()) GTEST_SKIP() << "no small file system to fill up: " << disk.why();
    struct Row {
        const char* szWhat;
        bool bAppendNull;
        bool bSparse;
        int64_t llMapSize;   // 0: the file's size (plus two in append-null mode)
        int64_t llLeaveFree;  // room left on the disk before mapping
        bool bMapped;
    };
    const Row rows[] = {
        {"a file marked sparse is not reserved", false, true, 16 * 4096, 4 * 4096, true},
        // The same file again through a handle that was not marked: reserved.
        {"a size past the end, too little room", false, false, 16 * 4096, 4 * 4096, false},
        {"append-null on a full disk", true, false, 0, 0, false},
        {"a size past the end, room enough", false, false, 4 * 4096, 8 * 4096, true},
    };
    const std::string sPath = disk.file("data.bin");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        ::unlink(disk.file("filler").c_str());
        qrtest::writeFileText(sPath, std::string(4096, 'D'));
        ASSERT_TRUE(disk.fill(row.llLeaveFree));
        ReportError(0);
        notices.clear();
        Probe map;
        ASSERT_NE(map.OpenFile(sPath.c_str(), row.bAppendNull, false, row.bSparse), nullptr) << notices.lastText();
        const bool bMapped = map.CreateMapping(row.llMapSize);
        EXPECT_EQ(bMapped, row.bMapped);
        struct stat st{};
        ASSERT_EQ(::stat(sPath.c_str(), &st), 0);
        if (!row.bMapped) {
            // Refused at once, the file exactly as it was; no view can reach a range without room.
            EXPECT_EQ(GetDllErrorNo(), 1000000);
            EXPECT_EQ(notices.lastText(), systemText(ENOSPC));
            EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
            EXPECT_EQ(st.st_size, 4096);
            EXPECT_TRUE(qrtest::readFileBytes(sPath) == std::vector<unsigned char>(4096, 'D'));
        } else if (!row.bSparse) {
            // The grown range has its blocks, so writing into it cannot fail later.
            EXPECT_EQ(st.st_size, row.llMapSize);
            EXPECT_GE(st.st_blocks * 512, row.llMapSize);
            ASSERT_TRUE(map.SetView(0, 0, static_cast<int32_t>(row.llMapSize)));
            static_cast<char*>(map.UseView(0))[row.llMapSize - 1] = 'E';
            EXPECT_TRUE(map.Flush(*map.GetView(0)));
            EXPECT_EQ(qrtest::readFileBytes(sPath).back(), 'E');
        } else {
            // Sparse: the size is set and nothing reserved; a write into the range may still meet
            // the full disk (the header says so).
            EXPECT_EQ(st.st_size, row.llMapSize);
            EXPECT_LT(st.st_blocks * 512, row.llMapSize);
        }
        map.FreeView();
        map.UnMap();
    }
}

}  // namespace
