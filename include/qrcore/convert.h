/* QRCore angle and time conversions, EBCDIC and BCD. */
#ifndef QRCORE_CONVERT_H
#define QRCORE_CONVERT_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
