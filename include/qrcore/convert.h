/* QRCore angle and time conversions, EBCDIC and BCD.
 *
 * About signatures: the angle and time conversions take one double and return one double; they
 * keep no state and report nothing. Packed forms: DMS/HMS = degrees (hours) x 10000 + minutes x
 * 100 + seconds, DM = degrees x 100 + minutes; the sign of the value is the sign of the
 * quantity. Every conversion to or from radians uses pi = 3.141592653589 (twelve decimals).
 * Integer parts are truncated toward zero and computed in 64 bits, so the packed conversions are
 * exact and sign-symmetric far beyond the 32-bit range; beyond +-(2^63 - 1) (and for infinities)
 * the integer part saturates there, and a NaN argument gives NaN. No minutes or seconds field is
 * rounded or carried. The character conversions work in place on zero-terminated byte strings
 * and return the length, saturated at INT32_MAX. */
#ifndef QRCORE_CONVERT_H
#define QRCORE_CONVERT_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

/* ---- angles and times ------------------------------------------------------------------ */

QR_API double QR_CALL SecondToHMS(double x);   /* seconds -> HMS */
QR_API double QR_CALL HMSToSecond(double x);   /* HMS -> seconds */
QR_API double QR_CALL HMSToHour(double x);     /* HMS -> decimal hours */
QR_API double QR_CALL HourToHMS(double x);     /* decimal hours -> HMS */
QR_API double QR_CALL SecondToDMS(double x);   /* arc seconds -> DMS */
QR_API double QR_CALL DMSToSecond(double x);   /* DMS -> arc seconds */
QR_API double QR_CALL DMSToDegree(double x);   /* DMS -> decimal degrees */
QR_API double QR_CALL DegreeToDMS(double x);   /* decimal degrees -> DMS */
QR_API double QR_CALL DMSToRadian(double x);   /* DMS -> radians */
QR_API double QR_CALL RadianToDMS(double x);   /* radians -> DMS */
QR_API double QR_CALL DegreeToRadian(double x);
QR_API double QR_CALL RadianToDegree(double x);
QR_API double QR_CALL SecondToRadian(double x);  /* arc seconds -> radians */
QR_API double QR_CALL RadianToSecond(double x);  /* radians -> arc seconds */
QR_API double QR_CALL DMToDegree(double x);    /* DM -> decimal degrees */
QR_API double QR_CALL DegreeToDM(double x);    /* decimal degrees -> DM */
QR_API double QR_CALL DMToRadian(double x);    /* DM -> radians */
QR_API double QR_CALL RadianToDM(double x);    /* radians -> DM */
QR_API double QR_CALL DMToDMS(double x);       /* DM -> DMS */
QR_API double QR_CALL DMSToDM(double x);       /* DMS -> DM */

/* Writes the current local time as "MM/DD/YYYY hh:mm:ss" (19 characters and the terminator)
 * into szBuffer and returns 19. With nSize below 20, or when the local time cannot be read,
 * writes an empty text (when nSize >= 1) and returns 0. Never writes more than nSize bytes. */
QR_API int32_t QR_CALL GetWinSysTime(char* szBuffer, int32_t nSize);

/* ---- EBCDIC and BCD -------------------------------------------------------------------- */

/* Translates szText in place from EBCDIC (code page 037, printable ASCII only; every other byte
 * becomes a blank) to ASCII, up to its first zero byte; returns the length translated. */
QR_API int32_t QR_CALL EbcdicToAscii(char* szText);

/* Translates szText in place from ASCII to EBCDIC, the inverse of EbcdicToAscii for the
 * characters it produces; every other byte (controls, square brackets, 0x7F, bytes from 0x80)
 * becomes the EBCDIC blank 0x40. Returns the length translated. */
QR_API int32_t QR_CALL AsciiToEbcdic(char* szText);

/* Reads n bytes of packed BCD, two digits a byte, high half-byte first, the last byte most
 * significant (0x34 0x12 is 1234). Half-bytes above 9 count with their value. Computed modulo
 * 2^32 and returned as the two's-complement int32_t, so values above INT32_MAX wrap. n <= 0 or
 * null data gives 0. */
QR_API int32_t QR_CALL BcdTol(const unsigned char* pData, int32_t n);

QR_EXTERN_C_END

#endif
