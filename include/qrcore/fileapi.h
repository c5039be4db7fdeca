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

/* Handles are close-on-exec: a child process that runs another program never keeps a file (or
 * its sharing) open. A child made by fork() that has not yet exec'd is different: it holds the
 * parent's open files themselves (the same open file descriptions), and so their sharing and
 * locks, until it execs or ends; closing its copies never changes what the parent holds.
 * Sharing holds between handles of one process and of different processes; a refused open
 * reports 1000000 with the "sharing violation" text, and a refused QR_NewFile never empties
 * the existing file. Emptying a file is writing to it: QR_NewFile on an existing file is
 * refused while another handle does not share writing, whatever access the mode asks for (the
 * new handle then holds only that access). A folder cannot be opened as a file.
 * A file with a live mapping (see mapfile.h: a mapping object or one of its views, in any
 * process) is never cut below it: QR_NewFile of it and FreeDiskSpace on it fail with 1000000
 * and the text "The requested operation cannot be performed on a file with a user-mapped
 * section open.", the file untouched. Growing such a file is allowed. */

/* Creates or empties szFileName. An existing name is first put to the user through the
 * overwrite question; Cancel returns false with 1000001, the file and *phFile untouched. The
 * mode is checked after the question. *phFile is written only by the create itself (the
 * invalid handle when it failed). A name too long for the question (more than 1024 bytes with
 * the question's suffix and terminator) is refused at once with 1000000 and the "file name too
 * long" text. A name whose last component holds '*' or '?' is a search pattern, not a file: it
 * is refused at once too, before any question, with 1000000 and the "invalid argument" text
 * (wildcards in the folder part are taken literally). */
QR_API bool QR_CALL QR_NewFile(void** phFile, const char* szFileName, uint32_t nMode);
/* Opens an existing file; a missing name fails with 1000000 before any open is tried. A name
 * whose last component holds '*' or '?' is refused as in QR_NewFile.
 * QR_OpenFile and QR_NewFile (on an existing file, before the overwrite question) first finish
 * an edit of the file that was interrupted (see QR_RecoverFile); when that fails they fail with
 * its error and open nothing. An edit that is running right now in another process or on
 * another handle is left alone: the open goes ahead as the file's sharing allows. */
QR_API bool QR_CALL QR_OpenFile(void** phFile, const char* szFileName, uint32_t nMode);
/* The handle is invalid afterwards, also when closing reports an error (1000000). A handle
 * value is never given out again in the same process, so a closed handle keeps failing with
 * 1000000 and the system's invalid-handle text and never reaches a file opened later. */
QR_API bool QR_CALL QR_CloseFile(void* hFile);
QR_API bool QR_CALL QR_SeekToBegin(void* hFile);
/* A target before 0 or past the largest position fails with 1000000 and leaves the pointer. */
QR_API bool QR_CALL QR_Seek(void* hFile, int64_t llOffset, uint32_t nOrigin);
/* Bytes read (fewer only at the end of the file, 0 there without an error); 0 and 1000000 on
 * failure, also for a handle opened write-only. */
QR_API uint32_t QR_CALL QR_Read(void* hFile, void* pBuffer, uint32_t nCount);
/* Bytes written; fewer than nCount reports 1000000 (a read-only handle writes nothing). */
QR_API uint32_t QR_CALL QR_Write(void* hFile, const void* pBuffer, uint32_t nCount);
/* Cuts or extends the file at its file pointer (needs write access); an extension reads as
 * zeros. Cutting a file below a live mapping in any process is refused with 1000000 and the
 * "user-mapped section" text, the file untouched; any other failure reports 1000000 with the
 * system's text. Not one of the system's own raw functions: the one call that shortens a file,
 * for callers that append and cut at the end, where the space functions refuse to work. */
QR_API bool QR_CALL QR_SetEndOfFile(void* hFile);
/* True when a file or folder of that name exists; never reports an error. '*' and '?' in the
 * last path component match as the Win32 file search does ('*' any run; '?' one character, or
 * none before a dot or at the end; "*." and ".*" forms follow the same rules, so "*.*" matches
 * every name), with ASCII letters compared regardless of case; the folder part is literal.
 * Trailing dots and spaces of such a pattern are dropped first, and a pattern that ended in a
 * dot wants names without one: "a*." finds "a" and "aa" but not "a.txt", "aa? " finds "aa" and
 * "aaa", "*. " finds every name. "." and ".." are not entries of a folder: a pattern that only
 * they match finds nothing. A name without wildcards must match exactly (a dangling symbolic
 * link counts as found). */
QR_API bool QR_CALL IsExistFile(const char* szFileName);
/* Asks "<name>已存在，覆盖此文件？" (caption "Quarrion提示信息"); false with 1000001 when the
 * user cancels. A name too long for the 1024-byte question is refused as in QR_NewFile. */
QR_API bool QR_CALL RequestRewriteFile(const char* szFileName);

/* The space functions need a handle open for reading and writing; they move the file pointer.
 * Arguments that no seek could reach (a position before 0, or a position plus size past the
 * largest position) fail with 1000000 before the file is touched. An edit that makes the file
 * longer (an insertion, a move or zero fill that reaches past the end) first reserves the disk
 * blocks the file grows into (holes inside the file are not filled); when that fails (no space
 * on the disk, a file larger than the process or the file system allows) the call reports
 * 1000000 with the system's text before any byte moves, and the file keeps its size and every
 * byte.
 *
 * Interrupted edits. AllocateDiskSpace, FreeDiskSpace and MoveData keep a journal while they
 * move data (unless switched off with QR_SetSpaceJournal): a hidden file beside the data file,
 * named "." + the file's name + ".qrjournal" (".qrjournal-" + a checksum of the name for names
 * over 200 bytes), readable by its owner only, locked while the edit runs and removed when it
 * ends. Whatever instant the process dies (killed, crashed, or the machine loses power), the
 * next QR_OpenFile or QR_NewFile of the file (and so CxFile::Open and CxMapFile::MapFile), the
 * next of these three edits on it, or QR_RecoverFile finishes the edit: the file is then exactly
 * as after it, or, when it had not begun to change, exactly as before. The journal costs a few
 * flushes per edit and two per stretch of the move: a stretch is the shift itself for shifts of
 * 32 MiB or more; smaller shifts move 32 MiB more per stretch and write each moved byte once
 * more, into the journal. The journal holds at most 64 MiB and a header. Creating it needs
 * write access to the folder; when that fails the edit fails with that error and nothing
 * changes. A failure part-way (a failed write, read or flush) reports the error of the failing
 * step and leaves the journal: the next open, edit or QR_RecoverFile completes the file to
 * "after", so a caller that sees such a failure must not rely on the file being as before, and
 * should reopen the file before using it again. Before the first byte moves, the disk space the
 * edit will need (the file's growth and the journal's largest size) is reserved; a failure until
 * then (the journal could not be created, no space) leaves the file exactly as it was and no
 * journal.
 * The in-place path (whole blocks, see AllocateDiskSpace) needs no journal: it is one operation
 * of the file system, which after a crash shows the file before or after it as far as the file
 * system keeps its metadata consistent (ext4 and XFS do).
 * Who may write a journal, and when it is applied. A journal changes only the data file it sits
 * beside, and only when the file is the one it was written for (same identity, a size between
 * the edit's sizes, and not changed since the edit stopped). It is believed only when it is a
 * regular file reached without following a link, owned by the data file's owner and closed to
 * everyone else (POSIX: no group or other permission bits; Windows: an access list for the owner
 * alone); the editor creates it that way from the first instant. Anything else at its name (a
 * link, a folder, a pipe, another user's file, a file others may read) is never applied nor
 * removed: opens of the data file go ahead as if it were not there, and QR_RecoverFile fails
 * with 1000000 and the text "The name of this file's journal holds something that is not its
 * owner's private journal ...". The space functions' chunked edits then journal aside, under
 * "." + the file's name + "." + 16 random hex digits + ".qrjournal" in the same folder (the
 * checksum form, then the same affixes, for long names), which the data file's mark (below)
 * names, so that the next open finds it after a crash; where the file system keeps no such
 * marks they fail with that text instead. An edit by a user who may
 * write the file but neither owns it nor is root needs such a journal too and is refused with the
 * same text. Recovery writes the file, so only a caller who may write it recovers: a read-only
 * open (or QR_RecoverFile) by anyone else fails with 1000000 and "An edit of this file was
 * interrupted and waits to be finished by 'qrtool recover' ..." and changes nothing.
 * A journal that no longer describes its file (the file restored from a backup or written
 * after the edit stopped) is refused with 1000000 and "The journal of an interrupted edit no
 * longer describes this file ..."; where the file system keeps extended attributes, the edit
 * marks the data file itself, so that an open through another hard link or after a rename
 * finds and finishes the edit. A journal written by an older version of the format is refused
 * with "... was written in an older format ...".
 * With the journal switched off, a failure or crash part-way leaves the pieces already moved in
 * place (no rollback), as it always did. */

/* Moves a block as if through an intermediate copy, in pieces of at most 1 MiB, flushed to the
 * disk before it returns (once at the end without the journal; at the end of every journal
 * stretch with it); a failed flush reports the system's own error code as the number. A block
 * that runs past the end of the file is refused before any byte moves, with 1000000 and the text
 * "The file ended before the bytes a move was to read; ..."; a file cut by someone else while
 * the move runs fails the same way at the piece that comes up short, none of which is written. */
QR_API bool QR_CALL MoveData(void* hFile, const _tagMoveData* pMoveData);
/* Inserts llSize zero bytes before llPos (llPos inside the file). When llPos and llSize are
 * whole file-system blocks and the file system can, the range is inserted in place without
 * moving the tail; the bytes are the same either way, and the call ends flushed. */
QR_API bool QR_CALL AllocateDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
/* Removes llSize bytes at llPos (the range must end before the end of the file); in place for
 * whole blocks as AllocateDiskSpace. A failure never shortens the file. A file with a live
 * mapping is refused before anything moves (1000000, see above). */
QR_API bool QR_CALL FreeDiskSpace(void* hFile, int64_t llPos, int64_t llSize);
/* Writes llSize zero bytes at llPos in pieces of 1024 bytes (not flushed); size 0 or less only
 * positions the pointer. */
QR_API bool QR_CALL InitiateSpaceIntoZero(void* hFile, int64_t llPos, int64_t llSize);

/* Switches the journal of interrupted edits (above) on or off for the whole process and returns
 * the previous setting (on by default). Off, the space functions behave as they did without it:
 * one flush at the end of a move, and a crash part-way leaves the file part-way. Opening a file
 * still finishes an interrupted edit whose journal was left by a process that had it on. */
QR_API bool QR_CALL QR_SetSpaceJournal(bool bEnabled);

/* Finishes an interrupted edit of szFileName (an existing file, no wildcards), as opening it
 * would, and sets *pbRecovered (when not null) to whether there was one. True when the file is
 * now whole: nothing was interrupted, or the edit was finished and its journal removed (a
 * journal of an edit that never began or had already finished is removed as well, with
 * *pbRecovered false). False with 1000000 when the file is missing; with the sharing-violation
 * text when an edit of the file is running right now (its journal is locked); with the error of
 * the failing step when the edit could not be finished (the journal stays for a later attempt);
 * and with the text "... belongs to another file ..." or "... is damaged ..." for a journal
 * whose file identity or size does not match the file, or whose contents do not check: such a
 * journal is never applied, and both files are left as they are (remove the journal by hand
 * once you know the file is whole). Likewise with "... not its owner's private journal ..." for
 * something else at the journal's name (left alone), "... waits to be finished by 'qrtool
 * recover' ..." for a caller who may not write the file or open its journal, "... no longer
 * describes this file ..." for a journal of a file restored or written since, and "... older
 * format ..." for a journal of an older version. A journal found through the file's mark (an
 * edit made through another name of the file, or before a rename) is finished the same way. */
QR_API bool QR_CALL QR_RecoverFile(const char* szFileName, bool* pbRecovered);

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
