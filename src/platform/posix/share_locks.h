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

// The "mapped" slot. While a mapping of a file or any of its views lives in a process, that
// process holds a shared lock on the slot of the file: once per file (device and inode, so every
// hard link of it counts as the same file), however many mappings and views it has, counted by
// the MappedFileHolds of the file. The first hold locks the slot through a duplicate of its
// descriptor and keeps that duplicate; the last one closes it, and with it the lock (the kernel
// drops it also when a process dies, and a forked child's copy of the duplicate keeps it for as
// long as the child keeps its copies of the mappings). Holds may be taken and dropped from any
// thread.
class MappedFileHold {
public:
    MappedFileHold() = default;
    ~MappedFileHold();
    MappedFileHold(MappedFileHold&& other) noexcept;
    MappedFileHold& operator=(MappedFileHold&& other) noexcept;
    MappedFileHold(const MappedFileHold&) = delete;
    MappedFileHold& operator=(const MappedFileHold&) = delete;

    // A hold of the file nFd reaches (open for reading; nDevice and nInode from its fstat). An
    // empty hold with the native code as last error when the lock call fails.
    static MappedFileHold take(int nFd, uint64_t nDevice, uint64_t nInode);
    explicit operator bool() const { return m_pFile != nullptr; }

    struct File;  // the process's record of one mapped file, known to share_locks.cpp only

private:
    explicit MappedFileHold(File* pFile) : m_pFile(pFile) {}
    File* m_pFile = nullptr;
};

// Every operation that would shorten or empty a file asks first: false with
// kErrorUserMappedFile when an open file description other than nFd's holds the slot (a mapping
// of the file lives in some process), or with the native code when the probe fails.
bool refuseIfMapped(int nFd);

}  // namespace qr::sys
