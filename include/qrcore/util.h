/* QRCore text, path, record, sort and typed-data utilities.
 *
 * About signatures: these functions work in place or into the caller's buffers; every buffer
 * size counts the terminating NUL. They keep no state and never touch the error state: they
 * report through their results alone. A blank is the character 0x20 alone. */
#ifndef QRCORE_UTIL_H
#define QRCORE_UTIL_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

QR_EXTERN_C_BEGIN

/* Removes every blank of szText in place. A null text is left alone. */
QR_API void DelAllBlank(char* szText);

/* The 64-bit absolute value; the most negative value is returned unchanged. Exported under this
 * name because the C library already defines llabs, and a second definition in a shared library
 * would replace it for the whole process; for every other value the C library's llabs gives the
 * same result. */
QR_API int64_t QR_llabs(int64_t llValue);

QR_EXTERN_C_END

#endif
