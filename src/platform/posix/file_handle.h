// POSIX backend: what a file handle stands for, for the backend files that work on descriptors
// (files, share locks, range edits, mappings). Portable code never sees this.
#pragma once

#include <cstdint>

namespace qr::sys {

// One open file.
struct FileHandle {
    int nFd = -1;           // close-on-exec; its own open file description
    uint32_t nAccess = 0;   // kGenericRead | kGenericWrite as granted to the caller
    uint32_t nShare = 0;    // kShareRead | kShareWrite as given at open
    bool bInheritable = false;  // marked for children started with inheritance on purpose
};

// Handle values are numbers drawn from a counter, never addresses: a value is given out once in
// the life of the process, so a closed handle fails with kErrorInvalidHandle forever, also after
// later opens. Null and kInvalidHandle are never given out.
//
// Every operation works through a HandleRef, which keeps the descriptor open while it lives: a
// close on another thread at the same time takes the handle out of the registry at once (later
// lookups fail), but the descriptor is closed only when the last HandleRef of it is gone. So an
// operation that raced with the close reaches the file it was started on, never a file that was
// opened meanwhile and got the same descriptor number.
class HandleRef {
public:
    HandleRef() = default;
    ~HandleRef();
    HandleRef(HandleRef&& other) noexcept;
    HandleRef& operator=(HandleRef&& other) noexcept;
    HandleRef(const HandleRef&) = delete;
    HandleRef& operator=(const HandleRef&) = delete;

    explicit operator bool() const { return m_pRecord != nullptr; }
    const FileHandle* operator->() const;
    const FileHandle& operator*() const;
    // Marked sparse (markFileSparse): a mapping grows the file without reserving blocks. The
    // mark belongs to the handle and may be set while other threads use it.
    bool sparse() const;
    void markSparse() const;

    struct Record;  // the registry's entry, known to file_handle.cpp only

private:
    friend HandleRef lookupHandle(void* hFile);
    explicit HandleRef(Record* pRecord) : m_pRecord(pRecord) {}
    Record* m_pRecord = nullptr;
};

// The record behind hFile, held open for the life of the result; an empty result (last error
// kErrorInvalidHandle) when hFile is null, kInvalidHandle, closed, or never was a handle. This is
// the only way to a handle's descriptor: a descriptor number kept beyond its HandleRef may be
// closed by another thread and given to another file at any moment.
HandleRef lookupHandle(void* hFile);

// The access granted to hFile (kGenericRead/kGenericWrite bits); 0 for an invalid handle.
uint32_t accessOf(void* hFile);

// Registers an open descriptor with its access and sharing and returns the new handle. On
// failure (no memory, or the counter spent) returns kInvalidHandle with the last error set, and
// the descriptor stays the caller's to close.
void* registerHandle(const FileHandle& handle);

// Takes hFile out of the registry. When no operation still holds it, closes the descriptor now
// and returns whether close succeeded (false with its error recorded: written data may have
// been lost); otherwise the last of those operations closes it when it ends, and the result is
// true. False with kErrorInvalidHandle when hFile is not a live handle.
bool closeRegisteredHandle(void* hFile);

}  // namespace qr::sys
