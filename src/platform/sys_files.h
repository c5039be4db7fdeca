// Platform layer: files in Win32 terms (access rights, share modes, creation dispositions),
// temporary names, existence tests with wildcards, and the in-place range edits the space
// functions use as their fast path.
//
// Share modes hold between handles in one process and across processes: an open that asks for
// an access some existing open does not share, or that does not share an access an existing
// open holds, fails with kErrorSharingViolation. The check happens before any truncation, so a
// refused kCreateAlways never empties the file. kCreateAlways and kTruncateExisting count as
// writing for the check whatever access they ask for (emptying a file is writing to it); the
// handle they give out holds only the access asked for. A file with a live mapping in any
// process is never cut below it: the truncations here fail with kErrorUserMappedFile instead
// (see sys_mapping.h). Every descriptor is close-on-exec; a child forked without exec shares the
// descriptions (and their locks) until it execs or ends.
// On Windows the handles, their share modes and their inheritance are the system's own.
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
// A name whose last component holds a wildcard is refused (kErrorInvalidArgument).
void* createFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition,
                 bool bInheritable);
// Closes hFile; it is invalid afterwards even when the system reports an error on close (the
// error may mean lost data). An injected fault leaves the handle open. A handle value is never
// given out again in the same process: a closed handle fails with kErrorInvalidHandle forever.
// An operation that another thread runs on hFile at the same time still reaches hFile's file
// (never one opened meanwhile); the file is then closed when that operation ends, and an error
// of that late close is not reported.
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
// Cuts or extends the file at its file pointer (needs kGenericWrite). A cut below the current
// size of a file with a live mapping fails with kErrorUserMappedFile.
bool setEndOfFile(void* hFile);
// Forces written data and metadata to the disk (needs kGenericWrite, as on Win32).
bool flushFileBuffers(void* hFile);
bool deleteFile(const char* szPath);
// True when an entry matches szPattern ('*' and '?' in the last component match as the Win32
// file search does, trailing dots and spaces of the pattern included; "." and ".." are never
// entries); otherwise false with the last error set (kErrorNotFound for no match).
bool findFile(const char* szPattern);
// True when the last path component of szPath holds '*' or '?': such a name is a search pattern
// for findFile, and createFile refuses it (kErrorInvalidArgument), as Win32 refuses it.
bool isWildcardName(const char* szPath);

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
// reads as zeros and gets disk blocks where the file system can reserve them. collapseRange on a
// file with a live mapping fails with kErrorUserMappedFile.
bool insertRange(void* hFile, int64_t llPos, int64_t llLength);
bool collapseRange(void* hFile, int64_t llPos, int64_t llLength);

// Makes sure hFile can grow to llEnd bytes: gives the range from its current size to llEnd
// disk blocks without changing the size or any byte (fault seam: Op::Reserve). Holes below the
// current size are not filled. True at once when llEnd is not above the size. Fails with the
// native code (no space, a file larger than the process or the file system allows) and leaves
// the file as it was, blocks taken by the failed attempt given back. Where the file system
// cannot reserve, its free space is checked instead. Needs kGenericWrite.
bool reserveFileSpace(void* hFile, int64_t llEnd);

}  // namespace qr::sys

// What the journal of an interrupted edit needs to find its file again and to order its writes
// on the disk.
namespace qr::sys {

// Which file an open handle reaches, whatever name it was opened by: the same file gives the
// same identity for as long as it exists, and a file created later under a reused number gives
// another one. POSIX: device, inode and (where the file system keeps one) the inode's
// generation; Win32: volume serial number and file index.
struct FileIdentity {
    uint64_t nVolume = 0;
    uint64_t nIndex = 0;
    uint64_t nGeneration = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Fault seam: Op::Size. False with the last error set.
bool fileIdentity(void* hFile, FileIdentity* pIdentity);

// The full path of szPath with every symbolic link resolved / of the file hFile reaches as it is
// named now (after renames). Both give the same text for the same file. "" with the last error
// set when there is none (no such file; an open file that was deleted: kErrorNotFound). Fault
// seam: Op::Path.
std::string finalPath(const char* szPath);
std::string finalPathOf(void* hFile);

// Forces the data written through hFile to the disk, with the metadata needed to read it back
// (the size), not necessarily the times (POSIX fdatasync; Win32 FlushFileBuffers). Needs
// kGenericWrite. Fault seam: Op::Flush.
bool flushFileData(void* hFile);
// A hint: starts writing [llPos, llPos + llLength) of hFile to the disk and returns without
// waiting, so that a later flush finds less to write. Makes nothing durable by itself and may do
// nothing at all (Win32 has no such call). Fault seam: Op::WriteBack (a failure only means the
// hint was not given).
bool startWriteBack(void* hFile, int64_t llPos, int64_t llLength);
// Forces the folder's entries to the disk, so that a file created or deleted in it stays created
// or deleted after a power cut (POSIX: fsync of the folder). Where the system keeps folder
// entries durable by itself this only checks the folder. Fault seam: Op::Flush.
bool flushFolder(const char* szFolder);

// Only the owner may open the file from now on (POSIX mode 0600). Call right after creating a
// file and before writing to it. Fault seam: Op::Open.
bool restrictToOwner(void* hFile);

}  // namespace qr::sys

// Who may have written a file: what the journal of an interrupted edit believes.
namespace qr::sys {

// Opens or creates szPath as createFile does (no inheritance; kCreateNew, kOpenExisting or
// kOpenAlways, an emptying disposition is kErrorInvalidArgument), for a file that must be the
// caller's own: a link at the last component is never followed and a FIFO never waited on; what
// was reached is refused unless it is a regular file (kErrorJournalNotOurs for a link or any other
// kind). A new file is the owner's alone from the first instant (POSIX mode 0600 in the create
// call; Windows an access list for the owner alone in the create call). Fault seam: Op::Open.
void* createPrivateFile(const char* szPath, uint32_t nAccess, uint32_t nShare, uint32_t nDisposition);

// The owner of a file and who else may open it.
struct FileOwnership {
    std::string sOwner;       // POSIX: the user id in decimal; Windows: the owner's SID as text
    bool bRegular = false;    // a regular file (not a link, folder, FIFO or device)
    bool bOwnerOnly = false;  // nobody but the owner may open it (POSIX: no group or other bits;
                              // Windows: the access list allows nobody else but the system and
                              // the administrators)
    uint32_t nLinks = 0;      // names the file has
};
// Removes the name szPath when it still leads to the file hFile reaches (opened by
// createPrivateFile); hFile stays open and usable until closed. kErrorNotFound when the name is
// gone or leads elsewhere (nothing is removed then). With every remover holding the file locked
// (share mode none) while it removes, no one can free the name and put another file there between
// the check and the removal. Fault seam: Op::Delete.
bool deleteOpenFile(void* hFile, const char* szPath);
// Of the file hFile reaches. Fault seam: Op::Size. False with the last error set.
bool fileOwnership(void* hFile, FileOwnership* pOwnership);
// Of what szPath names, a link itself rather than what it leads to. False with the last error set.
bool pathOwnership(const char* szPath, FileOwnership* pOwnership);
// The owner files this process creates get, as FileOwnership::sOwner names owners (POSIX: the
// effective user id; Windows: the token's default owner). "" with the last error set on failure.
std::string processOwner();
// Makes the file hFile reaches belong to sOwner (a FileOwnership::sOwner), when it does not
// already: only the system's administrator may give a file away (kErrorAccessDenied for anyone
// else). Fault seam: Op::Open, asked only when the owner must change.
bool giveFileTo(void* hFile, const std::string& sOwner);

// A short named mark that travels with the file itself (its identity, through renames, other
// names and rewrites in place) rather than with a name: POSIX an extended attribute
// "user.<szName>"; Windows keeps none (kErrorNotSupported). Every call fails with
// kErrorNotSupported where the file system keeps no such marks. bNew: only when the file carries
// no mark szName yet, in one step (kErrorFileExists when it does). Fault seam: Op::Write.
bool setFileMark(void* hFile, const char* szName, const std::string& sValue, bool bNew = false);
// The mark szName of the file szPath leads to; *pbFound false when it has none.
bool fileMark(const char* szPath, const char* szName, std::string* pValue, bool* pbFound);
bool fileMarkOf(void* hFile, const char* szName, std::string* pValue, bool* pbFound);
bool removeFileMark(void* hFile, const char* szName);

}  // namespace qr::sys
