/* QRCore public API: export and linkage markers shared by every public header.
 *
 * About signatures: functions are plain C functions (extern "C") unless they are members of the
 * exported classes. Buffers and texts belong to the caller; every buffer size counts the
 * terminating NUL. Failures are reported by result and, for the error, file and mapping
 * functions, by the process's error state (see error.h); nothing throws across the boundary. */
#ifndef QRCORE_API_H
#define QRCORE_API_H

#if defined(_WIN32)
#  if defined(QRCORE_BUILDING)
#    define QR_API __declspec(dllexport)
#  else
#    define QR_API __declspec(dllimport)
#  endif
#else
#  define QR_API __attribute__((visibility("default")))
#endif

/* Calling convention of the exported C functions: the platform's standard one. On 32-bit
 * Windows that is __stdcall (callers of any compiler find the functions by their decorated
 * names, _Name@bytes); elsewhere it is the only convention there is. */
#if defined(_WIN32) && !defined(_WIN64)
#  define QR_CALL __stdcall
#else
#  define QR_CALL
#endif

#ifdef __cplusplus
#  define QR_EXTERN_C_BEGIN extern "C" {
#  define QR_EXTERN_C_END }
#else
#  define QR_EXTERN_C_BEGIN
#  define QR_EXTERN_C_END
#endif

#endif
