/* QRCore public API: export and linkage markers shared by every public header.
 *
 * About signatures: functions are plain C functions (extern "C") unless they are members of the
 * exported classes. Buffers and texts belong to the caller; every buffer size counts the
 * terminating NUL. Failures are reported by result and, for the error, file and mapping
 * functions, by the process's error state (see error.h); nothing throws across the boundary. */
#ifndef QRCORE_API_H
#define QRCORE_API_H

/* QR_API marks the exported C functions, QR_CLASS the exported classes (whole: members and copy
 * operations). On Windows the C functions are exported through the library's module-definition
 * file, which gives them their decorated names (_Name@bytes on 32-bit Windows); the classes are
 * exported by the compiler, in the MinGW C++ ABI. */
#if defined(_WIN32)
#  if defined(QRCORE_BUILDING)
#    define QR_API
#    define QR_CLASS __declspec(dllexport)
#  else
#    define QR_API __declspec(dllimport)
#    define QR_CLASS __declspec(dllimport)
#  endif
#else
#  define QR_API __attribute__((visibility("default")))
#  define QR_CLASS QR_API
#endif

/* Calling convention of the exported C functions: the platform's standard one. On 32-bit
 * Windows that is __stdcall (callers of any compiler find the functions by their decorated
 * names, _Name@bytes); elsewhere it is the only convention there is. */
#if defined(_WIN32) && !defined(_WIN64)
#  define QR_CALL __stdcall
#else
#  define QR_CALL
#endif

/* Calling convention of the callbacks a host hands to the library (notice handler, progress
 * hook): the C default, __cdecl, stated so that a host compiled with another default (/Gz) still
 * declares them right, and so that C++ lambdas without captures convert to them. */
#if defined(_WIN32) && !defined(_WIN64)
#  define QR_CALLBACK __cdecl
#else
#  define QR_CALLBACK
#endif

#ifdef __cplusplus
#  define QR_EXTERN_C_BEGIN extern "C" {
#  define QR_EXTERN_C_END }
#else
#  define QR_EXTERN_C_BEGIN
#  define QR_EXTERN_C_END
#endif

#endif
