/* QRCore named memory-mapped files and their views.
 *
 * About signatures: a CxMapFile puts a file, an open file handle or a block of page-file memory
 * under a named file-mapping object that other processes of the same user can open by name, and
 * hands out views of it that start at multiples of the allocation granularity (the page size on
 * this platform). A failure returns false or a null address and, where stated, stores error
 * 1000000 in the error state (see error.h) with the system's text of the cause. The object owns
 * the file handle and the mapping it opened and releases them in UnMap (also from the
 * destructor); the views of the view list and their memory belong to the list and stay mapped
 * across UnMap until FreeView releases them. An object is used by one thread at a time; the
 * per-view mutexes order the threads that share one view (OpenView / CloseView).
 *
 * A mapped file cannot be cut: while a mapping object of a file or a view of it lives, in this
 * process or another, every library operation that would shorten or empty the file (QR_NewFile
 * of it, FreeDiskSpace on it, ...) fails with 1000000 and "The requested operation cannot be
 * performed on a file with a user-mapped section open.", so no view can lose its data.
 *
 * Forked children: a child made by fork() without exec holds copies of the parent's objects,
 * views and handles, which share the parent's open files and their locks until the child execs
 * or ends. Releasing the copies in the child (UnMap, FreeView, the destructor, or the child's
 * exit) frees only the child's own memory and descriptors: it never removes the parent's named
 * objects or changes its locks. A child that runs another program keeps nothing. */
#ifndef QRCORE_MAPFILE_H
#define QRCORE_MAPFILE_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

/* One view. Callers fill lViewID, llOffset and lSize and read the rest. */
typedef struct _tagMemView {
    int32_t lViewID;   /* caller's id; -1 in the current view of an object that has none */
    int64_t llOffset;  /* requested offset, then the aligned file offset of the view */
    int32_t lDelta;    /* requested offset minus aligned offset at the last MapView */
    int32_t lSize;     /* requested length, then the length from the aligned start */
    void* pBase;       /* aligned start of the mapped memory; null when not mapped */
    void* hMutex;      /* the view's mutex; null when it has none */
    bool bOpened;      /* set by mapping and OpenView, cleared by CloseView */
} _tagMemView;

/* A node of the view list, in order of creation. */
typedef struct _tagMemViewList {
    _tagMemView MemView;
    struct _tagMemViewList* pNext;
} _tagMemViewList;

#ifdef __cplusplus
#include <string>

/* A named mapping of a file, a file handle or page-file memory, and its views.
 *
 * Names: a file's mapping is named after its path as given, with every backslash turned into an
 * underscore; MapMemory and OpenMapping use the caller's name with the same rule; without a name
 * a random "MappingName<n>.mpf" is drawn that no other object holds. Creating a name that exists
 * shares the existing object: its size, access and append-null mode stay as they are,
 * GetMappingSize then answers the object's real size and views are cut against it. Append-null
 * mode asked of an existing object made without it is refused with 1000000 ("A mapping object of
 * that name exists without append-null mode: ..."), so no terminator is ever written into data
 * of another's object. A file mapping never shares the object of another file: since a relative
 * path names different files in different folders, a name already in use for another file is
 * refused with 1000000 ("The mapping name is already in use for another file"), the caller's
 * file untouched. Absolute paths avoid this (each file then has a name of its own). Paths and
 * names longer than 255 bytes are refused with error 1000000 ("File name too long") before
 * anything opens.
 * Append-null mode (two zero bytes after the data, usable as a string terminator) cannot be
 * combined with read-only: that is refused with error 1000000 ("Invalid argument").
 *
 * Views: every view starts at a multiple of the allocation granularity; a list view's address is
 * that aligned start (add requested offset mod granularity yourself), and its lSize counts from
 * there, cut at the end of the data. Addresses stay valid until the view is unmapped or mapped
 * again. In append-null mode only a view that reaches the end of the data gets its two zero
 * bytes; nothing beyond an earlier view's data is ever overwritten. */
class QR_CLASS CxMapFile {
public:
    CxMapFile();
    /* MapFile(szFileName, false, false, false); the outcome shows in the getters and the error
     * state. */
    explicit CxMapFile(const char* szFileName);
    /* MapHandle(hFile, false, false); the object owns hFile from here on, also on failure. */
    explicit CxMapFile(void* hFile);
    /* UnMap only: free the views (FreeView()) before destroying the object. */
    ~CxMapFile();
    /* Not copyable: two objects would close the same handles. */
    CxMapFile(const CxMapFile&) = delete;
    CxMapFile& operator=(const CxMapFile&) = delete;

    /* Opens the existing file through QR_OpenFile without sharing (read-only: mode 1, else 3)
     * and records the flags and the path. Null on failure with the error QR_OpenFile stored.
     * A failed sparse request stores 1000000 and returns the open handle without recording the
     * path. Does not release what the object held before. */
    void* OpenFile(const char* szFileName, bool bAppendNull, bool bReadOnly, bool bSparse);
    bool MapFile(const char* szFileName, bool bAppendNull, bool bReadOnly, bool bSparse);
    /* The object owns hFile from here on and closes it in UnMap, also when mapping fails. */
    bool MapHandle(void* hFile, bool bAppendNull, bool bReadOnly);
    /* A page-file mapping of llSize (> 0) bytes named szName, or a random name when null. */
    bool MapMemory(int64_t llSize, bool bAppendNull, bool bReadOnly, const char* szName);
    /* Creates the mapping of the held file (llSize 0: the file's size) or of page-file memory
     * under m_szMappingName. False with 1000000 stored, or without a number for an empty file
     * (the object is then released). A writable mapping larger than its file (a larger llSize, or
     * append-null mode) grows the file once the object is known to be new, and reserves the disk
     * blocks of the grown range first: a full disk fails here with 1000000 ("No space left on
     * device", or "File too large"), the file at its old size. A file opened sparse is grown
     * without reserving: a later write through a view into the grown range may then meet a full
     * disk, which ends the process with SIGBUS. When the name exists already, the existing
     * object's size becomes m_nMappingSize (see Names above). */
    bool CreateMapping(int64_t llSize);
    /* Opens an existing mapping by name and learns its size. False with 1000000 stored, and the
     * object released, when there is none or the access is refused. */
    bool OpenMapping(const char* szName, bool bReadOnly);
    /* Closes the mapping and the file; views, file name and sizes stay. Leaves GetReadOlny
     * true. */
    void UnMap();
    /* Spins (no sleep) for dSeconds of the millisecond clock; values beyond the 32-bit tick range
     * are held to it, and NaN counts as 0. */
    void WaitMoment(double dSeconds);

    std::string GetFileName();
    std::string GetMappingName();
    void* GetFileHandle() const;
    void* GetFileMappingHandle() const;
    int64_t GetMappingSize() const;
    int64_t GetMapViewStart() const;
    bool GetReadOlny() const;
    bool GetAppendNull() const;

    /* Maps the caller's record (unmapping what it mapped before) at its offset aligned down,
     * gives it a mutex and makes it the current view. Returns the address of the requested
     * offset, or null with 1000000 stored and the object released (UnMap). */
    void* MapView(_tagMemView& view);
    /* Flushes (for a writable object; a read-only one has written nothing) and unmaps the record's
     * memory and closes its mutex; the other fields stay. A failed flush (the data may not have
     * reached the file) is reported with 1000000, and the view is unmapped all the same. */
    void UnMapView(_tagMemView& view);
    /* Writes the record's modified pages to the file. False when not mapped or on failure (no
     * error number). */
    bool Flush(_tagMemView& view);
    /* Holds the view's mutex, waiting at most nTimeOut ms (negative: without limit); read-only
     * objects never wait. Returns pBase (the aligned start), or null without an error number
     * when not mapped, on time-out or when the last holder ended without CloseView. */
    void* OpenView(_tagMemView& view, int32_t nTimeOut);
    /* Releases what OpenView held. False when the record is not opened. */
    bool CloseView(_tagMemView& view);

    /* Adds list view lViewID over [llOffset, llOffset + lSize) aligned down and maps it as the
     * current view. False, without a number, when the id exists; false with 1000000 stored,
     * no node left and the object released, when it cannot be mapped. */
    bool SetView(int32_t lViewID, int64_t llOffset, int32_t lSize);
    /* Address of the view's aligned start, mapping it again when it was unmapped; null when the
     * id is unknown or the mapping fails (1000000). */
    void* UseView(int32_t lViewID);
    /* The list's own record (operations on it act on the list view), or null. */
    _tagMemView* GetView(int32_t lViewID);
    /* Unmaps and removes the view; when it was current, its neighbour is mapped again and becomes
     * current. */
    void FreeView(int32_t lViewID);
    void FreeView();
    /* Copies min(sizes) bytes from the source view's aligned start to the destination's (as
     * through a buffer when they overlap), then frees both views. Nothing happens when an id is
     * unknown. */
    void ViewCopy(int32_t lDestID, int32_t lSrcID);

protected:
    void Initialize();
    std::string CreateMappingName(const char* szName, bool bRandom);
    std::string CreateMutexName();
    void AdjustViewParam(int64_t& llOffset, int32_t& lSize);
    _tagMemView* FindView(int32_t lViewID, _tagMemViewList** ppPrev);

    char m_szFileName[256];
    char m_szMappingName[256];
    bool m_bAppendNull;
    bool m_bReadOnly;
    void* m_hFile;
    void* m_hFileMapping;
    int64_t m_nMappingSize;
    _tagMemView m_CurrentView;
    _tagMemViewList* m_pViewList;

private:
    bool CreateMappingObject(int64_t llSize, bool bRandomName);
    bool RefuseAppendNullReadOnly();
    void* MapViewRecord(_tagMemView& view);
};
#endif

#endif
