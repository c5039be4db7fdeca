// File objects: the memory kind's own rules: capacity steps of 4096, zeroed new bytes, attached
// buffers, the object without buffer, seeks beyond the end, failed growth, unknown kinds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "file_fixture.h"
#include "platform/platform.h"
#include "qrcore/error.h"
#include "qrcore/file.h"

namespace filetest {
namespace {

using MemoryFile = FileTest;

// The capacity the growth rule gives: whole steps of 4096 above the old capacity.
int64_t steppedCapacity(int64_t llOld, int64_t llWanted) {
    int64_t llCapacity = llOld;
    while (llCapacity < llWanted) llCapacity += 4096;
    return llCapacity;
}

bool allZero(const unsigned char* p, int64_t llFrom, int64_t llTo) {
    for (int64_t i = llFrom; i < llTo; ++i)
        if (p[i] != 0) return false;
    return true;
}

TEST_F(MemoryFile, NewObjectAndCreateMemFile) {
    CxFile file;
    EXPECT_EQ(file.GetFileHandle(), qr::sys::kInvalidHandle);
    EXPECT_EQ(file.GetFileName(), "");
    EXPECT_EQ(file.m_nFileType, QR_DiskFile);
    EXPECT_EQ(file.m_pBuffer, nullptr);

    ASSERT_TRUE(file.CreateMemFile(100));
    EXPECT_EQ(file.m_nFileType, QR_MemFile);
    EXPECT_EQ(file.GetFileSize(), 100);
    EXPECT_EQ(file.m_nBufferSize, 100);
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_FALSE(file.Eof());
    EXPECT_TRUE(allZero(file.m_pBuffer, 0, 100)) << "a new memory file reads as zeros";
    std::vector<unsigned char> out(200, 0xAA);
    EXPECT_EQ(file.Read(out.data(), 200), 100u);
    EXPECT_EQ(file.GetPos(), 100);
    EXPECT_TRUE(file.Eof());
    EXPECT_EQ(file.Flush(), 0) << "a memory file has nothing to flush";

    // A second CreateMemFile changes nothing, not even with another size.
    unsigned char* pBuffer = file.m_pBuffer;
    EXPECT_TRUE(file.CreateMemFile(5000));
    EXPECT_EQ(file.m_pBuffer, pBuffer);
    EXPECT_EQ(file.GetFileSize(), 100);
    EXPECT_EQ(file.GetPos(), 100);

    CxFile negative;
    EXPECT_FALSE(negative.CreateMemFile(-1));
    EXPECT_EQ(negative.m_pBuffer, nullptr);
    EXPECT_EQ(negative.m_nFileType, QR_DiskFile) << "a refused size leaves the kind";
    EXPECT_EQ(negative.m_nFileSize, 0);
    EXPECT_EQ(GetDllErrorNo(), 0) << "the memory kind stores no error numbers";
}

TEST_F(MemoryFile, CreateMemFileContentsAreZeroEvenOverReusedHeap) {
    // Fill and free blocks of the same size first, so the allocator has dirty blocks to reuse.
    for (int i = 0; i < 8; ++i) {
        void* p = std::malloc(70000);
        ASSERT_NE(p, nullptr);
        std::memset(p, 0x5A, 70000);
        std::free(p);
    }
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(70000));
    EXPECT_TRUE(allZero(file.m_pBuffer, 0, 70000));
}

TEST_F(MemoryFile, CapacityGrowsInStepsOf4096) {
    {
        CxFile file;
        ASSERT_TRUE(file.CreateMemFile(0));
        ASSERT_EQ(file.Write("0123456789", 10), 10u);
        EXPECT_EQ(file.m_nBufferSize, 4096);
        EXPECT_EQ(file.GetFileSize(), 10);
        EXPECT_EQ(file.GetPos(), 10);
    }
    {
        CxFile file;
        ASSERT_TRUE(file.CreateMemFile(100));
        ASSERT_NE(file.Alloc(5000), nullptr);
        EXPECT_EQ(file.m_nBufferSize, 8292);
        EXPECT_EQ(file.GetFileSize(), 100) << "Alloc does not change the length";
        EXPECT_TRUE(allZero(file.m_pBuffer, 100, 8292)) << "grown capacity reads as zeros";
        unsigned char* pBuffer = file.m_pBuffer;
        EXPECT_EQ(file.Alloc(8000), pBuffer) << "a smaller request changes nothing";
        EXPECT_EQ(file.m_nBufferSize, 8292);
    }
    {
        // PutC at the capacity asks for 1024 bytes beyond the position.
        CxFile file;
        ASSERT_TRUE(file.CreateMemFile(4096));
        ASSERT_TRUE(file.Seek(0, 2));
        ASSERT_TRUE(file.PutC('a'));
        EXPECT_EQ(file.m_nBufferSize, 8192);
        EXPECT_EQ(file.GetFileSize(), 4097);
    }
    {
        // Byte by byte and in uneven blocks, against the stepping rule at every operation.
        CxFile file;
        ASSERT_TRUE(file.CreateMemFile(37));
        ASSERT_TRUE(file.Seek(0, 2));
        int64_t llCapacity = 37;
        std::vector<unsigned char> expected(37, 0);
        const auto block = patternBytes(3001, 3);
        for (int i = 0; i < 60000; ++i) {
            const int64_t llPos = file.GetPos();
            if (i % 1000 == 999) {
                ASSERT_EQ(file.Write(block.data(), 3001), 3001u);
                if (llPos + 3001 > llCapacity) llCapacity = steppedCapacity(llCapacity, llPos + 3001);
                expected.insert(expected.end(), block.begin(), block.end());
            } else {
                ASSERT_TRUE(file.PutC(static_cast<unsigned char>(i)));
                if (llPos + 1 > llCapacity) llCapacity = steppedCapacity(llCapacity, llPos + 1024);
                expected.push_back(static_cast<unsigned char>(i));
            }
            ASSERT_EQ(file.m_nBufferSize, llCapacity) << "after operation " << i;
        }
        ASSERT_EQ(file.GetFileSize(), static_cast<int64_t>(expected.size()));
        EXPECT_EQ(0, std::memcmp(file.m_pBuffer, expected.data(), expected.size()));
    }
}

TEST_F(MemoryFile, SeeksClampBelowZeroAndReachBeyondTheEnd) {
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(0));
    ASSERT_EQ(file.Write("abcdefghij", 10), 10u);
    EXPECT_TRUE(file.Seek(-5, 0));
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_TRUE(file.Seek(-50, 1));
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_TRUE(file.Seek(-11, 2));
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_TRUE(file.Seek(10, 2));
    EXPECT_EQ(file.GetPos(), 20);
    EXPECT_TRUE(file.Eof());
    char c = 'x';
    EXPECT_EQ(file.Read(&c, 1), 0u) << "nothing to read beyond the end";
    EXPECT_EQ(file.GetC(), 0);
    EXPECT_EQ(file.GetPos(), 20);
    EXPECT_FALSE(file.Seek(3, 3)) << "unknown origin";
    EXPECT_FALSE(file.Seek(3, 0xFFFFFFFFu));
    EXPECT_EQ(file.GetPos(), 20) << "a refused seek leaves the position";

    // A write beyond the end covers the gap, which reads as zeros.
    ASSERT_EQ(file.Write("XY", 2), 2u);
    EXPECT_EQ(file.GetFileSize(), 22);
    std::vector<unsigned char> all(22);
    ASSERT_TRUE(file.SeekToBegin());
    ASSERT_EQ(file.Read(all.data(), 22), 22u);
    const std::vector<unsigned char> expected = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 0,
                                                 0,   0,   0,   0,   0,   0,   0,   0,   0,   'X', 'Y'};
    EXPECT_EQ(all, expected);

    // The gap stays zero even where earlier data was overwritten in a larger buffer: shrink
    // nothing, but write, seek back over a region that never held data and write again.
    ASSERT_TRUE(file.Seek(5000, 0));
    ASSERT_TRUE(file.PutC('Z'));
    EXPECT_TRUE(allZero(file.m_pBuffer, 22, 5000));

    // Positions that do not fit 63 bits are refused; the position stays.
    ASSERT_TRUE(file.Seek(std::numeric_limits<int64_t>::max(), 0));
    EXPECT_FALSE(file.Seek(1, 1));
    EXPECT_EQ(file.GetPos(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(file.Write("a", 1), 0u) << "no write at a position without room after it";
    EXPECT_FALSE(file.PutC('a'));
    ASSERT_TRUE(file.Seek(int64_t{1} << 62, 0));
    EXPECT_EQ(file.Write("a", 1), 0u) << "no block that large can exist";
    EXPECT_EQ(file.GetFileSize(), 5001) << "failed writes change nothing";
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(MemoryFile, ZeroByteAndEndOfFileAreToldApartByEof) {
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(0));
    ASSERT_TRUE(file.PutC(0));
    ASSERT_TRUE(file.SeekToBegin());
    EXPECT_FALSE(file.Eof());
    EXPECT_EQ(file.GetC(), 0);
    EXPECT_EQ(file.GetPos(), 1);
    EXPECT_TRUE(file.Eof());
    EXPECT_EQ(file.GetC(), 0);
    EXPECT_EQ(file.GetPos(), 1);
}

TEST_F(MemoryFile, ObjectWithoutBuffer) {
    CxFile file;
    file.Initialize(QR_MemFile);
    EXPECT_EQ(file.GetPos(), -1);
    EXPECT_TRUE(file.Eof());
    EXPECT_FALSE(file.SeekToBegin());
    EXPECT_FALSE(file.Seek(0, 0));
    char c = 0;
    EXPECT_EQ(file.Read(&c, 1), 0u);
    EXPECT_EQ(file.Write("a", 1), 0u);
    EXPECT_EQ(file.GetC(), 0);
    EXPECT_FALSE(file.PutC('a'));
    EXPECT_EQ(file.Flush(), 0);
    EXPECT_EQ(file.GetFileSize(), 0);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(GetDllErrorNo(), 0);
}

TEST_F(MemoryFile, NullArgumentsAndZeroCounts) {
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(16));
    EXPECT_EQ(file.Read(nullptr, 4), 0u);
    EXPECT_EQ(file.Write(nullptr, 4), 0u);
    char c = 0;
    EXPECT_EQ(file.Read(&c, 0), 0u);
    EXPECT_EQ(file.Write(&c, 0), 0u);
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_EQ(file.GetFileSize(), 16);
}

TEST_F(MemoryFile, AttachedBufferStaysTheCallers) {
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    CxFile file;
    file.Initialize(buffer, 8);
    EXPECT_EQ(file.m_nFileType, QR_MemFile);
    EXPECT_EQ(file.m_bAttached, 1);
    EXPECT_EQ(file.GetFileSize(), 8);
    unsigned char out[8] = {};
    EXPECT_EQ(file.Read(out, 8), 8u);
    EXPECT_EQ(0, std::memcmp(out, buffer, 8));

    // Writes beyond the end store only what fits; the buffer is never reallocated (a stack
    // buffer handed to realloc would be caught by the address sanitizer).
    ASSERT_TRUE(file.Seek(6, 0));
    EXPECT_EQ(file.Write("abcd", 4), 2u);
    EXPECT_EQ(file.m_pBuffer, buffer);
    EXPECT_EQ(buffer[6], 'a');
    EXPECT_EQ(buffer[7], 'b');
    EXPECT_EQ(file.GetPos(), 8);
    EXPECT_FALSE(file.PutC('z')) << "no room left";
    EXPECT_EQ(file.Write("z", 1), 0u);
    EXPECT_EQ(file.Alloc(9), nullptr) << "a caller's buffer cannot grow";
    EXPECT_EQ(file.m_pBuffer, buffer);
    EXPECT_EQ(file.m_nBufferSize, 8);
    ASSERT_TRUE(file.Seek(100, 0));
    EXPECT_EQ(file.Write("z", 1), 0u);
    ASSERT_TRUE(file.Seek(0, 0));
    EXPECT_TRUE(file.PutC('Q'));
    EXPECT_EQ(buffer[0], 'Q');

    // Close leaves buffer and fields as they were.
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.m_pBuffer, buffer);
    EXPECT_EQ(file.m_bAttached, 1);
    EXPECT_EQ(file.GetFileSize(), 8);
    EXPECT_EQ(file.GetPos(), 1);
    EXPECT_EQ(buffer[0], 'Q');
}

TEST_F(MemoryFile, AttachedNullBufferThenOwnBuffer) {
    CxFile file;
    file.Initialize(nullptr, 5);
    EXPECT_EQ(file.Write("a", 1), 0u);
    EXPECT_FALSE(file.PutC('a'));
    EXPECT_EQ(file.GetPos(), -1);
    ASSERT_TRUE(file.CreateMemFile(8));
    EXPECT_EQ(file.m_bAttached, 0) << "the new buffer is the object's own";
    ASSERT_TRUE(file.Seek(0, 2));
    EXPECT_EQ(file.Write("0123456789", 10), 10u) << "and it grows";
    EXPECT_EQ(file.GetFileSize(), 18);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.m_pBuffer, nullptr) << "and Close frees it";
}

TEST_F(MemoryFile, CloseFreesOwnBufferAndKeepsTheKind) {
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(0));
    ASSERT_EQ(file.Write("hello", 5), 5u);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(file.m_pBuffer, nullptr);
    EXPECT_EQ(file.m_nFileType, QR_MemFile);
    EXPECT_EQ(file.GetFileSize(), 5) << "the old length stays";
    EXPECT_EQ(file.Write("x", 1), 0u);
    EXPECT_TRUE(file.Close()) << "a second Close releases nothing";
    ASSERT_TRUE(file.CreateMemFile(3));
    EXPECT_NE(file.m_pBuffer, nullptr);
    EXPECT_EQ(file.GetFileSize(), 3);
    EXPECT_TRUE(allZero(file.m_pBuffer, 0, 3));
}

TEST_F(MemoryFile, FailedGrowthLosesNothing) {
    CxFile file;
    ASSERT_TRUE(file.CreateMemFile(0));
    const auto bytes = patternBytes(4096, 9);
    ASSERT_EQ(file.Write(bytes.data(), 4096), 4096u);
    unsigned char* pBuffer = file.m_pBuffer;
    qr::sys::injectFault(qr::sys::Op::Alloc, 1, qr::sys::kErrorNoMemory, 0);
    EXPECT_EQ(file.Write("more", 4), 0u);
    EXPECT_FALSE(file.PutC('m'));
    EXPECT_EQ(file.Alloc(100000), nullptr);
    EXPECT_EQ(file.m_pBuffer, pBuffer) << "the old block stays";
    EXPECT_EQ(file.m_nBufferSize, 4096);
    EXPECT_EQ(file.GetFileSize(), 4096);
    EXPECT_EQ(file.GetPos(), 4096);
    EXPECT_EQ(0, std::memcmp(file.m_pBuffer, bytes.data(), 4096));

    CxFile other;
    EXPECT_FALSE(other.CreateMemFile(10));
    EXPECT_EQ(other.m_pBuffer, nullptr);
    EXPECT_EQ(other.m_nFileType, QR_DiskFile) << "the kind is unchanged";
    EXPECT_EQ(GetDllErrorNo(), 0) << "the memory kind stores no error numbers";

    qr::sys::clearFaults();
    EXPECT_EQ(file.Write("more", 4), 4u) << "growth works again once memory is back";
    EXPECT_EQ(file.m_nBufferSize, 8192);
}

TEST_F(MemoryFile, OtherKindValuesGiveFixedResults) {
    for (int nKind : {3, 7, -1}) {
        SCOPED_TRACE("kind " + std::to_string(nKind));
        CxFile file;
        file.Initialize(static_cast<QR_FileType>(nKind));
        EXPECT_EQ(file.m_nFileType, static_cast<QR_FileType>(nKind));
        char c = 0;
        EXPECT_TRUE(file.SeekToBegin());
        EXPECT_TRUE(file.Seek(5, 0));
        EXPECT_EQ(file.Read(&c, 1), 0u);
        EXPECT_EQ(file.Write("a", 1), 0u);
        EXPECT_EQ(file.GetPos(), 0);
        EXPECT_EQ(file.GetFileSize(), 0);
        EXPECT_EQ(file.Flush(), 0);
        EXPECT_FALSE(file.Eof());
        EXPECT_TRUE(file.PutC('a'));
        EXPECT_EQ(file.GetC(), 0);
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(MemoryFile, InitializeKeepsTheReadOnlyFlagAndResetsTheRest) {
    CxFile file;
    file.m_bReadOnly = true;
    ASSERT_TRUE(file.CreateMemFile(10));
    unsigned char* pBuffer = file.m_pBuffer;
    file.Initialize(QR_DiskFile);
    EXPECT_TRUE(file.m_bReadOnly);
    EXPECT_EQ(file.m_pBuffer, nullptr);
    EXPECT_EQ(file.m_nBufferSize, 0);
    EXPECT_EQ(file.m_nFileSize, 0);
    EXPECT_EQ(file.m_nPos, 0);
    EXPECT_EQ(file.m_hFile, qr::sys::kInvalidHandle);
    std::free(pBuffer);  // Initialize releases nothing: the buffer is ours to free now
}

}  // namespace
}  // namespace filetest
