// File objects: copies share what they refer to, and each handle, buffer and temporary file is
// released exactly once (the sanitizer build checks the memory; the file system and the
// process's descriptor table check the rest).
#include <cstring>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/file.h"
#include "support/scratch.h"

namespace filetest {
namespace {

using FileCopies = FileTest;

TEST_F(FileCopies, DiskCopiesShareOneHandleClosedByTheLast) {
    const int nBase = openDescriptors();
    const std::string sPath = scratch.file("shared.dat");
    {
        CxFile a;
        ASSERT_TRUE(a.Create(sPath.c_str()));
        EXPECT_EQ(openDescriptors(), nBase + 1);
        CxFile b(a);
        CxFile c;
        c = b;
        EXPECT_EQ(b.GetFileHandle(), a.GetFileHandle());
        EXPECT_EQ(c.GetFileHandle(), a.GetFileHandle());
        EXPECT_EQ(c.GetFileName(), sPath);
        ASSERT_EQ(a.Write("abc", 3), 3u);
        EXPECT_EQ(b.GetPos(), 3) << "copies of a disk file share the file pointer";

        EXPECT_TRUE(a.Close());
        EXPECT_EQ(a.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_EQ(openDescriptors(), nBase + 1) << "the others still hold it";
        EXPECT_EQ(b.Write("def", 3), 3u);
        EXPECT_TRUE(b.Close());
        EXPECT_TRUE(b.Close()) << "a second Close";
        EXPECT_EQ(c.Write("ghi", 3), 3u);
        EXPECT_EQ(openDescriptors(), nBase + 1);
        EXPECT_TRUE(c.Close());
        EXPECT_EQ(openDescriptors(), nBase) << "the last Close closed it";
        EXPECT_TRUE(c.Close());
    }
    EXPECT_EQ(openDescriptors(), nBase);
    EXPECT_EQ(qrtest::readFileBytes(sPath), (std::vector<unsigned char>{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}));
    EXPECT_EQ(GetDllErrorNo(), 0) << "no Close reported anything";
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(FileCopies, DestructionOrderDoesNotMatter) {
    const int nBase = openDescriptors();
    std::string sTemp;
    {
        auto* pFirst = new CxFile;
        ASSERT_TRUE(pFirst->CreateTempFile("cpy", 100));
        sTemp = pFirst->GetFileName();
        std::vector<CxFile> copies(5, *pFirst);  // and the vector's own copies as it grows
        copies.push_back(*pFirst);
        copies.reserve(100);
        delete pFirst;
        EXPECT_EQ(diskSize(sTemp), 100);
        copies.erase(copies.begin() + 2);
        EXPECT_EQ(diskSize(sTemp), 100);
        EXPECT_EQ(copies.back().Write("x", 1), 1u);
    }
    EXPECT_EQ(diskSize(sTemp), -1) << "the last copy deleted the temporary file";
    EXPECT_EQ(openDescriptors(), nBase);
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(FileCopies, AssignmentReleasesWhatTheTargetHeldAlone) {
    const int nBase = openDescriptors();
    CxFile target;
    ASSERT_TRUE(target.CreateTempFile("old", 10));
    const std::string sOld = target.GetFileName();
    CxFile source;
    ASSERT_TRUE(source.CreateMemFile(0));
    ASSERT_EQ(source.Write("mem", 3), 3u);
    target = source;
    EXPECT_EQ(diskSize(sOld), -1) << "the temporary file the target held alone is gone";
    EXPECT_EQ(openDescriptors(), nBase);
    EXPECT_EQ(target.m_nFileType, QR_MemFile);
    EXPECT_EQ(target.m_pBuffer, source.m_pBuffer);

    // Self-assignment and assignment between copies keep everything.
    CxFile& alias = target;
    target = alias;
    source = target;
    EXPECT_EQ(target.m_pBuffer, source.m_pBuffer);
    char c = 0;
    ASSERT_TRUE(target.SeekToBegin());
    EXPECT_EQ(target.Read(&c, 1), 1u);
    EXPECT_EQ(c, 'm');
}

TEST_F(FileCopies, MemoryCopiesSeeOneBufferThroughGrowth) {
    CxFile a;
    ASSERT_TRUE(a.CreateMemFile(0));
    ASSERT_EQ(a.Write("start", 5), 5u);
    CxFile b = a;
    CxFile c;
    c = b;
    ASSERT_TRUE(b.Seek(0, 2));
    const auto bytes = patternBytes(100000, 11);
    ASSERT_EQ(b.Write(bytes.data(), 100000), 100000u) << "growth moves the buffer";
    for (CxFile* pCopy : {&a, &c}) {
        EXPECT_EQ(pCopy->m_pBuffer, b.m_pBuffer);
        EXPECT_EQ(pCopy->m_nBufferSize, b.m_nBufferSize);
        EXPECT_EQ(pCopy->GetFileSize(), 100005);
    }
    EXPECT_EQ(a.GetPos(), 5) << "each copy keeps its own position";
    std::vector<unsigned char> back(100000);
    ASSERT_EQ(a.Read(back.data(), 100000), 100000u);
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(c.Seek(0, 2));
    ASSERT_TRUE(c.PutC('!'));
    EXPECT_EQ(a.GetFileSize(), 100006);
    EXPECT_EQ(b.GetFileSize(), 100006);

    EXPECT_TRUE(a.Close());
    EXPECT_EQ(a.m_pBuffer, nullptr);
    EXPECT_NE(b.m_pBuffer, nullptr) << "the others keep the buffer";
    EXPECT_TRUE(b.Close());
    EXPECT_EQ(c.GetC(), 0);
    ASSERT_TRUE(c.SeekToBegin());
    EXPECT_EQ(c.GetC(), 's') << "the last copy still reads it";
    // c's destructor frees the buffer; the sanitizer build reports a leak or a double free.
}

TEST_F(FileCopies, CopiesOfAnAttachedBufferNeverFreeIt) {
    unsigned char buffer[4] = {'w', 'x', 'y', 'z'};
    {
        CxFile a;
        a.Initialize(buffer, 4);
        CxFile b = a;
        EXPECT_EQ(b.m_bAttached, 1);
        EXPECT_TRUE(a.Close());
        EXPECT_TRUE(b.PutC('W'));
        EXPECT_TRUE(b.Close());
    }
    EXPECT_EQ(buffer[0], 'W');
}

TEST_F(FileCopies, TempFileCopiesDeleteOnceAtTheLast) {
    const int nBase = openDescriptors();
    std::string sPath;
    {
        CTempFile a("cpy");
        sPath = a.GetFileName();
        CTempFile b(a);
        EXPECT_EQ(b.GetFileHandle(), a.GetFileHandle());
        EXPECT_EQ(b.GetFileName(), sPath);
        EXPECT_EQ(b.GetFileSize(), 1024000);
        {
            CTempFile c;
            const std::string sOther = c.GetFileName();
            c = b;  // c's own file goes, b's is shared
            EXPECT_EQ(diskSize(sOther), -1);
            EXPECT_EQ(c.GetFileName(), sPath);
        }
        EXPECT_EQ(diskSize(sPath), 1024000);
        a.Close();
        EXPECT_EQ(diskSize(sPath), 1024000) << "b still holds it";
        ASSERT_TRUE(b.SeekToBegin());
        EXPECT_EQ(b.Write("abc", 3), 3u);
        CTempFile& alias = a;
        a = alias;
        a.Close();
    }
    EXPECT_EQ(diskSize(sPath), -1);
    EXPECT_EQ(openDescriptors(), nBase);
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(FileCopies, ObjectsThatChangeKindReleaseEverythingOnce) {
    const std::string sPath = scratch.file("kinds.dat");
    qrtest::writeFileText(sPath, "disk");
    {
        // Counted after a first open and close and a first trace: the system and the test
        // framework make some handles of their own on first use (Windows).
        SCOPED_TRACE("warm-up");
        CxFile warm;
        ASSERT_TRUE(warm.Open(sPath.c_str(), true));
        ASSERT_TRUE(warm.Close());
    }
    const int nBase = openDescriptors();
    {
        SCOPED_TRACE("a copy of a memory file opens a disk file");
        CxFile a;
        ASSERT_TRUE(a.CreateMemFile(16));
        CxFile b = a;
        ASSERT_TRUE(b.Open(sPath.c_str(), true));
        EXPECT_EQ(b.m_nFileType, QR_DiskFile);
        EXPECT_EQ(b.m_pBuffer, nullptr) << "the shared buffer stays with the other copy";
        EXPECT_NE(a.m_pBuffer, nullptr);
        EXPECT_EQ(b.GetC(), 'd');
    }
    {
        SCOPED_TRACE("a memory file opens a disk file without Close");
        CxFile a;
        ASSERT_TRUE(a.CreateMemFile(16));
        unsigned char* pBuffer = a.m_pBuffer;
        ASSERT_TRUE(a.Open(sPath.c_str(), true));
        EXPECT_EQ(a.m_pBuffer, pBuffer) << "opening releases nothing";
        EXPECT_TRUE(a.CreateMemFile(5)) << "with a buffer held, nothing changes";
        EXPECT_EQ(a.m_nFileType, QR_DiskFile);
        EXPECT_TRUE(a.Close()) << "Close releases the handle and the buffer";
        EXPECT_EQ(a.m_pBuffer, nullptr);
    }
    {
        SCOPED_TRACE("an attached buffer, then a disk file");
        unsigned char buffer[3] = {1, 2, 3};
        CxFile a;
        a.Initialize(buffer, 3);
        ASSERT_TRUE(a.Open(sPath.c_str(), true));
        EXPECT_EQ(openDescriptors(), nBase + 1);
        EXPECT_TRUE(a.Close());
        EXPECT_EQ(openDescriptors(), nBase) << "the handle is closed although a buffer is attached";
        EXPECT_EQ(a.m_pBuffer, buffer);
    }
    {
        SCOPED_TRACE("a copy of a disk file becomes a memory file");
        CxFile a;
        ASSERT_TRUE(a.Open(sPath.c_str(), false));
        CxFile b = a;
        ASSERT_TRUE(b.CreateMemFile(10));
        EXPECT_EQ(b.GetFileHandle(), qr::sys::kInvalidHandle) << "the shared handle stays with the other copy";
        EXPECT_EQ(a.GetC(), 'd');
        EXPECT_TRUE(b.Close());
        EXPECT_EQ(openDescriptors(), nBase + 1);
    }
    {
        SCOPED_TRACE("a buffer allocated for copies of a disk file");
        CxFile a;
        ASSERT_TRUE(a.Open(sPath.c_str(), false));
        CxFile b = a;
        ASSERT_NE(a.Alloc(100), nullptr);
        EXPECT_EQ(b.m_pBuffer, a.m_pBuffer);
        EXPECT_EQ(b.m_nBufferSize, 4096);
        EXPECT_TRUE(a.Close());
        EXPECT_EQ(a.m_pBuffer, nullptr);
        EXPECT_NE(b.m_pBuffer, nullptr);
        EXPECT_TRUE(b.Close());
        EXPECT_EQ(b.m_pBuffer, nullptr);
    }
    EXPECT_EQ(openDescriptors(), nBase);
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(FileCopies, NeverOpenedObjectsCloseQuietly) {
    {
        CxFile file;
        EXPECT_TRUE(file.Close());
        EXPECT_TRUE(file.Close());
        CxFile copy = file;
    }
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

}  // namespace
}  // namespace filetest
