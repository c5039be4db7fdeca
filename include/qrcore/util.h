/* QRCore text, path, record, sort and typed-data utilities.
 *
 * About signatures: these functions work in place or into the caller's buffers; every buffer
 * size counts the terminating NUL. They keep no state and never touch the error state: they
 * report through their results alone. A blank is the character 0x20 alone (a tab is not a
 * blank). A null text or buffer is accepted everywhere: nothing is read or written through it
 * and the function returns 0 (SplitPath: EINVAL). Counts and lengths returned as int32_t
 * saturate at INT32_MAX for texts longer than that. */
#ifndef QRCORE_UTIL_H
#define QRCORE_UTIL_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

/* ---- strings and paths ---------------------------------------------------------------- */

/* Removes every blank of szText in place. */
QR_API void QR_CALL DelAllBlank(char* szText);

/* Replaces every byte cFrom of szText by cTo and returns how many were replaced. The length is
 * taken before any change, so replacing by '\0' replaces every occurrence up to the old end. */
QR_API int32_t QR_CALL ReplaceChar(char* szText, char cFrom, char cTo);

/* Cuts szText at its first CR LF pair: the CR becomes a blank and the LF the terminator; true
 * when a pair was found. Scanning stops (false, text unchanged) at a Ctrl-Z (0x1A) met first. */
QR_API bool QR_CALL ReplaceCRLF(char* szText);

/* Length of szText without its trailing blanks; the text is not changed. */
QR_API int32_t QR_CALL StrBytes(const char* szText);

/* Number of characters of a double-byte text whose pairs have both bytes above 0xA0 (GB2312
 * rows of code page 936); every byte of 0xA0 or below is one character. -1 when a byte above
 * 0xA0 is not followed by another one (the terminator included). */
QR_API int32_t QR_CALL StrSymbols(const char* szText);

/* Pads szText with blanks up to nWidth bytes and returns nWidth; no terminator is written after
 * the blanks, so the buffer must hold nWidth bytes. A text of nWidth bytes or more is left as it
 * is and its length returned. */
QR_API int32_t QR_CALL ToVFString(char* szText, int32_t nWidth);

/* Splits szPath into drive ("X:"), directory with its trailing separator ('/' and '\\' both
 * separate), base name, and extension with its dot (from the last dot of the last component).
 * Any part may be skipped with a null buffer and size 0. Returns 0, or EINVAL for a null path or
 * a buffer/size pair of which only one is null/zero, or ERANGE when a part does not fit its
 * buffer; on failure every given buffer is left empty. Bytes are bytes: no multibyte decoding. */
QR_API int32_t QR_CALL SplitPath(const char* szPath, char* szDrive, uint32_t nDriveSize, char* szDir,
                         uint32_t nDirSize, char* szName, uint32_t nNameSize, char* szExt,
                         uint32_t nExtSize);

/* Writes szID (a byte string) into szText with every byte below 0x20 written as "(hex)" in
 * lower case without leading zeros (0x0A as "(a)"); returns the length written. szText must
 * hold four bytes per ID byte plus the terminator. */
QR_API int32_t QR_CALL IDToString(char* szText, const char* szID);

/* Reads the form written by IDToString back into the bytes of szID and terminates it; returns
 * the count of bytes (a "(0)" group gives a zero byte, so the count, not the terminator, gives
 * the length). Each group's ")" that is reached is overwritten with a terminator in szText.
 * Returns -1, leaving szID unterminated, for a group of more than two characters, an empty or
 * non-hexadecimal group, or a "(" without a closing ")". szID must hold one byte per text byte
 * plus the terminator. */
QR_API int32_t QR_CALL StringToID(char* szID, char* szText);

/* ---- records --------------------------------------------------------------------------- */

/* Column widths of a record of blank-separated fields: the width of a field counts the blanks
 * in front of it; trailing blanks belong to no column. Returns a malloc'ed array of *pnCount
 * widths that the caller frees with free(). Returns null for an empty record (count not
 * written), for a record of blanks only (count 0), and with count 0 when no memory can be had
 * or the record is longer than INT32_MAX. Nothing but the result is allocated. */
QR_API int32_t* QR_CALL RecordFormatAnalyse(const char* szRecord, int32_t* pnCount);

/* Copies szRecord into szBuffer (length + 1 bytes) and cuts the copy into its fields: the first
 * blank after each field becomes a terminator. Returns the field count. szRecord is not
 * changed. */
QR_API int32_t QR_CALL SplitRecord(const char* szRecord, char* szBuffer);

/* ---- sorting and typed data ------------------------------------------------------------ */

/* Sorts the rows ppRows[nLeft..nRight] (inclusive) in place by the absolute value of column
 * nKey, then of column nKey2, ascending (QR_llabs, so INT64_MIN sorts first). Rows are reordered
 * by exchanging their first nColumns values; row pointers stay where they are and values beyond
 * nColumns stay in their slot. Not stable. Worst case O(n log n), no allocation, no recursion.
 * Does nothing when nRight <= nLeft, nLeft < 0, or a key is negative or not below nColumns. */
QR_API void QR_CALL QuickSort(int64_t** ppRows, int32_t nLeft, int32_t nRight, int32_t nKey,
                      int32_t nKey2, int32_t nColumns);

/* Size in bytes of a data-type code: 1,2 -> 1; 3,4 -> 2; 5,6 -> 4; 7,8 -> 8; 17 -> 4; 18 -> 8;
 * any other code -> 0. */
QR_API int32_t QR_CALL GetDataTypeBytes(int32_t nType);

/* The 64-bit absolute value; the most negative value is returned unchanged. Exported under this
 * name because the C library already defines llabs, and a second definition in a shared library
 * would replace it for the whole process; for every other value the C library's llabs gives the
 * same result. */
QR_API int64_t QR_CALL QR_llabs(int64_t llValue);

/* Reverses the order of the nLength bytes of pBuffer in place; returns nLength. A length below
 * 2 changes nothing. */
QR_API int32_t QR_CALL BufferReverse(void* pBuffer, int32_t nLength);

QR_EXTERN_C_END

#endif
