// Platform layer: the fault seam. Tests make the Nth coming call of one kind fail with a chosen
// code; backends ask takeFault before every OS call of that kind.
#pragma once

#include <cstdint>

namespace qr::sys {

enum class Op : int {
    Open, Close, Read, Write, Seek, Size, Truncate, Flush, Delete, Find, TempName, RangeEdit, Reserve, Path, WriteBack,
    CreateMapping, OpenMapping, MapView, UnmapView, FlushView, Mutex, Alloc,
    Clock,
    Count
};

// Arms op: its nth coming call (1 = the next) fails with nCode; nTimes consecutive calls fail
// from there (0 = every call from then on). Thread-safe.
void injectFault(Op op, int nth, uint32_t nCode, int nTimes = 1);
void clearFaults();
// How many calls of op reached the seam since the last clearFaults.
int64_t faultCalls(Op op);

// Called by the backend: 0 to go on, or the code to fail with. The caller records the code as
// the last error and fails exactly as the OS call would have.
uint32_t takeFault(Op op);

// Test seam for crash tests: pfnObserver (null: none) sees every call that reaches the seam,
// with its number since the last clearFaults (1 = the first), before the call is made or
// failed. It runs on the calling thread; a crash test ends the process from it, for instance
// at a flush, after the writes before it and before the flush itself.
using CallObserver = void (*)(Op op, int64_t llCall);
void setCallObserver(CallObserver pfnObserver);

}  // namespace qr::sys
