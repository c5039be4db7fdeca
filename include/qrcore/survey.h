/* QRCore survey line-number and flight-number codecs. */
#ifndef QRCORE_SURVEY_H
#define QRCORE_SURVEY_H

#include <stdbool.h>
#include <stdint.h>

#include "qrcore/api.h"

#endif
