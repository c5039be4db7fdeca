// The one internal contract between the portable subsystems and the operating system.
// Portable code includes this header only; each backend (posix/, later win32/) implements it.
//
// Rules every backend keeps:
// - A failing call records its native error code as the calling thread's last system error at
//   the failure site (sys_error.h), so that error 1000000 shows the real cause.
// - Every call that reaches the OS first asks the fault seam (sys_fault.h), so tests can make
//   the Nth call of a kind fail with a chosen code.
// - Handles are void*; null and kInvalidHandle are never valid, and an operation on either
//   fails with kErrorInvalidHandle and touches nothing.
#pragma once

#include "platform/sys_error.h"
#include "platform/sys_fault.h"
#include "platform/sys_memory.h"
#include "platform/sys_notice.h"
#include "platform/sys_process.h"
#include "platform/sys_files.h"
#include "platform/sys_mapping.h"
#include "platform/sys_time.h"
