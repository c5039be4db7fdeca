// POSIX backend: Win32 share modes between open files, in one process and across processes,
// kept with open file description locks on reserved byte slots.
#pragma once

#include <cstdint>
#include <mutex>

namespace qr::sys {

// Serialises the open-lock-check-truncate sequence of the opens of this process, so that two
// threads opening the same file cannot both see the other's slots and both give up.
std::mutex& shareMutex();

// Takes the slots of nFd (an open file description of its own, open for reading) for the
// access it holds and the sharing it grants, then checks the slots of every other open file
// description of the same file. False on a clash (last error kErrorSharingViolation) or on a
// failed lock call (last error its native code); the caller then closes nFd, which drops the
// slots taken here. Call with shareMutex() held.
bool takeShareSlots(int nFd, uint32_t nAccess, uint32_t nShare);

// Gives up the "has write" slot that takeShareSlots took for nFd, for an open that was checked
// as a writer only to empty the file. Should the unlock fail, the slot stays (opens elsewhere
// that refuse writers are then refused a little too long, never admitted wrongly).
void dropWriteSlot(int nFd);

// The "mapped" slot. Every descriptor that backs a mapping of a file holds a shared lock on it
// for as long as the mapping or any of its views lives (the kernel drops it with the last
// descriptor of that open file description, also when a process dies). holdMappedSlot takes it
// through nFd (open for reading); false with the native code when the lock call fails.
bool holdMappedSlot(int nFd);
// Every operation that would shorten or empty a file asks first: false with
// kErrorUserMappedFile when an open file description other than nFd's holds the slot (a mapping
// of the file lives in some process), or with the native code when the probe fails.
bool refuseIfMapped(int nFd);

}  // namespace qr::sys
