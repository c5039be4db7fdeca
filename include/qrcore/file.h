/* QRCore file objects: CxFile (a disk, temporary or memory file behind one interface) and
 * CTempFile (a scratch file on disk, deleted when it is closed).
 *
 * About signatures: a failure returns false, 0, -1 or a null pointer. Disk work goes through the
 * raw file functions (fileapi.h), which report their own error numbers (1000000 for a failed
 * system call); the objects add 1000000 only where they call the system themselves, as each
 * member says. The memory kind reports through its results alone. An object is used by one
 * thread at a time, and so are all the copies of one object, which share what they refer to.
 *
 * Ownership: an object owns the handle it opened, the buffer it allocated and the temporary file
 * it created, and releases them in Close, which its destructor calls. Copies (copy construction
 * or assignment) refer to the same handle, buffer and file as their source and share them: each
 * is released once, by the Close of the last copy that still holds it; a Close of any other copy
 * only lets go of it. After Close an object holds nothing, so a second Close, or the destructor
 * after Close, releases nothing and stores no error. Assigning to an object lets go of what it
 * held as its Close would. A buffer handed over with CxFile::Initialize(buffer, length) stays the
 * caller's: it is never reallocated or freed. Opening operations (Open, Create, CreateTempFile,
 * CreateMemFile, both Initialize forms) do not release what the object held before: close first.
 * What an opening operation leaves in place (a buffer that a memory file held before Open, a
 * handle held before CreateMemFile) stays the object's, and its Close releases it as well.
 *
 * Forked children: a child made by fork() without exec holds copies of the parent's objects.
 * Their handles reach the parent's own open files: the child shares the file pointer, and its
 * writes and seeks land in the parent's file; the parent's sharing holds until the child execs or
 * ends (see fileapi.h). A memory file's buffer is the child's own copy. A temporary file belongs
 * to the process that created it: a child that closes or destroys its copy of a CTempFile or of
 * a temporary CxFile, or simply ends (exit() runs its destructors), only closes its own handle
 * (Close reports success) and never deletes the parent's file, which the parent's own Close
 * deletes as before. A temporary file the child creates itself is the child's. */
#ifndef QRCORE_FILE_H
#define QRCORE_FILE_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

/* The kind of a CxFile, stored as a 32-bit integer. Any 32-bit value may be stored; values
 * other than these three make the transfers and queries return fixed results. */
#ifdef __cplusplus
enum QR_FileType : int32_t {
#else
typedef enum QR_FileType {
#endif
    QR_MemFile = 0,  /* bytes in a heap buffer (or a caller's buffer) */
    QR_DiskFile = 1, /* a disk file */
    QR_TempFile = 2  /* a disk file that Close deletes */
#ifdef __cplusplus
};
#else
} QR_FileType;
#endif

#ifdef __cplusplus
#include <string>

/* A file of one of three kinds. The fields are public and keep this order; the private fields
 * at the end link the copies that share one handle or buffer.
 *
 * Memory files: the data is m_nFileSize bytes at m_pBuffer; m_nBufferSize is the capacity,
 * which grows in whole steps of 4096 bytes above the previous capacity and never shrinks. Bytes
 * a memory file has not written (a new file's contents, growth, the gap a write after a seek
 * beyond the end leaves) read as zero. All copies of a memory file see the same buffer, length
 * and capacity; each keeps its own position. Copies of a disk file share the system's file
 * pointer. */
class QR_CLASS CxFile {
public:
    /* An empty disk-kind object: no handle (the invalid-handle value), no buffer, empty name. */
    CxFile();
    /* Shares src's handle, buffer and temporary file (see Ownership above). */
    CxFile(const CxFile& src);
    /* Close, result ignored. */
    ~CxFile();
    /* Lets go of what this object held (releasing it when no other copy holds it), then copies
     * every field of src and shares what src refers to. */
    CxFile& operator=(const CxFile& src);

    /* Makes this an empty object of kind nType (any value; kinds other than 0, 1 and 2 make
     * transfers and queries return fixed results). Releases nothing this object held. */
    void Initialize(QR_FileType nType);
    /* Makes pBuffer, nLength bytes long, a memory file whose data is the whole buffer. The buffer
     * stays the caller's: writes beyond its end store only what fits, and Close leaves it. */
    void Initialize(unsigned char* pBuffer, uint32_t nLength);

    void* GetFileHandle() const;
    std::string GetFileName() const;

    /* A memory file of nSize zero bytes. True without any change if this object already has a
     * buffer; false for a negative size or when no memory is left (no error number). */
    bool CreateMemFile(int32_t nSize);
    /* Opens an existing disk file, read only when bReadOnly, without sharing. m_bReadOnly takes
     * the flag even on failure. A name longer than 255 bytes is refused before anything is
     * opened (1000000, name too long); other failures carry the error of QR_OpenFile. On
     * failure kind, handle and name are unchanged. */
    bool Open(const char* szFileName, bool bReadOnly);
    /* Creates (or, after the user agreed through QR_NewFile, empties) a disk file for reading
     * and writing without sharing. Too long a name is refused before anything is touched
     * (1000000). On failure kind, handle and name are unchanged. */
    bool Create(const char* szFileName);
    /* Creates a temporary file of nSize bytes (reserved, not written) in the folder for
     * temporary files, named with up to three characters of szPrefix ("tmp" when null), open
     * for reading and writing without sharing, with the file pointer at its end. No overwrite
     * question is asked for the generator's own placeholder. Close deletes the file. Failures
     * (all 1000000): no name, a name longer than 255 bytes, or the placeholder cannot be opened:
     * the placeholder is removed again and the object is unchanged; the size cannot be set (a
     * negative size fails the seek): the file stays open as a plain disk file, which Close
     * closes without deleting. */
    bool CreateTempFile(const char* szPrefix, int64_t nSize);
    /* Writes m_nFileSize zero bytes at the file pointer (it does not seek first), in pieces of at
     * most 1,024,000 bytes. False as soon as a piece writes nothing (error of QR_Write). */
    bool InitTempFile();
    /* Releases what this object holds: closes its handle (a temporary file is then deleted, but
     * only by the process that created it: see Forked children above) and frees its own buffer,
     * or only lets go of them while another copy holds them. Leaves kind, name, position and
     * sizes; the handle becomes the invalid-handle value and the buffer pointer null, except that
     * a caller's buffer stays attached. False when the handle could not be closed (error of
     * QR_CloseFile; a temporary file is then kept) or the temporary file could not be deleted
     * (1000000). */
    bool Close();

    bool SeekToBegin();
    /* Origins: 0 from the beginning, 1 from the current position, 2 from the end. A memory file
     * clamps a position before 0 to 0 and has no upper limit, but refuses a position that does
     * not fit 63 bits (false, unchanged). */
    bool Seek(int64_t nOffset, uint32_t nOrigin);
    uint32_t Read(void* pBuffer, uint32_t nCount);
    /* Bytes written. A memory file grows as needed; 0 (nothing changed) when it cannot. */
    uint32_t Write(const void* pBuffer, uint32_t nCount);
    /* Memory: the position, -1 without buffer. Disk: the system's file pointer; 0 with 1000000
     * when it cannot be read. */
    int64_t GetPos();
    /* Memory: m_nFileSize. Disk: the open file's size, also stored in m_nFileSize; -1 (no error
     * number, m_nFileSize unchanged) when the system cannot tell it. */
    int64_t GetFileSize();
    /* Nonzero when the system wrote its buffers for a disk file; 0 for memory files. */
    int32_t Flush();
    bool Eof();
    bool PutC(unsigned char cByte);
    /* The next byte, or 0 when none was read (at the end: Eof tells it from a zero byte). */
    unsigned char GetC();
    /* Makes the buffer hold at least nSize bytes (capacity in steps of 4096) and returns it;
     * null when the memory cannot be had or the buffer is a caller's that is too small (the
     * buffer and its data then stay as they were). Looks at no kind. */
    unsigned char* Alloc(uint32_t nSize);
    /* A new, unique, empty file in the folder for temporary files named with up to three
     * characters of szPrefix ("tmp" when null); its full path, or "" with 1000000. */
    std::string MakeTempFileName(const char* szPrefix);

    unsigned char* m_pBuffer;
    QR_FileType m_nFileType;
    int32_t m_bAttached;
    bool m_bReadOnly;
    void* m_hFile;
    char m_szFileName[256];
    int64_t m_nBufferSize;
    int64_t m_nPos;
    int64_t m_nFileSize;

private:
    bool growTo(int64_t llSize);
    bool putSlow(unsigned char cByte);
    void publishBuffer();
    void joinShare(const CxFile& src);
    bool leaveShare();
    bool dropShared();
    bool releaseHandle();

    int64_t m_nReserved;            /* bytes really allocated at m_pBuffer (>= m_nBufferSize) */
    uint32_t m_nOwnerProcess;       /* process that opened m_hFile; only it deletes a temp file */
    mutable CxFile* m_pSharePrev;   /* ring of the copies sharing handle and buffer */
    mutable CxFile* m_pShareNext;
};

/* A scratch file of at least 1,024,000 bytes in the folder for temporary files, created by the
 * constructors, open for reading and writing with the file pointer at the end of the reserved
 * space, and deleted by Close. A constructor reports nothing itself: after a failure
 * GetFileHandle is null, GetFileSize 0, and the error number of the failing step stays in the
 * error state. */
class QR_CLASS CTempFile {
public:
    /* Named with "Tmp", 1,024,000 bytes. */
    CTempFile();
    /* Named with up to three characters of szPrefix ("Tmp" when null), 1,024,000 bytes. */
    CTempFile(const char* szPrefix);
    /* Named with up to three characters of szPrefix ("Tmp" when null), max(nSize, 1,024,000)
     * bytes. */
    CTempFile(const char* szPrefix, int64_t nSize);
    /* Named with "Tmp", max(nSize, 1,024,000) bytes. */
    CTempFile(int64_t nSize);
    /* Shares src's file (see Ownership above). */
    CTempFile(const CTempFile& src);
    /* Lets go of this object's file (deleting it when no other copy holds it), then shares
     * src's. */
    CTempFile& operator=(const CTempFile& src);
    /* Close. */
    ~CTempFile();

    int64_t GetFileSize() const;
    void* GetFileHandle() const;
    std::string GetFileName() const;
    /* A new, unique, empty file in the folder for temporary files named with up to three
     * characters of szPrefix ("Tmp" when null); its full path, or "" with 1000000. */
    std::string MakeTempFileName(const char* szPrefix);

    /* Writes m_nFileSize zero bytes at the file pointer (it does not seek first), in pieces of at
     * most 1,024,000 bytes. False as soon as a piece writes nothing (error of QR_Write). */
    bool Initialize();
    bool SeekToBegin();
    bool Seek(int64_t nOffset, uint32_t nOrigin);
    uint32_t Read(void* pBuffer, uint32_t nCount);
    uint32_t Write(const void* pBuffer, uint32_t nCount);
    /* Closes the handle and deletes the file, or only lets go of them while another copy holds
     * them; in a process other than the creator (a forked child) it only closes that process's
     * handle. Stores no error number of its own; a file that cannot be deleted stays. Afterwards
     * the handle is the invalid-handle value and nothing is released again. */
    void Close();

    void* m_hFile;
    std::string m_strFileName;
    int64_t m_nFileSize;

protected:
    /* Opens the generated file named m_strFileName (generating one with "Tmp" when the name is
     * empty), emptied, for reading and writing without sharing, and reserves max(nSize,
     * 1,024,000) bytes. Returns the handle; null on failure, with the file closed and deleted
     * again and m_nFileSize 0. */
    void* Create(int64_t nSize);

private:
    void joinShare(const CTempFile& src);
    bool leaveShare();

    bool m_bOwnsFile;                 /* the file at m_strFileName is this object's to delete */
    uint32_t m_nOwnerProcess;         /* the process that created it: the only one that deletes it */
    mutable CTempFile* m_pSharePrev;  /* ring of the copies sharing the file */
    mutable CTempFile* m_pShareNext;
};
#endif

#endif
