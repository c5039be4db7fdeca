/* QRCore text, path, record, sort and typed-data utilities. */
#ifndef QRCORE_UTIL_H
#define QRCORE_UTIL_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
