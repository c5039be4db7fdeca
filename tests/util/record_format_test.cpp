// Column widths of blank-separated records and their split form.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qrcore/util.h"

namespace {

std::vector<int32_t> analyse(const std::string& sRecord, int32_t& nCount) {
    const std::string sBefore = sRecord;
    int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nCount);
    EXPECT_EQ(sRecord, sBefore);
    std::vector<int32_t> widths;
    if (pWidths != nullptr) {
        widths.assign(pWidths, pWidths + nCount);
        std::free(pWidths);  // the caller's to free, with the C run-time's free
    }
    return widths;
}

// The split form as the list of its zero-terminated strings.
std::vector<std::string> splitForm(const std::string& sRecord, int32_t& nCount) {
    std::vector<char> buffer(sRecord.size() + 1 + 4, '#');
    nCount = SplitRecord(sRecord.c_str(), buffer.data());
    EXPECT_EQ(buffer[sRecord.size() + 1], '#');  // the copy needs length + 1 bytes, no more
    std::vector<std::string> strings;
    const char* p = buffer.data();
    for (int32_t i = 0; i < nCount; ++i) {
        strings.emplace_back(p);
        p += strings.back().size() + 1;
    }
    return strings;
}

TEST(RecordFormat, AnalyseGivesColumnWidths) {
    const struct {
        const char* szRecord;
        std::vector<int32_t> widths;
    } rows[] = {
        {"  AL0123  12.5   3.0", {8, 6, 6}},
        {"abc", {3}},
        {"  a", {3}},
        {"a b", {1, 2}},
        {" a  b c ", {2, 3, 2}},
        {"a\tb c", {3, 2}},  // a tab is no blank
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szRecord);
        int32_t nCount = -7;
        EXPECT_EQ(analyse(row.szRecord, nCount), row.widths);
        EXPECT_EQ(nCount, static_cast<int32_t>(row.widths.size()));
    }
}

TEST(RecordFormat, AnalyseOfEmptyOrBlankRecords) {
    int32_t nCount = 77;
    EXPECT_EQ(RecordFormatAnalyse("", &nCount), nullptr);
    EXPECT_EQ(nCount, 77);  // not written for an empty record
    EXPECT_EQ(RecordFormatAnalyse("   ", &nCount), nullptr);
    EXPECT_EQ(nCount, 0);
    nCount = 77;
    EXPECT_EQ(RecordFormatAnalyse(nullptr, &nCount), nullptr);
    EXPECT_EQ(nCount, 77);
}

TEST(RecordFormat, AnalyseWithoutMemoryReturnsNull) {
    int32_t nCount = 77;
    qr::sys::injectFault(qr::sys::Op::Alloc, 1, ENOMEM);
    EXPECT_EQ(RecordFormatAnalyse("a b c", &nCount), nullptr);
    qr::sys::clearFaults();
    EXPECT_EQ(nCount, 0);
}

TEST(RecordFormat, SplitRecordCutsAfterEachField) {
    const struct {
        const char* szRecord;
        std::vector<std::string> fields;
    } rows[] = {
        {"ab  cd ", {"ab", " cd"}},
        {"ab  cd", {"ab", " cd"}},
        {"   ", {}},
        {"", {}},
        {"  x", {"  x"}},
        {"  AL0123  12.5   3.0", {"  AL0123", " 12.5", "  3.0"}},
        {"a b", {"a", "b"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.szRecord);
        int32_t nCount = -1;
        EXPECT_EQ(splitForm(row.szRecord, nCount), row.fields);
        EXPECT_EQ(nCount, static_cast<int32_t>(row.fields.size()));
    }
    char szBuffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(SplitRecord(nullptr, szBuffer), 0);
    EXPECT_EQ(szBuffer[0], '\0');
    EXPECT_EQ(SplitRecord("a", nullptr), 0);
}

// Random records built from known fields and blank runs: the widths and the split form must
// follow from how the record was built.
TEST(RecordFormat, RandomRecordsAgreeWithTheirConstruction) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> fieldCount(0, 12), fieldLength(1, 9), blanks(1, 4),
        character(0x21, 0xFF);
    for (int nRound = 0; nRound < 3000; ++nRound) {
        std::string sRecord(static_cast<std::size_t>(rng() % 4), ' ');  // leading blanks
        std::vector<int32_t> widths;
        std::vector<std::string> fields;
        const int nFields = fieldCount(rng);
        std::size_t nPrevEnd = 0;
        std::string sBlanks = sRecord;
        for (int f = 0; f < nFields; ++f) {
            if (f > 0) {
                sBlanks.assign(static_cast<std::size_t>(blanks(rng)), ' ');
                sRecord += sBlanks;
            }
            std::string sField;
            for (int i = fieldLength(rng); i > 0; --i) sField.push_back(static_cast<char>(character(rng)));
            sRecord += sField;
            widths.push_back(static_cast<int32_t>(sRecord.size() - nPrevEnd));
            nPrevEnd = sRecord.size();
            fields.push_back((f == 0 ? sBlanks : sBlanks.substr(1)) + sField);
        }
        sRecord.append(static_cast<std::size_t>(rng() % 3), ' ');  // trailing blanks
        SCOPED_TRACE(sRecord);

        int32_t nCount = -1;
        const std::vector<int32_t> got = analyse(sRecord, nCount);
        if (nFields == 0) {
            EXPECT_TRUE(got.empty());
            if (!sRecord.empty()) {
                EXPECT_EQ(nCount, 0);
            }
        } else {
            EXPECT_EQ(nCount, nFields);
            EXPECT_EQ(got, widths);
        }
        EXPECT_EQ(splitForm(sRecord, nCount), fields);
        EXPECT_EQ(nCount, nFields);
    }
}

}  // namespace
