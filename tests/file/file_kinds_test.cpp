// File objects: the behaviour the disk, temporary and memory kinds share, checked against an
// independent model of a byte file (a vector and a position).
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "file_fixture.h"
#include "qrcore/error.h"
#include "qrcore/file.h"
#include "support/scratch.h"

namespace filetest {
namespace {

enum class Kind { Disk, Temp, Memory };

std::string kindName(const ::testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
    case Kind::Disk: return "Disk";
    case Kind::Temp: return "Temp";
    case Kind::Memory: return "Memory";
    }
    return "Unknown";
}

// A byte file as the kinds should all behave: writes past the end leave a zero gap.
struct ModelFile {
    std::vector<unsigned char> data;
    int64_t llPos = 0;

    uint32_t write(const unsigned char* p, uint32_t n) {
        const auto nEnd = static_cast<std::size_t>(llPos) + n;
        if (data.size() < nEnd) data.resize(nEnd, 0);
        std::memcpy(data.data() + llPos, p, n);
        llPos += n;
        return n;
    }
    uint32_t read(unsigned char* p, uint32_t n) {
        const auto llSize = static_cast<int64_t>(data.size());
        if (llPos >= llSize) return 0;
        const auto nRead = static_cast<uint32_t>(std::min<int64_t>(n, llSize - llPos));
        std::memcpy(p, data.data() + llPos, nRead);
        llPos += nRead;
        return nRead;
    }
    bool seek(int64_t llOffset, uint32_t nOrigin) {
        const int64_t llBase = nOrigin == 0 ? 0 : nOrigin == 1 ? llPos : static_cast<int64_t>(data.size());
        llPos = llBase + llOffset;
        return true;
    }
    int64_t size() const { return static_cast<int64_t>(data.size()); }
};

class FileKinds : public FileTest, public ::testing::WithParamInterface<Kind> {
protected:
    // Opens file as an empty file of the kind under test.
    void openEmpty(CxFile& file) {
        switch (GetParam()) {
        case Kind::Disk:
            ASSERT_TRUE(file.Create(scratch.file("disk.dat").c_str()));
            ASSERT_EQ(file.m_nFileType, QR_DiskFile);
            break;
        case Kind::Temp:
            ASSERT_TRUE(file.CreateTempFile("kin", 0));
            ASSERT_EQ(file.m_nFileType, QR_TempFile);
            break;
        case Kind::Memory:
            ASSERT_TRUE(file.CreateMemFile(0));
            ASSERT_EQ(file.m_nFileType, QR_MemFile);
            break;
        }
    }
    // The file's whole contents, from the disk or from the buffer.
    std::vector<unsigned char> contents(CxFile& file) {
        if (GetParam() == Kind::Memory)
            return std::vector<unsigned char>(file.m_pBuffer, file.m_pBuffer + file.m_nFileSize);
        EXPECT_NE(file.Flush(), 0);
        return readThrough(file.GetFileHandle());
    }
};

TEST_P(FileKinds, WriteSeekReadBackWithTheThreeOrigins) {
    CxFile file;
    openEmpty(file);
    EXPECT_EQ(file.GetFileSize(), 0);
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_TRUE(file.Eof());

    const auto bytes = patternBytes(10000, 7);
    ASSERT_EQ(file.Write(bytes.data(), 10000), 10000u);
    EXPECT_EQ(file.GetPos(), 10000);
    EXPECT_EQ(file.GetFileSize(), 10000);
    EXPECT_TRUE(file.Eof());

    ASSERT_TRUE(file.SeekToBegin());
    EXPECT_EQ(file.GetPos(), 0);
    EXPECT_FALSE(file.Eof());
    std::vector<unsigned char> back(12000, 0xEE);
    EXPECT_EQ(file.Read(back.data(), 12000), 10000u) << "a read stops at the end";
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
    EXPECT_EQ(back[10000], 0xEE) << "nothing beyond the data is delivered";
    EXPECT_TRUE(file.Eof());
    EXPECT_EQ(file.Read(back.data(), 10), 0u) << "at the end a read delivers nothing";
    EXPECT_EQ(GetDllErrorNo(), 0);

    struct SeekRow {
        const char* szName;
        int64_t llOffset;
        uint32_t nOrigin;
        int64_t llExpected;
    };
    const SeekRow rows[] = {
        {"from the beginning", 100, 0, 100},  // each row below reads one byte after its seek
        {"forward from the current position", 50, 1, 151},
        {"backward from the current position", -30, 1, 122},
        {"back from the end", -10, 2, 9990},
        {"to the end", 0, 2, 10000},
        {"back to the start", 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szName);
        ASSERT_TRUE(file.Seek(row.llOffset, row.nOrigin));
        EXPECT_EQ(file.GetPos(), row.llExpected);
        unsigned char c = 0;
        if (row.llExpected < 10000) {
            EXPECT_EQ(file.Read(&c, 1), 1u);
            EXPECT_EQ(c, bytes[static_cast<std::size_t>(row.llExpected)]);
            EXPECT_EQ(file.GetPos(), row.llExpected + 1);
            EXPECT_FALSE(file.Eof());
        } else {
            EXPECT_TRUE(file.Eof());
        }
    }

    // Overwrite in the middle, then append with PutC, and read it all back with GetC.
    ASSERT_TRUE(file.Seek(5000, 0));
    ASSERT_EQ(file.Write("overwrite", 9), 9u);
    ASSERT_TRUE(file.Seek(0, 2));
    for (unsigned char c : {'x', 'y', '\0', 'z'}) EXPECT_TRUE(file.PutC(c));
    EXPECT_EQ(file.GetFileSize(), 10004);
    auto expected = bytes;
    std::memcpy(expected.data() + 5000, "overwrite", 9);
    for (unsigned char c : {'x', 'y', '\0', 'z'}) expected.push_back(c);
    ASSERT_TRUE(file.SeekToBegin());
    std::vector<unsigned char> viaGetC;
    while (!file.Eof()) viaGetC.push_back(file.GetC());
    EXPECT_EQ(viaGetC, expected);
    EXPECT_EQ(file.GetC(), 0) << "GetC at the end";
    EXPECT_EQ(file.GetPos(), 10004) << "GetC at the end leaves the position";
    EXPECT_EQ(contents(file), expected);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(GetDllErrorNo(), 0);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_P(FileKinds, RandomOperationsMatchTheModel) {
    CxFile file;
    openEmpty(file);
    ModelFile model;
    std::mt19937 gen(20261209u + static_cast<uint32_t>(GetParam()));
    auto pick = [&gen](int64_t n) { return static_cast<int64_t>(gen() % static_cast<uint32_t>(n)); };
    std::vector<unsigned char> scratchBuf(9000), modelBuf(9000);
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE("operation " + std::to_string(i));
        switch (pick(7)) {
        case 0: {  // write a block
            const auto n = static_cast<uint32_t>(1 + pick(8999));
            const auto bytes = patternBytes(n, static_cast<uint32_t>(i));
            ASSERT_EQ(file.Write(bytes.data(), n), model.write(bytes.data(), n));
            break;
        }
        case 1: {  // read a block
            const auto n = static_cast<uint32_t>(1 + pick(8999));
            const uint32_t nGot = file.Read(scratchBuf.data(), n);
            ASSERT_EQ(nGot, model.read(modelBuf.data(), n));
            ASSERT_EQ(0, std::memcmp(scratchBuf.data(), modelBuf.data(), nGot));
            break;
        }
        case 2: {  // seek somewhere between the start and a little beyond the end
            const int64_t llTarget = pick(model.size() + 3000);
            const auto nOrigin = static_cast<uint32_t>(pick(3));
            const int64_t llOffset = llTarget - (nOrigin == 0 ? 0 : nOrigin == 1 ? model.llPos : model.size());
            ASSERT_TRUE(file.Seek(llOffset, nOrigin));
            model.seek(llOffset, nOrigin);
            break;
        }
        case 3: {
            const auto c = static_cast<unsigned char>(pick(256));
            ASSERT_TRUE(file.PutC(c));
            model.write(&c, 1);
            break;
        }
        case 4: {
            unsigned char c = 0;
            const unsigned char cExpected = model.read(&c, 1) == 1 ? c : 0;
            ASSERT_EQ(file.GetC(), cExpected);
            break;
        }
        case 5:
            ASSERT_EQ(file.Eof(), model.llPos >= model.size());
            break;
        default:
            ASSERT_EQ(file.GetPos(), model.llPos);
            ASSERT_EQ(file.GetFileSize(), model.size());
            break;
        }
    }
    EXPECT_EQ(file.GetFileSize(), model.size());
    EXPECT_EQ(contents(file), model.data);
    EXPECT_EQ(GetDllErrorNo(), 0);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, FileKinds, ::testing::Values(Kind::Disk, Kind::Temp, Kind::Memory), kindName);

}  // namespace
}  // namespace filetest
