/* QRCore survey line-number and flight-number codecs: survey line and flight names in text and
 * as the integer codes stored in survey files.
 *
 * About signatures: these functions keep no state and never touch the error state; they report
 * through their results alone, and a text that cannot be coded gets the keyword code DUMMY.
 * Texts are zero-terminated; every buffer size counts the terminator. Text arguments that are
 * not const are modified: their blanks (0x20 only) are removed in place, so pass writable text.
 * Calls may run on any thread at once as long as they share no buffers.
 *
 * Text form (after blank removal): an optional area of one or two letters, a type letter and a
 * number, with nothing between them ("AL0123", "BT45", "AAS05"), or one of the keywords, exact
 * and case-sensitive: "RESET" (code -1), "NEXTIND" (code 0) and "DUMMY" (code -32767). The number
 * part runs from the first decimal digit to the end; its value is that of its leading digits
 * ("L12A34" has number 12). The type is the character just before the first digit (the last
 * character of a text without digits); the area is what stands before the type. Letters are
 * upper-cased ('a'..'z' only). An area character is valued by its code minus 64 ('@' = 0,
 * 'A' = 1 .. 'Z' = 26); two characters give value(first) * 26 + value(second), at most 127.
 * Area codes print as: 0 none, 1..26 A..Z, 27..52 AA..AZ, ... 105..127 DA..DW.
 *
 * Line-number code, 64 bits: bits 0-31 number (0..2147483647), bits 32-39 type index (position
 * in "LBTRSPD" plus one, 0 = no type), bits 40-47 area code (0..127), bits 48-63 zero.
 * Flight-number code, 32 bits: bits 0-15 number (0..65535), bits 16-23 type index (position in
 * "NSCTI" plus one), bits 24-31 area code. A negative code other than -1 and -32767 is read
 * through its absolute value. These layouts are the stored format of survey files.
 *
 * Behaviour at the edges, fixed here:
 * - A text that is empty after blank removal, or whose first character is a digit, has neither
 *   type nor area; an empty text therefore codes as 0 ("NEXTIND"), like "0".
 * - A line number above 2147483647 or a flight number above 65535 is not valid: the code becomes
 *   DUMMY and the result is false. Digit strings of any length are read without overflow.
 * - A line name has at most 16 characters after blank removal and a number part of at most 15;
 *   a flight name may be of any length.
 * - ToCharLineNo and ToCharFlightNo never write more than nSize bytes, nor past the terminator.
 *   When the whole text and its terminator do not fit, they write the empty text (when
 *   nSize >= 1) and return false. A line text needs at most 15 bytes, a flight text at most 9;
 *   16 bytes always suffice.
 * - ToCharLineNo prints the number field as a signed 32-bit value with at least four characters
 *   ("%04d"), so a code whose bit 31 is set prints a negative number, which does not read back.
 * - A null text or null out-argument makes the call fail (false, and the DUMMY code where a code
 *   pointer was given) without touching the text; nothing is written through a null pointer.
 *   SplitIntLineNo, which returns nothing, simply skips null out-arguments. */
#ifndef QRCORE_SURVEY_H
#define QRCORE_SURVEY_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

/* Codes the line name szLine into *pllCode after removing its blanks in place. True for a
 * keyword or a valid line name. On failure *pllCode is -32767 (DUMMY): a type letter not in
 * "LBTRSPD", an area character outside '@'..'Z', an area code above 127, more than two
 * characters before the type letter, a number above 2147483647, more than 16 characters, or a
 * number part of more than 15 characters. The code is always written. */
QR_API bool QR_CALL ToIntLineNo(char* szLine, int64_t* pllCode);

/* Writes the text of llCode into szBuffer (nSize bytes with the terminator). False when a type
 * index above 7 made it write "DUMMY", or when the text does not fit (then the empty text is
 * written if nSize >= 1). A code with an area and no type prints with the type letter 'L'. */
QR_API bool QR_CALL ToCharLineNo(int64_t llCode, char* szBuffer, int32_t nSize);

/* Splits llCode into its number (bits 0-31, unsigned), type index and area code (bits 32-39 and
 * 40-47, each read as a signed 8-bit value). The keyword codes give number -1, 0 or -32767 with
 * type and area 0. Null out-arguments are skipped. */
QR_API void QR_CALL SplitIntLineNo(int64_t llCode, int64_t* pllNumber, int16_t* pnType, int16_t* pnArea);

/* Splits the line name szLine, after removing its blanks in place, into its number part (the
 * text from the first digit to the end, or the whole keyword), its upper-cased type character
 * and its area characters (case kept; none of the three is checked). Outputs start empty (type
 * 0). False when the text is longer than nNumberSize characters, when the number part or
 * keyword does not fit nNumberSize bytes, when more than two characters stand before the type
 * character, or when the area does not fit nAreaSize bytes; outputs filled before the failing
 * step keep their values, the others stay empty. */
QR_API bool QR_CALL SplitCharLineNo(char* szLine, char* szNumber, int16_t nNumberSize, char* pcType,
                            char* szArea, int16_t nAreaSize);

/* The type character of szLine (blanks removed in place), as SplitCharLineNo with a 16-byte
 * number buffer and a 4-byte area buffer gives it; same result. */
QR_API bool QR_CALL GetCharLineType(char* szLine, char* pcType);

/* The area characters of szLine (blanks removed in place), as SplitCharLineNo with a 16-byte
 * number buffer gives them; same result. */
QR_API bool QR_CALL GetCharLineArea(char* szLine, char* szArea, int16_t nAreaSize);

/* The type index of llCode (bits 32-39 of its absolute value, 0..255); 0 for -1 and -32767. */
QR_API int16_t QR_CALL GetIntLineType(int64_t llCode);

/* The area code of llCode (bits 40-47 of its absolute value, 0..255); 0 for -1 and -32767. */
QR_API int16_t QR_CALL GetIntLineArea(int64_t llCode);

/* Codes the flight name szFlight into *plCode after removing its blanks in place; any length.
 * True for a keyword or a valid flight name. On failure *plCode is -32767 (DUMMY): a type
 * letter not in "NSCTI", an area character outside '@'..'Z', an area code above 127, more than
 * two characters before the type letter, or a number above 65535. The code is always written. */
QR_API bool QR_CALL ToIntFlightNo(char* szFlight, int32_t* plCode);

/* Writes the text of lCode into szBuffer (nSize bytes with the terminator), the number with at
 * least two digits. False when a type index above 5 made it write "DUMMY", or when the text does
 * not fit (then the empty text is written if nSize >= 1). A code with an area and no type
 * prints with the type letter 'N'. */
QR_API bool QR_CALL ToCharFlightNo(int32_t lCode, char* szBuffer, int32_t nSize);

QR_EXTERN_C_END

#endif
