/* QRCore file objects over disk, temporary and memory files. */
#ifndef QRCORE_FILE_H
#define QRCORE_FILE_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
