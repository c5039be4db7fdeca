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

QR_API bool QR_NewFile(void** phFile, const char* szFileName, uint32_t nMode);
QR_API bool QR_OpenFile(void** phFile, const char* szFileName, uint32_t nMode);
QR_API bool QR_CloseFile(void* hFile);
QR_API bool QR_SeekToBegin(void* hFile);
QR_API bool QR_Seek(void* hFile, int64_t llOffset, uint32_t nOrigin);
QR_API uint32_t QR_Read(void* hFile, void* pBuffer, uint32_t nCount);
QR_API uint32_t QR_Write(void* hFile, const void* pBuffer, uint32_t nCount);
QR_API bool IsExistFile(const char* szFileName);
QR_API bool RequestRewriteFile(const char* szFileName);

QR_API bool MoveData(void* hFile, const _tagMoveData* pMoveData);
QR_API bool AllocateDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
QR_API bool FreeDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
QR_API bool InitiateSpaceIntoZero(void* hFile, int64_t llPos, int64_t llSize);

/* Progress of the long space operations (MoveData, AllocateDiskSpace, FreeDiskSpace,
 * InitiateSpaceIntoZero), for a progress display. The hook only observes: it cannot cancel.
 * llTotal is the number of bytes the whole call moves or fills (for AllocateDiskSpace the tail
 * moved plus the gap filled, for FreeDiskSpace the tail moved); llDone rises from 0 to llTotal.
 * Each call that passes its argument checks reports (0, llTotal) first and (llTotal, llTotal)
 * last when it succeeds (not when it fails), and in between at most 64 more times, whatever
 * the size. The hook runs on the calling thread, with no lock of the library held; it must not
 * use the same file handle. The hook and context in place when an operation starts serve the
 * whole operation. */
typedef void (*QR_ProgressHook)(int64_t llDone, int64_t llTotal, void* pContext);

/* Installs pfnHook with pContext (null: no reports) for the whole process and returns the
 * previous hook (null when there was none). */
QR_API QR_ProgressHook QR_SetProgressHook(QR_ProgressHook pfnHook, void* pContext);

QR_EXTERN_C_END

#endif
