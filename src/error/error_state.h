// Error subsystem: how the other subsystems reach the process's one error state.
#pragma once

#include <cstdint>

#include "qrcore/error.h"

namespace qr {

inline constexpr int32_t kErrSystem = 1000000;          // a system call failed
inline constexpr int32_t kErrRecorded = 1000001;        // already made known; recorded only
inline constexpr int32_t kErrBadMode = 1000003;         // invalid open mode
inline constexpr int32_t kErrNoMemory = 1000004;        // no memory for a copy buffer
inline constexpr int32_t kErrBufferTooSmall = 1000005;  // caller's buffer too small

// The error state held by the module object, constructed before any exported function runs.
CErrorInfo& errorState();

// Reports lErrorNo to the error state (shows its message while showing is on).
void setError(int32_t lErrorNo);

// Records nSystemCode as the thread's last system error, then reports 1000000, so the message
// shows that code's text. For failures detected by the library itself (a name too long, an
// invalid argument) that must read like a failed system call.
void setSystemError(uint32_t nSystemCode);

}  // namespace qr
