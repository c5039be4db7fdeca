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

// The first implementation of both functions (two passes over the record, byte by byte), kept
// as the reference that the faster one must match exactly.
namespace reference {

template <typename OnField>
void forEachFieldEnd(const char* szRecord, OnField onField) {
    std::size_t i = 0;
    for (;;) {
        while (szRecord[i] == ' ') ++i;
        if (szRecord[i] == '\0') return;
        while (szRecord[i] != ' ' && szRecord[i] != '\0') ++i;
        onField(i);
    }
}

std::vector<int32_t> analyse(const char* szRecord, int32_t& nCount, bool& bNull) {
    bNull = true;
    if (szRecord[0] == '\0') return {};
    std::size_t nFields = 0;
    forEachFieldEnd(szRecord, [&](std::size_t) { ++nFields; });
    nCount = static_cast<int32_t>(nFields);
    if (nFields == 0) return {};
    std::vector<int32_t> widths;
    std::size_t nPrevEnd = 0;
    forEachFieldEnd(szRecord, [&](std::size_t nEnd) {
        widths.push_back(static_cast<int32_t>(nEnd - nPrevEnd));
        nPrevEnd = nEnd;
    });
    bNull = false;
    return widths;
}

int32_t split(const char* szRecord, char* szBuffer) {
    const std::size_t nLength = std::strlen(szRecord);
    std::memmove(szBuffer, szRecord, nLength + 1);
    int32_t nCount = 0;
    std::size_t i = 0;
    for (;;) {
        while (szBuffer[i] == ' ') ++i;
        if (szBuffer[i] == '\0') break;
        while (szBuffer[i] != ' ' && szBuffer[i] != '\0') ++i;
        ++nCount;
        if (szBuffer[i] == '\0') break;
        szBuffer[i++] = '\0';
    }
    return nCount;
}

}  // namespace reference

// Random ragged records of every length up to a few machine words past 256 (so every alignment
// and every word boundary is crossed), with runs of blanks and field characters of all kinds,
// tabs and bytes above 0x7F included: the widths, the count, a null result and the split form
// must be those of the reference, byte for byte.
TEST(RecordFormat, AgreesWithTheReferenceOnRandomRaggedRecords) {
    std::mt19937 rng(20240611);
    for (int nRound = 0; nRound < 20000; ++nRound) {
        const std::size_t nLength = rng() % 300;
        const int nBlankRun = 1 + static_cast<int>(rng() % 6), nFieldRun = 1 + static_cast<int>(rng() % 12);
        std::string sRecord;
        bool bBlank = rng() % 2 == 0;
        while (sRecord.size() < nLength) {
            const std::size_t nRun = 1 + rng() % static_cast<unsigned>(bBlank ? nBlankRun : nFieldRun);
            for (std::size_t i = 0; i < nRun && sRecord.size() < nLength; ++i) {
                const char kFieldChars[] = {'1', '.', 'x', '*', '\t', '\x80', '\xff', '!', '~', '\x1f', '\x21'};
                sRecord.push_back(bBlank ? ' ' : kFieldChars[rng() % sizeof kFieldChars]);
            }
            bBlank = !bBlank;
        }
        SCOPED_TRACE(::testing::PrintToString(sRecord));

        int32_t nExpected = -5, nGot = -5;
        bool bExpectedNull = false;
        const std::vector<int32_t> expected = reference::analyse(sRecord.c_str(), nExpected, bExpectedNull);
        int32_t* pWidths = RecordFormatAnalyse(sRecord.c_str(), &nGot);
        EXPECT_EQ(pWidths == nullptr, bExpectedNull);
        EXPECT_EQ(nGot, nExpected);
        if (pWidths != nullptr) {
            EXPECT_EQ(std::vector<int32_t>(pWidths, pWidths + nGot), expected);
            std::free(pWidths);
        }

        std::vector<char> want(sRecord.size() + 1), got(sRecord.size() + 1);
        EXPECT_EQ(SplitRecord(sRecord.c_str(), got.data()), reference::split(sRecord.c_str(), want.data()));
        EXPECT_EQ(got, want);
        // In place, as callers may split their own buffer.
        std::vector<char> inPlace(sRecord.begin(), sRecord.end());
        inPlace.push_back('\0');
        EXPECT_EQ(SplitRecord(inPlace.data(), inPlace.data()), reference::split(sRecord.c_str(), want.data()));
        EXPECT_EQ(inPlace, want);
    }
}

}  // namespace
