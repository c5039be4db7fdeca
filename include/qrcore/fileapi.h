/* QRCore raw file handles, 64-bit positions and in-file space management. */
#ifndef QRCORE_FILEAPI_H
#define QRCORE_FILEAPI_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
