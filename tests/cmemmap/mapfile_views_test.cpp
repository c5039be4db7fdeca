// CxMapFile views over page-file memory: alignment and cuts, caller records, the view list, copies,
// append-null terminators, and OpenView / CloseView between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "mapfile_support.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

// Fills a page-file mapping of llSize bytes with a pattern whose every byte tells its offset.
unsigned char patternAt(int64_t llOffset) { return static_cast<unsigned char>((llOffset * 7 + llOffset / 251) & 0xFF); }

void fillPattern(Probe& map, int64_t llSize) {
    _tagMemView view{0, 0, 0, static_cast<int32_t>(llSize), nullptr, nullptr, false};
    auto* p = static_cast<unsigned char*>(map.MapView(view));
    ASSERT_NE(p, nullptr);
    for (int64_t i = 0; i < llSize; ++i) p[i] = patternAt(i);
    map.UnMapView(view);
}

class Views : public MapFileTest {
protected:
    void SetUp() override {
        MapFileTest::SetUp();
        g = qr::sys::allocationGranularity();
    }
    int64_t g = 0;
};

TEST_F(Views, ListViewsAreAlignedAndCutAtTheDataEndAtBothGranularities) {
    for (const uint32_t nGranularity : {0u, 65536u}) {
        ASSERT_TRUE(qr::sys::setAllocationGranularity(nGranularity));
        g = qr::sys::allocationGranularity();
        SCOPED_TRACE("granularity " + std::to_string(g));
        const int64_t llData = 3 * g + 1234;  // not a multiple of the granularity
        for (const bool bAppendNull : {false, true}) {
            SCOPED_TRACE(bAppendNull ? "append-null" : "plain");
            Probe map;
            ASSERT_TRUE(map.MapMemory(llData, bAppendNull, false, nullptr));
            fillPattern(map, llData);
            struct Row {
                int64_t llOffset;
                int32_t lSize;
                int64_t llAligned;
                int32_t lExpected;
            };
            const Row rows[] = {
                {g + 100, 50, g, 150},
                {0, 10, 0, 10},
                {2 * g, static_cast<int32_t>(5 * g), 2 * g, static_cast<int32_t>(llData - 2 * g)},
                {3 * g + 1000, 100000, 3 * g, 1234},
                {g - 1, 1, 0, static_cast<int32_t>(g)},
                {llData - 1, 1, 3 * g, 1234},
            };
            int32_t lId = 0;
            for (const Row& row : rows) {
                SCOPED_TRACE("offset " + std::to_string(row.llOffset));
                ASSERT_TRUE(map.SetView(lId, row.llOffset, row.lSize));
                const _tagMemView* pView = map.GetView(lId);
                ASSERT_NE(pView, nullptr);
                EXPECT_EQ(pView->llOffset, row.llAligned);
                EXPECT_EQ(pView->lSize, row.lExpected);
                EXPECT_EQ(pView->lDelta, 0);
                EXPECT_EQ(map.GetMapViewStart(), row.llAligned);
                EXPECT_EQ(map.m_CurrentView.lViewID, lId);
                auto* p = static_cast<const unsigned char*>(map.UseView(lId));
                ASSERT_EQ(p, pView->pBase);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % static_cast<uintptr_t>(g), 0u);
                // Every byte of the view is the data at its file offset.
                for (int32_t i = 0; i < pView->lSize; ++i)
                    ASSERT_EQ(p[i], patternAt(row.llAligned + i)) << "byte " << i;
                if (bAppendNull && row.llAligned + pView->lSize == llData) {
                    EXPECT_EQ(p[pView->lSize], 0);
                    EXPECT_EQ(p[pView->lSize + 1], 0);
                }
                ++lId;
            }
            map.FreeView();
        }
    }
}

TEST_F(Views, AppendNullZeroesOnlyAfterTheDataEnd) {
    Probe map;
    const int64_t llData = 2 * g + 100;
    ASSERT_TRUE(map.MapMemory(llData, true, false, nullptr));
    fillPattern(map, llData);
    // A view that ends inside the data leaves the bytes after it alone.
    ASSERT_TRUE(map.SetView(0, 0, 10));
    auto* p = static_cast<unsigned char*>(map.UseView(0));
    EXPECT_EQ(p[10], patternAt(10));
    EXPECT_EQ(p[11], patternAt(11));
    // One that reaches the end gets two zero bytes usable as a terminator.
    ASSERT_TRUE(map.SetView(1, 2 * g, 100));
    auto* pEnd = static_cast<unsigned char*>(map.UseView(1));
    EXPECT_EQ(pEnd[100], 0);
    EXPECT_EQ(pEnd[101], 0);
    EXPECT_EQ(pEnd[99], patternAt(2 * g + 99));
    map.FreeView();
}

TEST_F(Views, CallerRecordsGetDeltaAndCurrentView) {
    Probe map;
    const int64_t llData = 4 * g;
    ASSERT_TRUE(map.MapMemory(llData, false, false, nullptr));
    fillPattern(map, llData);
    _tagMemView view{42, g + 100, 0, 50, nullptr, nullptr, false};
    auto* p = static_cast<unsigned char*>(map.MapView(view));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(view.llOffset, g);
    EXPECT_EQ(view.lSize, 150);
    EXPECT_EQ(view.lDelta, 100);
    EXPECT_EQ(p, static_cast<unsigned char*>(view.pBase) + 100);
    EXPECT_EQ(*p, patternAt(g + 100));
    EXPECT_TRUE(view.bOpened);
    EXPECT_NE(view.hMutex, nullptr);
    EXPECT_EQ(map.GetMapViewStart(), g);
    EXPECT_EQ(map.m_CurrentView.lViewID, 42);
    EXPECT_EQ(map.UseView(42), p);  // answered from the current view
    EXPECT_TRUE(map.Flush(view));
    // Mapped again: already aligned, so the delta is 0 now.
    void* pAgain = map.MapView(view);
    ASSERT_NE(pAgain, nullptr);
    EXPECT_EQ(view.lDelta, 0);
    EXPECT_EQ(pAgain, view.pBase);
    map.UnMapView(view);
    EXPECT_EQ(view.pBase, nullptr);
    EXPECT_EQ(view.hMutex, nullptr);
    EXPECT_EQ(view.lSize, 150);
    EXPECT_EQ(map.m_CurrentView.lViewID, -1);
    EXPECT_FALSE(map.Flush(view));
    map.UnMapView(view);  // nothing left to do
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(Views, ViewListIdsRemappingAndFreeing) {
    Probe map;
    const int64_t llData = 8 * g;
    ASSERT_TRUE(map.MapMemory(llData, false, false, nullptr));
    fillPattern(map, llData);
    for (int32_t i = 0; i < 4; ++i) ASSERT_TRUE(map.SetView(10 + i, i * g, static_cast<int32_t>(g)));
    EXPECT_EQ(map.ids(), (std::vector<int32_t>{10, 11, 12, 13}));
    EXPECT_EQ(map.m_CurrentView.lViewID, 13);

    // A taken id is refused and that view stays as it was.
    const _tagMemView before = *map.GetView(11);
    EXPECT_FALSE(map.SetView(11, 5 * g, 10));
    EXPECT_EQ(map.GetView(11)->llOffset, before.llOffset);
    EXPECT_EQ(map.GetView(11)->pBase, before.pBase);
    EXPECT_TRUE(notices.notices.empty());

    // Another mapped view answers without becoming current.
    EXPECT_EQ(map.UseView(11), before.pBase);
    EXPECT_EQ(map.m_CurrentView.lViewID, 13);
    EXPECT_EQ(map.UseView(99), nullptr);
    EXPECT_EQ(map.GetView(99), nullptr);

    // Unmapped through the list's record, it is mapped again by the next use.
    map.UnMapView(*map.GetView(11));
    EXPECT_EQ(map.GetView(11)->pBase, nullptr);
    auto* p = static_cast<unsigned char*>(map.UseView(11));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(map.GetView(11)->pBase, p);
    EXPECT_EQ(p[5], patternAt(g + 5));
    EXPECT_EQ(map.m_CurrentView.lViewID, 11);
    EXPECT_NE(map.GetView(11)->hMutex, nullptr);

    // FindView reports the predecessor, or the last node when the id is missing.
    _tagMemViewList* pPrev = reinterpret_cast<_tagMemViewList*>(1);
    EXPECT_EQ(map.FindView(10, &pPrev), map.GetView(10));
    EXPECT_EQ(pPrev, nullptr);
    EXPECT_EQ(map.FindView(12, &pPrev), map.GetView(12));
    EXPECT_EQ(&pPrev->MemView, map.GetView(11));
    EXPECT_EQ(map.FindView(77, &pPrev), nullptr);
    EXPECT_EQ(&pPrev->MemView, map.GetView(13));

    // Freeing the current view with a predecessor maps the predecessor again and makes it current.
    map.FreeView(11);
    EXPECT_EQ(map.ids(), (std::vector<int32_t>{10, 12, 13}));
    EXPECT_EQ(map.m_CurrentView.lViewID, 10);
    EXPECT_EQ(map.GetMapViewStart(), 0);
    EXPECT_EQ(map.UseView(11), nullptr);
    // Freeing a view that is not current leaves the current one.
    map.FreeView(12);
    EXPECT_EQ(map.m_CurrentView.lViewID, 10);
    // Freeing the first view while current makes its successor current.
    map.FreeView(10);
    EXPECT_EQ(map.ids(), (std::vector<int32_t>{13}));
    EXPECT_EQ(map.m_CurrentView.lViewID, 13);
    EXPECT_EQ(map.GetMapViewStart(), 3 * g);
    EXPECT_EQ(static_cast<unsigned char*>(map.UseView(13))[1], patternAt(3 * g + 1));
    // Freeing the only view leaves no current view.
    map.FreeView(13);
    EXPECT_EQ(map.m_pViewList, nullptr);
    EXPECT_EQ(map.m_CurrentView.lViewID, -1);
    EXPECT_EQ(map.UseView(13), nullptr);
    map.FreeView(13);  // missing: nothing happens

    // FreeView() empties the list; any id can be used again.
    for (int32_t i = 0; i < 3; ++i) ASSERT_TRUE(map.SetView(i, 0, 10));
    map.FreeView();
    EXPECT_EQ(map.m_pViewList, nullptr);
    EXPECT_EQ(map.m_CurrentView.lViewID, -1);
    EXPECT_TRUE(map.SetView(1, 0, 10));
    map.FreeView();
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(Views, ViewCopyCopiesTheSmallerSizeAndFreesBoth) {
    Probe map;
    const int64_t llData = 8 * g;
    ASSERT_TRUE(map.MapMemory(llData, false, false, nullptr));
    fillPattern(map, llData);
    {
        SCOPED_TRACE("100-byte source into a 50-byte destination");
        ASSERT_TRUE(map.SetView(1, 0, 100));
        ASSERT_TRUE(map.SetView(2, 4 * g, 50));
        ASSERT_TRUE(map.SetView(3, 6 * g, 10));
        map.ViewCopy(2, 1);
        EXPECT_EQ(map.ids(), (std::vector<int32_t>{3}));
        ASSERT_TRUE(map.SetView(4, 4 * g, 60));
        auto* p = static_cast<unsigned char*>(map.UseView(4));
        for (int i = 0; i < 50; ++i) ASSERT_EQ(p[i], patternAt(i)) << i;
        for (int i = 50; i < 60; ++i) ASSERT_EQ(p[i], patternAt(4 * g + i)) << i;
        map.FreeView();
    }
    {
        SCOPED_TRACE("missing id");
        ASSERT_TRUE(map.SetView(1, 0, 100));
        map.ViewCopy(1, 9);
        map.ViewCopy(9, 1);
        EXPECT_EQ(map.ids(), (std::vector<int32_t>{1}));
        EXPECT_EQ(static_cast<unsigned char*>(map.UseView(1))[3], patternAt(3));
    }
    {
        SCOPED_TRACE("same id");
        map.ViewCopy(1, 1);
        EXPECT_EQ(map.m_pViewList, nullptr);
        ASSERT_TRUE(map.SetView(1, 0, 100));
        for (int i = 0; i < 100; ++i) ASSERT_EQ(static_cast<unsigned char*>(map.UseView(1))[i], patternAt(i));
        map.FreeView();
    }
    for (const bool bForward : {true, false}) {
        SCOPED_TRACE(bForward ? "overlap, destination after source" : "overlap, destination before source");
        fillPattern(map, llData);
        const int64_t llSrc = bForward ? 0 : g;
        const int64_t llDst = bForward ? g : 0;
        const int32_t lLength = static_cast<int32_t>(3 * g);
        ASSERT_TRUE(map.SetView(1, llSrc, lLength));
        ASSERT_TRUE(map.SetView(2, llDst, lLength));
        map.ViewCopy(2, 1);
        ASSERT_TRUE(map.SetView(3, 0, static_cast<int32_t>(llData)));
        auto* p = static_cast<unsigned char*>(map.UseView(3));
        // As if copied through a buffer: the destination holds the source's old bytes.
        for (int64_t i = 0; i < lLength; ++i) ASSERT_EQ(p[llDst + i], patternAt(llSrc + i)) << i;
        map.FreeView();
    }
}

TEST_F(Views, FailuresOfViewsReleaseTheObject) {
    {
        SCOPED_TRACE("list view beyond the data end");
        Probe map;
        ASSERT_TRUE(map.MapMemory(2 * g, false, false, nullptr));
        ASSERT_TRUE(map.SetView(0, 0, 10));
        ReportError(0);
        EXPECT_FALSE(map.SetView(1, 3 * g, 10));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(map.ids(), (std::vector<int32_t>{0}));  // no node left for the failed view
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);   // released
        EXPECT_TRUE(map.GetReadOlny());
        EXPECT_EQ(map.m_CurrentView.lViewID, 0);  // not updated by the failure
        // The earlier view outlives the release, and cannot be mapped again once unmapped.
        ASSERT_NE(map.UseView(0), nullptr);
        std::memset(map.UseView(0), 'a', 10);
        map.UnMapView(*map.GetView(0));
        ReportError(0);
        EXPECT_EQ(map.UseView(0), nullptr);
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(map.m_CurrentView.lViewID, 0);
        EXPECT_EQ(map.m_CurrentView.pBase, nullptr);
        map.FreeView();
    }
    {
        SCOPED_TRACE("caller's record the platform refuses");
        Probe map;
        ASSERT_TRUE(map.MapMemory(2 * g, false, false, nullptr));
        ASSERT_TRUE(map.SetView(5, 0, 10));
        _tagMemView view{1, 0, 0, 10, nullptr, nullptr, false};
        qr::sys::injectFault(qr::sys::Op::MapView, 1, qr::sys::kErrorNoMemory);
        ReportError(0);
        EXPECT_EQ(map.MapView(view), nullptr);
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(notices.lastText(), systemText(qr::sys::kErrorNoMemory));
        EXPECT_EQ(view.pBase, nullptr);
        EXPECT_EQ(map.m_CurrentView.lViewID, 5);
        EXPECT_EQ(map.GetFileMappingHandle(), nullptr);
        map.FreeView();
    }
    {
        SCOPED_TRACE("no memory for a node");
        Probe map;
        ASSERT_TRUE(map.MapMemory(g, false, false, nullptr));
        qr::sys::injectFault(qr::sys::Op::Alloc, 1, qr::sys::kErrorNoMemory);
        ReportError(0);
        EXPECT_FALSE(map.SetView(0, 0, 10));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_EQ(map.m_pViewList, nullptr);
        EXPECT_NE(map.GetFileMappingHandle(), nullptr);  // nothing else changed
        EXPECT_TRUE(map.SetView(0, 0, 10));
        map.FreeView();
    }
}

TEST_F(Views, OpenViewWaitsForTheHolderAndReadOnlyNeverWaits) {
    const std::string sName = mftest::uniqueName("hold");
    Probe map;
    ASSERT_TRUE(map.MapMemory(g, false, false, sName.c_str()));
    ASSERT_TRUE(map.SetView(0, 0, 100));
    _tagMemView* pView = map.GetView(0);
    EXPECT_TRUE(pView->bOpened);  // freshly mapped counts as opened
    EXPECT_TRUE(map.CloseView(*pView));
    EXPECT_FALSE(map.CloseView(*pView));

    std::mutex guard;
    std::condition_variable changed;
    int nStage = 0;
    auto waitStage = [&](int n) {
        std::unique_lock<std::mutex> lock(guard);
        changed.wait(lock, [&] { return nStage >= n; });
    };
    auto setStage = [&](int n) {
        {
            std::lock_guard<std::mutex> lock(guard);
            nStage = n;
        }
        changed.notify_all();
    };
    void* pHeld = nullptr;
    std::thread holder([&] {
        pHeld = map.OpenView(*pView, -1);
        setStage(1);
        waitStage(2);
        map.CloseView(*pView);
        setStage(3);
    });
    waitStage(1);
    EXPECT_EQ(pHeld, pView->pBase);
    _tagMemView copy = *pView;  // this thread's own record of the same view and mutex
    copy.bOpened = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(map.OpenView(copy, 0), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(map.OpenView(copy, 30), nullptr);
    EXPECT_FALSE(copy.bOpened);
    setStage(2);
    waitStage(3);
    EXPECT_EQ(map.OpenView(copy, 1000), pView->pBase);
    EXPECT_TRUE(copy.bOpened);
    holder.join();
    // Held by this thread: recursive, so the holder itself is not stopped.
    EXPECT_EQ(map.OpenView(copy, 0), pView->pBase);
    EXPECT_TRUE(map.CloseView(copy));
    // One recursion count is still held: another thread times out until it is given back.
    void* pOther = reinterpret_cast<void*>(1);
    std::thread([&] { pOther = map.OpenView(copy, 0); }).join();
    EXPECT_EQ(pOther, nullptr);
    qr::sys::releaseMutex(copy.hMutex);
    std::thread([&] {
        pOther = map.OpenView(copy, 0);
        map.CloseView(copy);
    }).join();
    EXPECT_EQ(pOther, pView->pBase);

    // A read-only object never waits, even while the mutex is held elsewhere.
    Probe reader;
    ASSERT_TRUE(reader.OpenMapping(sName.c_str(), true));
    ASSERT_TRUE(reader.SetView(0, 0, 100));
    _tagMemView* pRead = reader.GetView(0);
    std::atomic<bool> bRelease{false};
    std::atomic<bool> bHolding{false};
    std::thread blocker([&] {
        qr::sys::waitForSingleObject(pRead->hMutex, qr::sys::kInfinite);
        bHolding = true;
        while (!bRelease) std::this_thread::yield();
        qr::sys::releaseMutex(pRead->hMutex);
    });
    while (!bHolding) std::this_thread::yield();
    pRead->bOpened = false;
    EXPECT_EQ(reader.OpenView(*pRead, 0), pRead->pBase);
    EXPECT_TRUE(pRead->bOpened);
    EXPECT_TRUE(reader.CloseView(*pRead));
    bRelease = true;
    blocker.join();
    // Not mapped: nothing to hold.
    _tagMemView unmapped{0, 0, 0, 10, nullptr, nullptr, false};
    EXPECT_EQ(map.OpenView(unmapped, 0), nullptr);
    EXPECT_FALSE(map.CloseView(unmapped));
    reader.FreeView();
    map.FreeView();
    EXPECT_TRUE(notices.notices.empty());
}

TEST_F(Views, ViewLeftHeldByAnEndedThreadCanBeHeldAgain) {
    Probe map;
    ASSERT_TRUE(map.MapMemory(g, false, false, nullptr));
    ASSERT_TRUE(map.SetView(0, 0, 100));
    _tagMemView* pView = map.GetView(0);
    std::thread([&] { EXPECT_NE(map.OpenView(*pView, 0), nullptr); }).join();  // ends holding it
    _tagMemView copy = *pView;
    EXPECT_EQ(map.OpenView(copy, 1000), nullptr);  // abandoned: reported as not acquired
    // ... and not kept, so the next holder gets it, also from another thread.
    void* pOther = nullptr;
    std::thread([&] {
        pOther = map.OpenView(copy, 0);
        map.CloseView(copy);
    }).join();
    EXPECT_EQ(pOther, pView->pBase);
    map.FreeView();
}

TEST_F(Views, UnMapViewReportsAFailedFlushAndStillUnmaps) {
    Probe map;
    ASSERT_TRUE(map.MapMemory(3 * g, false, false, nullptr));
    _tagMemView view{5, g, 0, static_cast<int32_t>(g), nullptr, nullptr, false};
    ASSERT_NE(map.MapView(view), nullptr);
    qr::sys::injectFault(qr::sys::Op::FlushView, 1, EIO);
    map.UnMapView(view);
    EXPECT_EQ(GetDllErrorNo(), 1000000);
    EXPECT_EQ(notices.lastText(), systemText(EIO));
    EXPECT_EQ(view.pBase, nullptr);
    EXPECT_EQ(view.hMutex, nullptr);
    EXPECT_EQ(map.m_CurrentView.lViewID, -1);
    // The record maps again as usual.
    EXPECT_NE(map.MapView(view), nullptr);
    map.UnMapView(view);
}

}  // namespace
