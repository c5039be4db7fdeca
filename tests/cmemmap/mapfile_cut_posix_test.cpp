// Files under a live mapping on POSIX: the process holds the file's "mapped" slot once for all its
// mappings and views of the file (every hard link, forked children, threads), and a mapping that
// grows its file reserves the grown range first, so a full disk fails the mapping instead of a
// later write into it (which would end the writer with a bus error).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
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

// A file with two hard links, one CxMapFile through each (two mapping objects of one file), each
// with a view, and a handle of the file that asks whether a mapping of it lives.
class MappedFileCount : public MapFileTest {
protected:
    void SetUp() override {
        MapFileTest::SetUp();
        qrtest::writeFileBytes(sLinkA, std::vector<unsigned char>(3 * 4096, 'm'));
        std::filesystem::create_hard_link(sLinkA, sLinkB);
        ASSERT_TRUE(QR_OpenFile(&hAsk, sLinkA.c_str(), 0x303));
    }
    void TearDown() override {
        QR_CloseFile(hAsk);
        MapFileTest::TearDown();
    }
    // Maps the file read-only through a handle of sPath that shares reading and writing (the
    // CxMapFile takes the handle).
    static bool mapThrough(CxMapFile& map, const std::string& sPath) {
        void* hFile = nullptr;
        return QR_OpenFile(&hFile, sPath.c_str(), 0x301) && map.MapHandle(hFile, false, true);
    }
    bool mapBoth() {
        return mapThrough(maps[0], sLinkA) && maps[0].SetView(0, 0, 4096) && mapThrough(maps[1], sLinkB) &&
               maps[1].SetView(0, 4096, 4096);
    }
    bool mapped() {
        if (qr::sys::checkFileNotMapped(hAsk)) return false;
        EXPECT_EQ(qr::sys::lastError(), qr::sys::kErrorUserMappedFile);
        return true;
    }

    qrtest::ScratchDir dir;
    const std::string sLinkA = dir.file("a.bin"), sLinkB = dir.file("b.bin");
    void* hAsk = nullptr;
    Probe maps[2];
};

// The file counts as mapped until the last mapping object and the last view of it, through
// either link, are gone, whatever the order.
TEST_F(MappedFileCount, FileStaysMappedUntilItsLastMappingOrViewGoes) {
    enum Step { kUnMapA, kViewA, kUnMapB, kViewB };  // UnMap leaves the object's view
    const std::vector<std::vector<Step>> rows = {
        {kUnMapA, kViewA, kUnMapB, kViewB},
        {kViewB, kUnMapB, kViewA, kUnMapA},
        {kUnMapA, kUnMapB, kViewB, kViewA},
    };
    for (std::size_t nRow = 0; nRow < rows.size(); ++nRow) {
        SCOPED_TRACE("row " + std::to_string(nRow));
        EXPECT_FALSE(mapped());
        ASSERT_TRUE(mapBoth()) << notices.lastText();
        for (std::size_t nStep = 0; nStep < rows[nRow].size(); ++nStep) {
            EXPECT_TRUE(mapped()) << "before step " << nStep;
            const Step step = rows[nRow][nStep];
            Probe& map = maps[step == kUnMapA || step == kViewA ? 0 : 1];
            if (step == kUnMapA || step == kUnMapB) map.UnMap();
            else map.FreeView();
        }
        EXPECT_FALSE(mapped()) << "after the last step";
    }
}

// A forked child shares the parent's hold: whichever of the two keeps its copies of the mappings
// keeps the file mapped, and releasing them in the other one changes nothing for it.
TEST_F(MappedFileCount, ForkedChildAndParentEachKeepTheFileMapped) {
    for (const bool bChildReleases : {true, false}) {
        SCOPED_TRACE(bChildReleases ? "the child releases its copies" : "the parent releases its mappings");
        ASSERT_TRUE(mapBoth()) << notices.lastText();
        int fdsReady[2], fdsGo[2];
        ASSERT_TRUE(::pipe(fdsReady) == 0 && ::pipe(fdsGo) == 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        auto release = [&] {
            for (Probe& map : maps) map.FreeView(), map.UnMap();
        };
        char c = 0;
        if (pid == 0) {
            if (bChildReleases) release();
            // Ready, then wait until the parent closes its end of the go pipe (or ends).
            ::close(fdsGo[1]);
            ::_exit(::write(fdsReady[1], "r", 1) == 1 && ::read(fdsGo[0], &c, 1) >= 0 ? 0 : 1);
        }
        ASSERT_EQ(::read(fdsReady[0], &c, 1), 1);
        if (!bChildReleases) release();
        EXPECT_TRUE(mapped()) << "the side that kept its mappings holds the file";
        if (bChildReleases) {
            release();
            EXPECT_FALSE(mapped()) << "the child's release left nothing held, and neither did the parent's";
        }
        for (int fd : {fdsReady[0], fdsReady[1], fdsGo[0], fdsGo[1]}) ::close(fd);
        int nStatus = 0;
        ASSERT_EQ(::waitpid(pid, &nStatus, 0), pid);
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
        EXPECT_FALSE(mapped()) << "nothing holds the file once both released";
    }
}

// Threads map and release the file through both links at once while this thread keeps a mapping
// of its own: the file never counts as unmapped meanwhile, and is unmapped once all are gone.
TEST_F(MappedFileCount, ThreadsMappingOneFileShareTheCount) {
    ASSERT_TRUE(mapThrough(maps[0], sLinkA)) << notices.lastText();
    std::atomic<int> nFailures{0}, nRounds{0};
    auto mapAndRelease = [&](const std::string& sPath) {
        for (int n = 0; n < 200; ++n) {
            CxMapFile map;
            if (!mapThrough(map, sPath) || !map.SetView(1, 0, 4096) || map.UseView(1) == nullptr)
                ++nFailures;
            map.FreeView();
            map.UnMap();
            ++nRounds;
        }
    };
    std::thread threadA(mapAndRelease, sLinkA), threadB(mapAndRelease, sLinkB);
    int nUnmappedSeen = 0;
    while (nRounds.load() < 400) nUnmappedSeen += mapped() ? 0 : 1;
    threadA.join();
    threadB.join();
    EXPECT_EQ(nFailures.load(), 0);
    EXPECT_EQ(nUnmappedSeen, 0);
    EXPECT_TRUE(mapped());
    maps[0].UnMap();
    EXPECT_FALSE(mapped());
}

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
