// CxMapFile over page-file memory: the empty state, names, MapMemory, OpenMapping, UnMap, the busy
// wait and the refused combinations.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <set>

#include "mapfile_support.h"
#include "support/backend.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

TEST_F(MapFileTest, NewObjectIsEmpty) {
    Probe map;
    EXPECT_EQ(map.GetFileName(), "");
    EXPECT_EQ(map.GetMappingName(), "");
    EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
    EXPECT_EQ(map.GetFileMappingHandle(), qr::sys::kInvalidHandle);
    EXPECT_EQ(map.GetMappingSize(), 0);
    EXPECT_EQ(map.GetMapViewStart(), 0);
    EXPECT_FALSE(map.GetReadOlny());
    EXPECT_FALSE(map.GetAppendNull());
    EXPECT_EQ(map.m_CurrentView.lViewID, -1);
    EXPECT_EQ(map.m_CurrentView.pBase, nullptr);
    EXPECT_EQ(map.m_pViewList, nullptr);
    // UnMap releases to null, twice without harm.
    map.UnMap();
    EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
    EXPECT_TRUE(map.GetReadOlny());
    map.UnMap();
    EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
    EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(MapFileTest, RecordLayoutIsFixed) {
    EXPECT_EQ(offsetof(_tagMemView, lViewID), 0u);
    EXPECT_LT(offsetof(_tagMemView, lViewID), offsetof(_tagMemView, llOffset));
    EXPECT_LT(offsetof(_tagMemView, llOffset), offsetof(_tagMemView, lDelta));
    EXPECT_LT(offsetof(_tagMemView, lDelta), offsetof(_tagMemView, lSize));
    EXPECT_LT(offsetof(_tagMemView, lSize), offsetof(_tagMemView, pBase));
    EXPECT_LT(offsetof(_tagMemView, pBase), offsetof(_tagMemView, hMutex));
    EXPECT_LT(offsetof(_tagMemView, hMutex), offsetof(_tagMemView, bOpened));
    EXPECT_EQ(offsetof(_tagMemViewList, MemView), 0u);
    EXPECT_EQ(offsetof(_tagMemViewList, pNext), sizeof(_tagMemView));
    EXPECT_EQ(sizeof(_tagMemView::lSize), 4u);
    EXPECT_EQ(sizeof(_tagMemView::llOffset), 8u);
}

TEST_F(MapFileTest, MappingNamesReplaceBackslashesOnly) {
    Probe map;
    struct Row {
        const char* szName;
        const char* szExpected;
    };
    const Row rows[] = {
        {"D:\\survey\\line1.dat", "D:_survey_line1.dat"},
        {"Relative\\Path", "Relative_Path"},
        {"MiXeD Case/x", "MiXeD Case/x"},
        {"\xB1\x5C\xB2", "\xB1\x5F\xB2"},  // a trail byte 0x5C is replaced as well
        {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        EXPECT_EQ(map.CreateMappingName(row.szName, false), row.szExpected);
        EXPECT_EQ(map.CreateMappingName(row.szName, true), row.szExpected);
    }
    EXPECT_EQ(map.CreateMappingName(nullptr, false), "");
    // Random names: the documented text with a number from 0 to 32767, and no touch of rand().
    std::srand(77);
    const int nExpected = std::rand();
    std::srand(77);
    const std::regex pattern("MappingName([0-9]+)\\.mpf");
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string sName = map.CreateMappingName(nullptr, true);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(sName, match, pattern)) << sName;
        EXPECT_LE(std::stol(match[1].str()), 32767);
        names.insert(sName);
    }
    EXPECT_EQ(std::rand(), nExpected);
    EXPECT_GT(names.size(), 150u);
    // Mutex names: the mapping name, "_Mutex_" and the drawn text.
    std::strcpy(map.m_szMappingName, "Base");
    EXPECT_TRUE(std::regex_match(map.CreateMutexName(), std::regex("Base_Mutex_MutexName[0-9]+\\.mpf")));
}

TEST_F(MapFileTest, MapMemoryWithRandomNameAndAppendNull) {
    for (const bool bAppendNull : {false, true}) {
        SCOPED_TRACE(bAppendNull ? "append-null" : "plain");
        Probe map;
        ASSERT_TRUE(map.MapMemory(4096, bAppendNull, false, nullptr)) << notices.lastText();
        EXPECT_TRUE(std::regex_match(map.GetMappingName(), std::regex("MappingName[0-9]+\\.mpf")));
        EXPECT_EQ(map.GetMappingSize(), bAppendNull ? 4098 : 4096);
        EXPECT_EQ(map.GetAppendNull(), bAppendNull);
        EXPECT_FALSE(map.GetReadOlny());
        EXPECT_EQ(map.GetFileHandle(), qr::sys::kInvalidHandle);
        EXPECT_NE(map.GetFileMappingHandle(), nullptr);
        EXPECT_NE(map.GetFileMappingHandle(), qr::sys::kInvalidHandle);
        EXPECT_TRUE(mftest::objectExists(map.GetMappingName()));
        const std::string sName = map.GetMappingName();
        map.UnMap();
        EXPECT_FALSE(mftest::objectExists(sName));
        EXPECT_EQ(map.GetMappingName(), "");
        EXPECT_EQ(map.GetMappingSize(), bAppendNull ? 4098 : 4096);
    }
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(MapFileTest, RandomNamesNeverShareAnObject) {
    // Many random mappings alive at once: each draws a name nobody holds.
    constexpr int kCount = 300;
    std::vector<Probe> maps(kCount);
    std::set<std::string> names;
    for (Probe& map : maps) {
        ASSERT_TRUE(map.MapMemory(64, false, false, nullptr)) << notices.lastText();
        names.insert(map.GetMappingName());
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kCount));
    // Each is its own memory.
    for (int i = 0; i < kCount; ++i) {
        ASSERT_TRUE(maps[i].SetView(0, 0, 64));
        *static_cast<int*>(maps[i].UseView(0)) = i;
    }
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(*static_cast<int*>(maps[i].UseView(0)), i);
        maps[i].FreeView();
    }
}

TEST_F(MapFileTest, NamedMemoryIsOpenedByNameAndKnowsItsSize) {
    const std::string sName = mftest::uniqueName("named");
    const std::string sGiven = "Dir\\" + sName;
    const std::string sStored = "Dir_" + sName;
    const int64_t g = qr::sys::allocationGranularity();
    Probe owner;
    ASSERT_TRUE(owner.MapMemory(3 * g + 10, false, false, sGiven.c_str()));
    EXPECT_EQ(owner.GetMappingName(), sStored);
    ASSERT_TRUE(owner.SetView(1, 3 * g, 10));
    std::memcpy(owner.UseView(1), "0123456789", 10);

    Probe reader;
    ASSERT_TRUE(reader.OpenMapping(sGiven.c_str(), true)) << notices.lastText();
    EXPECT_EQ(reader.GetMappingName(), sStored);
    EXPECT_TRUE(reader.GetReadOlny());
    EXPECT_FALSE(reader.GetAppendNull());
    const int64_t llLearnt = qrtest::openedObjectSize(3 * g + 10);
    EXPECT_EQ(reader.GetMappingSize(), llLearnt);  // learnt from the object
    EXPECT_EQ(reader.GetFileHandle(), qr::sys::kInvalidHandle);
    // A view further in works, cut at the end the reader knows.
    ASSERT_TRUE(reader.SetView(7, 3 * g + 2, 100));
    EXPECT_EQ(reader.GetView(7)->lSize, std::min<int64_t>(2 + 100, llLearnt - 3 * g));
    EXPECT_EQ(std::memcmp(reader.UseView(7), "0123456789", 10), 0);

    // Creating the same name again shares the object.
    Probe second;
    ASSERT_TRUE(second.MapMemory(3 * g + 10, false, false, sGiven.c_str()));
    ASSERT_TRUE(second.SetView(0, 3 * g, 10));
    static_cast<char*>(second.UseView(0))[0] = 'X';
    EXPECT_EQ(static_cast<char*>(reader.UseView(7))[0], 'X');

    owner.FreeView();
    owner.UnMap();
    second.FreeView();
    second.UnMap();
    EXPECT_TRUE(mftest::objectExists(sStored));  // the reader still holds it
    reader.FreeView();
    reader.UnMap();
    EXPECT_FALSE(mftest::objectExists(sStored));
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(MapFileTest, FailuresReportTheSystemCauseAndReleaseAsDocumented) {
    const std::string sMissing = mftest::uniqueName("missing");
    {
        SCOPED_TRACE("OpenMapping of a missing name");
        Probe map;
        EXPECT_FALSE(map.OpenMapping(sMissing.c_str(), false));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNotFound));
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        EXPECT_TRUE(map.GetReadOlny());
        EXPECT_EQ(map.GetMappingName(), "");
        EXPECT_EQ(map.GetMappingSize(), 0);
    }
    {
        SCOPED_TRACE("OpenMapping for writing of a read-only mapping");
        const std::string sName = mftest::uniqueName("ro");
        Probe owner;
        ASSERT_TRUE(owner.MapMemory(100, false, true, sName.c_str()));
        Probe map;
        ReportError(0);
        // (Wine lets a handle opened for writing map a read-only object writable: not checked there.)
        if (!qrtest::backend().bWine) {
            EXPECT_FALSE(map.OpenMapping(sName.c_str(), false));
            EXPECT_EQ(GetDllErrorNo(), 1000000);
            EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorAccessDenied));
            EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        }
        EXPECT_TRUE(map.OpenMapping(sName.c_str(), true));
    }
    {
        SCOPED_TRACE("names over 255 bytes");
        Probe map;
        const std::string sLong(256, 'n');
        ReportError(0);
        EXPECT_FALSE(map.MapMemory(100, false, false, sLong.c_str()));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNameTooLong));
        EXPECT_EQ(map.GetFileMappingHandle(), qr::sys::kInvalidHandle);  // nothing was touched
        EXPECT_EQ(map.GetMappingName(), "");
        ReportError(0);
        EXPECT_FALSE(map.OpenMapping(sLong.c_str(), true));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNameTooLong));
        // 255 bytes fit.
        const std::string sFits = mftest::uniqueName("fits") + std::string(200, 'f');
        ASSERT_LE(sFits.size(), 255u);
        EXPECT_TRUE(map.MapMemory(100, false, false, sFits.c_str())) << notices.lastText();
        EXPECT_EQ(map.GetMappingName(), sFits);
    }
    {
        SCOPED_TRACE("append-null with read-only");
        Probe map;
        ReportError(0);
        EXPECT_FALSE(map.MapMemory(100, true, true, nullptr));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorInvalidArgument));
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        EXPECT_EQ(map.GetMappingSize(), 102);
    }
    {
        SCOPED_TRACE("the platform refuses the object");
        Probe map;
        ReportError(0);
        qr::sys::injectFault(qr::sys::Op::CreateMapping, 1, qr::sys::kErrorNoMemory);
        EXPECT_FALSE(map.MapMemory(100, false, false, "x"));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNoMemory));
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        EXPECT_EQ(map.GetMappingName(), "x");
        EXPECT_EQ(map.GetMappingSize(), 100);
    }
}

TEST_F(MapFileTest, ReleaseBuildsDoNotCheckPreconditions) {
#ifndef NDEBUG
    GTEST_SKIP() << "debug build: the preconditions are asserted (see the debug suite)";
#endif
    Probe map;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(map.MapMemory(0, false, false, nullptr));
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_FALSE(map.CreateMapping(-5));
    // Offsets and sizes out of range fail cleanly, with no address outside a view handed out.
    struct Row {
        const char* szWhat;
        int64_t llOffset;
        int32_t lSize;
    };
    const Row rows[] = {
        {"negative offset", -5, 10},
        {"offset near the 64-bit limit", INT64_MAX - 10, 100},
        {"offset at the 64-bit floor", INT64_MIN, 100},
        {"negative size", 0, -100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        Probe mapped;
        ASSERT_TRUE(mapped.MapMemory(4096, false, false, nullptr));
        ReportError(0);
        _tagMemView view{3, row.llOffset, 0, row.lSize, nullptr, nullptr, false};
        EXPECT_EQ(mapped.MapView(view), nullptr);
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(mapped.GetFileMappingHandle(), nullptr);
        ASSERT_TRUE(mapped.MapMemory(4096, false, false, nullptr));
        ReportError(0);
        EXPECT_FALSE(mapped.SetView(row.lSize < 0 ? 1 : -1, row.llOffset, row.lSize));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(mapped.m_pViewList, nullptr);
    }
    const std::string sErr = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(sErr.find("cmemmap"), std::string::npos) << sErr;
}

TEST_F(MapFileTest, WaitMomentSpinsForTheGivenTime) {
    Probe map;
    const auto start = std::chrono::steady_clock::now();
    map.WaitMoment(0.02);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(19));
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    // Nothing to wait for: returns at once.
    const auto start2 = std::chrono::steady_clock::now();
    map.WaitMoment(0.0);
    map.WaitMoment(-3.0);
    map.WaitMoment(std::nan(""));
    map.WaitMoment(-std::numeric_limits<double>::infinity());
    map.WaitMoment(0.0004);  // below one tick
    EXPECT_LT(std::chrono::steady_clock::now() - start2, std::chrono::milliseconds(500));
}

}  // namespace
