/* QRCore named memory-mapped files and their views. */
#ifndef QRCORE_MAPFILE_H
#define QRCORE_MAPFILE_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
