// Platform layer: files in Win32 terms (access rights, share modes, creation dispositions),
// temporary names, existence tests with wildcards, and the in-place range edits the space
// functions use as their fast path.
//
// Share modes hold between handles in one process and across processes: an open that asks for
// an access some existing open does not share, or that does not share an access an existing
// open holds, fails with kErrorSharingViolation. The check happens before any truncation, so a
// refused kCreateAlways never empties the file. Every descriptor is close-on-exec. On Windows the
// handles, their share modes and their inheritance are the system's own.
#pragma once

#include <cstdint>
#include <string>

namespace qr::sys {

inline void* const kInvalidHandle = reinterpret_cast<void*>(~static_cast<uintptr_t>(0));

// The separator of path components the system writes ('/'; Windows '\\') and every byte that
// separates components in a path ("/"; Windows "\\/").
extern const char kPathSeparator;
extern const char* const kPathSeparators;
inline bool isValidHandle(const void* h) { return h != nullptr && h != kInvalidHandle; }

inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;

enum Disposition : uint32_t {
    kCreateNew = 1,
    kCreateAlways = 2,
    kOpenExisting = 3,
    kOpenAlways = 4,
    kTruncateExisting = 5,
};

enum SeekOrigin : uint32_t { kSeekBegin = 0, kSeekCurrent = 1, kSeekEnd = 2 };

// Opens or creates szPath. nAccess: kGenericRead and/or kGenericWrite; nShare: kShareRead and/or
// kShareWrite. bInheritable only marks the handle for children started with inheritance on
// purpose; the descriptor is close-on-exec all the same. kInvalidHandle on failure. A folder
// cannot be opened (EISDIR). kCreateAlways and kTruncateExisting empty an existing file only
// after sharing was granted; kTruncateExisting needs kGenericWrite (else kErrorInvalidArgument).
void* createFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition,
                 bool bInheritable);
// Closes hFile; it is invalid afterwards even when the system reports an error on close (the
// error may mean lost data). An injected fault leaves the handle open.
bool closeHandle(void* hFile);
// Reads up to nCount bytes at the file pointer; *pnRead = bytes read (fewer only at the end of
// the file, 0 there). A handle without kGenericRead fails with kErrorAccessDenied.
bool readFile(void* hFile, void* pBuffer, uint32_t nCount, uint32_t* pnRead);
// Writes nCount bytes at the file pointer: all of them, or false with the cause recorded and
// *pnWritten = the bytes written before it. A handle without kGenericWrite fails with
// kErrorAccessDenied.
bool writeFile(void* hFile, const void* pBuffer, uint32_t nCount, uint32_t* pnWritten);
// Moves the file pointer; a target before 0 fails with kErrorInvalidArgument and leaves it.
bool setFilePointer(void* hFile, int64_t llDistance, uint32_t nOrigin, int64_t* pllNewPos);
bool getFileSize(void* hFile, int64_t* pllSize);
// Cuts or extends the file at its file pointer (needs kGenericWrite).
bool setEndOfFile(void* hFile);
// Forces written data and metadata to the disk (needs kGenericWrite, as on Win32).
bool flushFileBuffers(void* hFile);
bool deleteFile(const char* szPath);
// True when an entry matches szPattern ('*' and '?' in the last component match as the Win32
// file search does); otherwise false with the last error set (kErrorNotFound for no match).
bool findFile(const char* szPattern);

// The folder for temporary files: $TMPDIR if set and not empty, else /tmp, ending in '/'.
// Windows: the system's folder (GetTempPathA), ending in '\\'; "" with the last error set when
// the system gives none.
std::string tempFolder();
// Creates a new empty file in szFolder named with up to three characters of szPrefix, a
// hexadecimal number and ".tmp" (O_CREAT|O_EXCL, mode 0600) and returns its path; "" on
// failure with the last error set.
std::string makeTempFileName(const char* szFolder, const char* szPrefix);

// The file system's block size for hFile (the unit of insertRange/collapseRange); 0 if unknown.
// Asks the fault seam as Op::Size.
uint32_t fileBlockSize(void* hFile);
// Inserts llLength zero bytes at llPos / removes llLength bytes at llPos in place, without
// moving data through memory (fault seam: Op::RangeEdit). Both need a handle with read and
// write access, and llPos/llLength in whole blocks; insertRange needs llPos before the end of
// the file, collapseRange needs llPos + llLength before it. Fails with kErrorNotSupported (or
// the native code) where the file system cannot; the file is then unchanged. The inserted range
// reads as zeros and gets disk blocks where the file system can reserve them.
bool insertRange(void* hFile, int64_t llPos, int64_t llLength);
bool collapseRange(void* hFile, int64_t llPos, int64_t llLength);

}  // namespace qr::sys
