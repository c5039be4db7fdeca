// Platform layer: named file-mapping objects, mapped views, process-local named mutexes and the
// allocation granularity.
//
// Mapping objects are shared between processes of one user by name. Creating a name that exists
// returns the existing object (and says so); the object lives while any process holds a handle
// or a view of it, and a leftover of a process that died is removed by the next create or open
// of its name. A file-backed object records its file, so that another process that opens it by
// name maps the same file and learns its size. Views start at multiples of the allocation
// granularity and may not reach past the end of the object. Mutexes are process-local:
// recursive for the owning thread, with timed waits, abandoned when the owning thread ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qr::sys {

// Page access of a created mapping object.
inline constexpr uint32_t kPageReadOnly = 2;
inline constexpr uint32_t kPageReadWrite = 4;
// Access asked for when opening a named object or mapping a view. kMapWrite includes reading.
inline constexpr uint32_t kMapWrite = 2;
inline constexpr uint32_t kMapRead = 4;

// Creates the mapping object szName (null or "" = unnamed) over hFile, or over page-file memory
// when hFile is kInvalidHandle. llSize 0 means the file's size (a file-backed object only); a
// writable object larger than its file grows the file first; a read-only one may not be larger.
// When the name exists the existing object is returned unchanged and *pbExisted is set, unless
// bExclusive, which fails with kErrorAlreadyExists instead. Returns the handle, or null with the
// last error set (kErrorNameTooLong for a name over 255 bytes, kErrorInvalidArgument for a
// size of 0 or less where one is needed or an unknown page access).
void* createFileMapping(void* hFile, uint32_t nProtect, int64_t llSize, const char* szName,
                        bool bInheritable, bool bExclusive, bool* pbExisted);
// Opens the existing object szName with nAccess (kMapRead or kMapWrite); null with the last error
// set (kErrorNotFound when there is none, kErrorAccessDenied when a write access is asked of a
// read-only object).
void* openFileMapping(uint32_t nAccess, bool bInheritable, const char* szName);
// Size of the object in bytes, or -1 with the last error set for a handle that is not one.
// (Windows keeps the size of a page-file object in whole pages: there it is rounded up.)
int64_t fileMappingSize(void* hMapping);
// Releases the handle. Views of the object stay valid; the object goes when its last handle and
// view in every process are gone.
bool closeFileMapping(void* hMapping);

// Maps nLength bytes (0 = up to the end of the object) from llOffset, which must be a multiple of
// allocationGranularity(). nAccess kMapRead or kMapWrite (not above the object's page access).
// Returns the base address, or null with the last error set.
void* mapViewOfFile(void* hMapping, uint32_t nAccess, int64_t llOffset, std::size_t nLength);
// pBase must be an address mapViewOfFile returned; anything else fails with
// kErrorInvalidArgument and unmaps nothing.
bool unmapViewOfFile(void* pBase);
// Writes the modified pages of [pAddress, pAddress + nLength) back to the file and waits for the
// writes (not for the disk's own cache; Windows: the system's FlushViewOfFile, which starts the
// writes without waiting). nLength 0 = to the end of the view holding pAddress.
// Page-file views have nothing to write and succeed.
bool flushViewOfFile(const void* pAddress, std::size_t nLength);

// The alignment of view offsets: the page size, or what setAllocationGranularity set.
uint32_t allocationGranularity();
// Test seam: behave as if the granularity were nGranularity (a power of two and a multiple of
// the page size, such as 65536); 0 restores the page size. False, unchanged, for other values.
bool setAllocationGranularity(uint32_t nGranularity);

// Marks the file sparse (POSIX: files are sparse without asking, this checks the handle and
// passes the fault seam; Windows: FSCTL_SET_SPARSE). False with the last error set.
bool markFileSparse(void* hFile);

// Wait results.
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitAbandoned = 0x80;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Creates the process-local mutex szName (null or "" = unnamed), owned by the calling thread when
// bInitialOwner. An existing name gives a new handle to the same mutex and sets *pbExisted (it
// does not take ownership then). Null with the last error set on failure.
void* createMutex(bool bInitialOwner, const char* szName, bool* pbExisted);
bool closeMutex(void* hMutex);
// Waits until the calling thread owns the mutex or nMilliseconds pass (kInfinite: no limit).
// Owning it already just counts once more. kWaitAbandoned: the owner thread ended while holding
// it; the caller owns it now. kWaitFailed with the last error set for a bad handle.
uint32_t waitForSingleObject(void* hMutex, uint32_t nMilliseconds);
// Gives up one count of ownership; false (kErrorNotOwner) when the caller does not own it.
bool releaseMutex(void* hMutex);

extern const uint32_t kErrorNotOwner;

}  // namespace qr::sys
