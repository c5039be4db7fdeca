/* QRCore raw file handles: create, open, close, 64-bit seek, read, write, existence, the
 * overwrite question, and inserting or removing space inside a file.
 *
 * About signatures: a handle is an untyped pointer; the invalid value has all bits set. The
 * handle belongs to the caller, who closes it with QR_CloseFile. A failure returns false (or 0
 * bytes) and reports an error number to the error state (see error.h): 1000000 for a failed
 * system call, 1000001 when the user refused to overwrite, 1000003 for an invalid open mode,
 * 1000004 when no copy buffer could be allocated. Open mode: access in bits 0-7 (0 or 3 read
 * and write, 1 read only, 2 write only), sharing in bits 8-14 (0x100 others may read, 0x200
 * others may write, 0x300 both), bits 15-31 ignored. Seek origin: 0 begin, 1 current, 2 end. */
#ifndef QRCORE_FILEAPI_H
#define QRCORE_FILEAPI_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

/* One block move inside a file. */
typedef struct _tagMoveData {
    int64_t llSrcPos;
    int64_t llDstPos;
    int64_t llLength;
} _tagMoveData;

/* Handles are close-on-exec: a child process never keeps a file (or its sharing) open.
 * Sharing holds between handles of one process and of different processes; a refused open
 * reports 1000000 with the "sharing violation" text, and a refused QR_NewFile never empties
 * the existing file. A folder cannot be opened as a file. */

/* Creates or empties szFileName. An existing name (wildcards match as in IsExistFile) is first
 * put to the user through the overwrite question; Cancel returns false with 1000001, the file
 * and *phFile untouched. The mode is checked after the question. *phFile is written only by
 * the create itself (the invalid handle when it failed). A name too long for the question
 * (more than 1024 bytes with the question's suffix and terminator) is refused at once with
 * 1000000 and the "file name too long" text. */
QR_API bool QR_CALL QR_NewFile(void** phFile, const char* szFileName, uint32_t nMode);
/* Opens an existing file; a missing name fails with 1000000 before any open is tried. */
QR_API bool QR_CALL QR_OpenFile(void** phFile, const char* szFileName, uint32_t nMode);
/* The handle is invalid afterwards, also when closing reports an error (1000000). */
QR_API bool QR_CALL QR_CloseFile(void* hFile);
QR_API bool QR_CALL QR_SeekToBegin(void* hFile);
/* A target before 0 or past the largest position fails with 1000000 and leaves the pointer. */
QR_API bool QR_CALL QR_Seek(void* hFile, int64_t llOffset, uint32_t nOrigin);
/* Bytes read (fewer only at the end of the file, 0 there without an error); 0 and 1000000 on
 * failure, also for a handle opened write-only. */
QR_API uint32_t QR_CALL QR_Read(void* hFile, void* pBuffer, uint32_t nCount);
/* Bytes written; fewer than nCount reports 1000000 (a read-only handle writes nothing). */
QR_API uint32_t QR_CALL QR_Write(void* hFile, const void* pBuffer, uint32_t nCount);
/* True when a file or folder of that name exists; never reports an error. '*' and '?' in the
 * last path component match as the Win32 file search does ('*' any run; '?' one character, or
 * none before a dot or at the end; "*." and ".*" forms follow the same rules, so "*.*" matches
 * every name), with ASCII letters compared regardless of case; the folder part is literal. A
 * name without wildcards must match exactly (a dangling symbolic link counts as found). */
QR_API bool QR_CALL IsExistFile(const char* szFileName);
/* Asks "<name>已存在，覆盖此文件？" (caption "Quarrion提示信息"); false with 1000001 when the
 * user cancels. A name too long for the 1024-byte question is refused as in QR_NewFile. */
QR_API bool QR_CALL RequestRewriteFile(const char* szFileName);

/* The space functions need a handle open for reading and writing; they move the file pointer.
 * Arguments that no seek could reach (a position before 0, or a position plus size past the
 * largest position) fail with 1000000 before the file is touched. A failure part-way leaves the
 * pieces already done in place (no rollback) and reports the error of the failing step. */

/* Moves a block as if through an intermediate copy, in pieces of at most 1 MiB, then flushes
 * once; a failed flush reports the system's own error code as the number. A block that runs
 * past the end of the file moves the bytes that could be read and then fails without an error
 * number; no byte that was not read is ever written. */
QR_API bool QR_CALL MoveData(void* hFile, const _tagMoveData* pMoveData);
/* Inserts llSize zero bytes before llPos (llPos inside the file). When llPos and llSize are
 * whole file-system blocks and the file system can, the range is inserted in place without
 * moving the tail; the bytes are the same either way, and the call ends flushed. */
QR_API bool QR_CALL AllocateDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
/* Removes llSize bytes at llPos (the range must end before the end of the file); in place for
 * whole blocks as AllocateDiskSpace. A failure never shortens the file. */
QR_API bool QR_CALL FreeDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
/* Writes llSize zero bytes at llPos in pieces of 1024 bytes (not flushed); size 0 or less only
 * positions the pointer. */
QR_API bool QR_CALL InitiateSpaceIntoZero(void* hFile, int64_t llPos, int64_t llSize);

/* Progress of the long space operations (MoveData, AllocateDiskSpace, FreeDiskSpace,
 * InitiateSpaceIntoZero), for a progress display. The hook only observes: it cannot cancel.
 * llTotal is the number of bytes the whole call moves or fills (for AllocateDiskSpace the tail
 * moved plus the gap filled, for FreeDiskSpace the tail moved); llDone rises from 0 to llTotal.
 * Each call that passes its argument checks reports (0, llTotal) first and (llTotal, llTotal)
 * last when it succeeds (not when it fails), and in between at most 64 more times, whatever
 * the size. The hook runs on the calling thread, with no lock of the library held; it must not
 * use the same file handle. The hook and context in place when an operation starts serve the
 * whole operation. The hook is QR_CALLBACK (__cdecl on 32-bit Windows). */
typedef void (QR_CALLBACK* QR_ProgressHook)(int64_t llDone, int64_t llTotal, void* pContext);

/* Installs pfnHook with pContext (null: no reports) for the whole process and returns the
 * previous hook (null when there was none). */
QR_API QR_ProgressHook QR_CALL QR_SetProgressHook(QR_ProgressHook pfnHook, void* pContext);

QR_EXTERN_C_END

#endif
