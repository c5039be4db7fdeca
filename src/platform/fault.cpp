// Platform layer, shared by every backend: the fault seam, counters and armed failures per kind of call.
#include <array>
#include <atomic>
#include <mutex>

#include "platform/sys_fault.h"

namespace qr::sys {

namespace {
struct Slot {
    std::atomic<int64_t> llCalls{0};
    int64_t llFailFrom = 0;  // call number of the first failure; 0 = disarmed
    int64_t llFailTo = 0;    // last failing call number; 0 = no end
    uint32_t nCode = 0;
};

constexpr std::size_t kSlots = static_cast<std::size_t>(Op::Count);
std::array<Slot, kSlots> g_slots;
std::atomic<bool> g_bArmed{false};
std::atomic<CallObserver> g_pfnObserver{nullptr};
std::mutex g_mutex;

Slot& slotOf(Op op) { return g_slots[static_cast<std::size_t>(op)]; }
}  // namespace

void injectFault(Op op, int nth, uint32_t nCode, int nTimes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot& slot = slotOf(op);
    const int64_t llNow = slot.llCalls.load();
    slot.llFailFrom = nth > 0 ? llNow + nth : 0;
    slot.llFailTo = nTimes > 0 ? slot.llFailFrom + nTimes - 1 : 0;
    slot.nCode = nCode;
    g_bArmed.store(true);
}

void clearFaults() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Slot& slot : g_slots) {
        slot.llCalls.store(0);
        slot.llFailFrom = slot.llFailTo = 0;
        slot.nCode = 0;
    }
    g_bArmed.store(false);
}

int64_t faultCalls(Op op) { return slotOf(op).llCalls.load(); }

void setCallObserver(CallObserver pfnObserver) { g_pfnObserver.store(pfnObserver); }

uint32_t takeFault(Op op) {
    Slot& slot = slotOf(op);
    const int64_t llCall = slot.llCalls.fetch_add(1) + 1;
    if (const CallObserver pfnObserver = g_pfnObserver.load(std::memory_order_relaxed)) pfnObserver(op, llCall);
    // The common case costs one relaxed load and one increment.
    if (!g_bArmed.load(std::memory_order_relaxed)) return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (slot.llFailFrom == 0 || llCall < slot.llFailFrom) return 0;
    if (slot.llFailTo != 0 && llCall > slot.llFailTo) return 0;
    return slot.nCode;
}

}  // namespace qr::sys
