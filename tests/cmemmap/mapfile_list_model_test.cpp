// The view list against a plain model of it: random sequences of SetView, UseView, UnMapView,
// FreeView and ViewCopy, checked after every step for order, current view, mapping state,
// alignment and the bytes seen through the views.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "mapfile_support.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

struct ModelView {
    int32_t lId;
    int64_t llOffset;  // aligned
    int32_t lSize;
    bool bMapped;
};

class ListModel {
public:
    ListModel(int64_t llData, int64_t g) : m_llData(llData), m_g(g), bytes(static_cast<std::size_t>(llData)) {}

    ModelView* find(int32_t lId) {
        for (ModelView& v : views)
            if (v.lId == lId) return &v;
        return nullptr;
    }
    bool setView(int32_t lId, int64_t llOffset, int32_t lSize) {
        if (find(lId) != nullptr) return false;
        const int64_t llAligned = llOffset / m_g * m_g;
        const int64_t llSize = std::min<int64_t>(llOffset - llAligned + lSize, m_llData - llAligned);
        views.push_back({lId, llAligned, static_cast<int32_t>(llSize), true});
        lCurrent = lId;
        return true;
    }
    // True when the view is (or becomes) mapped; false for an unknown id.
    bool useView(int32_t lId) {
        if (lId == lCurrent) return true;
        ModelView* v = find(lId);
        if (v == nullptr) return false;
        if (!v->bMapped) {
            v->bMapped = true;
            lCurrent = lId;
        }
        return true;
    }
    void unMapView(int32_t lId) {
        ModelView* v = find(lId);
        if (v == nullptr || !v->bMapped) return;
        v->bMapped = false;
        if (lCurrent == lId) lCurrent = -1;
    }
    void freeView(int32_t lId) {
        auto it = std::find_if(views.begin(), views.end(), [&](const ModelView& v) { return v.lId == lId; });
        if (it == views.end()) return;
        const bool bCurrent = lId == lCurrent;
        const std::size_t nIndex = static_cast<std::size_t>(it - views.begin());
        views.erase(it);
        if (!bCurrent) return;
        lCurrent = -1;
        ModelView* pNeighbour = nIndex > 0 ? &views[nIndex - 1] : (views.empty() ? nullptr : &views[0]);
        if (pNeighbour != nullptr) {
            pNeighbour->bMapped = true;
            lCurrent = pNeighbour->lId;
        }
    }
    void freeAll() {
        views.clear();
        lCurrent = -1;
    }
    void viewCopy(int32_t lDst, int32_t lSrc) {
        if (find(lSrc) == nullptr || find(lDst) == nullptr) return;
        const int32_t lSaved = lCurrent;
        useView(lSrc);
        useView(lDst);
        const ModelView& src = *find(lSrc);
        const ModelView& dst = *find(lDst);
        const int32_t lLength = std::min(src.lSize, dst.lSize);
        if (lLength > 0) {
            std::vector<unsigned char> buffer(bytes.begin() + src.llOffset, bytes.begin() + src.llOffset + lLength);
            std::copy(buffer.begin(), buffer.end(), bytes.begin() + dst.llOffset);
        }
        lCurrent = lSaved;
        freeView(lSrc);
        freeView(lDst);
    }

    std::vector<ModelView> views;
    int32_t lCurrent = -1;

private:
    int64_t m_llData;
    int64_t m_g;

public:
    std::vector<unsigned char> bytes;
};

void expectSame(Probe& map, ListModel& model, int64_t g, int nStep) {
    SCOPED_TRACE("step " + std::to_string(nStep));
    std::vector<int32_t> expectedIds;
    for (const ModelView& v : model.views) expectedIds.push_back(v.lId);
    ASSERT_EQ(map.ids(), expectedIds);
    ASSERT_EQ(map.m_CurrentView.lViewID, model.lCurrent);
    for (const ModelView& v : model.views) {
        const _tagMemView* p = map.GetView(v.lId);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->llOffset, v.llOffset);
        ASSERT_EQ(p->lSize, v.lSize);
        ASSERT_EQ(p->pBase != nullptr, v.bMapped) << "view " << v.lId;
        if (v.bMapped) {
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p->pBase) % static_cast<uintptr_t>(g), 0u);
            // First, last and a middle byte show the data at their offsets.
            const auto* pBytes = static_cast<const unsigned char*>(p->pBase);
            for (const int32_t i : {0, v.lSize / 2, v.lSize - 1})
                ASSERT_EQ(pBytes[i], model.bytes[static_cast<std::size_t>(v.llOffset + i)]) << "view " << v.lId << " byte " << i;
        }
    }
}

TEST_F(MapFileTest, ViewListFollowsItsModelThroughRandomOperations) {
    for (const uint32_t nGranularity : {0u, 65536u}) {
        ASSERT_TRUE(qr::sys::setAllocationGranularity(nGranularity));
        const int64_t g = qr::sys::allocationGranularity();
        SCOPED_TRACE("granularity " + std::to_string(g));
        const int64_t llData = 12 * g + 321;
        Probe map;
        ASSERT_TRUE(map.MapMemory(llData, false, false, nullptr));
        ListModel model(llData, g);
        std::mt19937 random(static_cast<uint32_t>(g));
        {
            _tagMemView all{0, 0, 0, static_cast<int32_t>(llData), nullptr, nullptr, false};
            auto* p = static_cast<unsigned char*>(map.MapView(all));
            ASSERT_NE(p, nullptr);
            for (std::size_t i = 0; i < model.bytes.size(); ++i) p[i] = model.bytes[i] = static_cast<unsigned char>(random());
            map.UnMapView(all);
        }
        auto pick = [&](int nBound) { return static_cast<int32_t>(random() % static_cast<uint32_t>(nBound)); };
        for (int nStep = 0; nStep < 1500; ++nStep) {
            const int32_t lId = pick(8);
            switch (pick(7)) {
            case 0:
            case 1: {
                const int64_t llOffset = pick(static_cast<int>(llData));
                const int32_t lSize = 1 + pick(static_cast<int>(3 * g));
                ASSERT_EQ(map.SetView(lId, llOffset, lSize), model.setView(lId, llOffset, lSize));
                break;
            }
            case 2: {
                void* p = map.UseView(lId);
                ASSERT_EQ(p != nullptr, model.useView(lId));
                if (p != nullptr) {
                    // Write one byte through the view and into the model.
                    const ModelView* v = model.find(lId);
                    const int32_t lAt = pick(v->lSize);
                    const auto b = static_cast<unsigned char>(random());
                    static_cast<unsigned char*>(p)[lAt] = b;
                    model.bytes[static_cast<std::size_t>(v->llOffset + lAt)] = b;
                }
                break;
            }
            case 3:
                if (_tagMemView* p = map.GetView(lId)) map.UnMapView(*p);
                model.unMapView(lId);
                break;
            case 4:
                map.FreeView(lId);
                model.freeView(lId);
                break;
            case 5: {
                const int32_t lOther = pick(8);
                map.ViewCopy(lId, lOther);
                model.viewCopy(lId, lOther);
                break;
            }
            default:
                if (pick(10) == 0) {
                    map.FreeView();
                    model.freeAll();
                }
                break;
            }
            expectSame(map, model, g, nStep);
            if (HasFatalFailure()) return;
        }
        map.FreeView();
        EXPECT_TRUE(notices.notices.empty());
    }
}

}  // namespace
