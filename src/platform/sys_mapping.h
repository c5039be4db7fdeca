// Platform layer: named file-mapping objects, mapped views, process-local named mutexes and the
// allocation granularity.
//
// Mapping objects are shared between processes of one user by name. Creating a name that exists
// returns the existing object (and says so), with its own size, page access and append-null mode;
// the object lives while any process holds a handle or a view of it, and a leftover of a process
// that died is removed by the next create or open of its name. A file-backed object records its
// file (path, device and inode), so that another process that opens it by name maps the same
// file and learns its size, and so that a file mapping never attaches to another file's object.
// Views start at multiples of the allocation granularity and may not reach past the end of the
// object. Mutexes are process-local: recursive for the owning thread, with timed waits, abandoned
// when the owning thread ends.
//
// A file with a live mapping (a handle or a view, in any process) cannot be cut below it: the
// truncating creates and opens, setEndOfFile below the end and collapseRange fail with
// kErrorUserMappedFile, and checkFileNotMapped lets a caller ask before it moves anything.
//
// A child process forked without exec shares its parent's open file descriptions (and so their
// locks) until it execs or ends; its copies of handles and views never remove or alter an object
// or a lock its parent holds: releasing them only frees the child's own memory and descriptors.
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
// Flags of createFileMapping: fail when the name exists; the object is made for append-null mode
// (its last two bytes are terminators written by its users).
inline constexpr uint32_t kMapCreateExclusive = 1;
inline constexpr uint32_t kMapCreateAppendNull = 2;

// Creates the mapping object szName (null or "" = unnamed) over hFile, or over page-file memory
// when hFile is kInvalidHandle. llSize 0 means the file's size (a file-backed object only); a
// read-only object may not be larger than its file. A writable object larger than its file grows
// the file, once the object is known to be new, and reserves the grown blocks (unless the file
// was marked sparse with markFileSparse): a full disk fails here with its code (ENOSPC, EFBIG
// ...) and the file keeps its old size. nFlags: kMapCreateExclusive, kMapCreateAppendNull.
// When the name exists the existing object is returned unchanged (its size, access and mode; ask
// fileMappingSize) and *pbExisted is set; refused instead, with the last error:
// kErrorAlreadyExists with kMapCreateExclusive; kErrorMappingOtherFile when hFile is a file and
// the object is not that file's (another file, or page-file memory); kErrorMappingNotAppendNull
// when kMapCreateAppendNull is asked of an object made without it. Returns the handle, or null
// with the last error set (kErrorNameTooLong for a name over 255 bytes, kErrorInvalidArgument for
// a size of 0 or less where one is needed, an unknown page access or unknown flags).
void* createFileMapping(void* hFile, uint32_t nProtect, int64_t llSize, const char* szName,
                        bool bInheritable, uint32_t nFlags, bool* pbExisted);
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

// Marks the file sparse: a mapping made through this handle that grows the file sets its size
// without reserving blocks for the grown range (a write into that range on a full disk then
// fails in the writer, which on POSIX ends it with a bus error). POSIX files hold holes without
// asking, so the mark is kept with the handle; Windows: FSCTL_SET_SPARSE on the file. Fault
// seam: Op::RangeEdit. False with the last error set.
bool markFileSparse(void* hFile);

// True when no mapping of hFile's file is alive in any process (a handle or a view of a
// file-backed object, including one made by another handle of the file); false with
// kErrorUserMappedFile when one is, or with the cause when the question fails
// (kErrorInvalidHandle for a bad handle). Operations that would shorten a file ask it before
// they change anything. Fault seam: Op::Size.
bool checkFileNotMapped(void* hFile);

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
