/* QRCore: every public header at once. */
#ifndef QRCORE_QRCORE_H
#define QRCORE_QRCORE_H

#include "qrcore/api.h"
#include "qrcore/notice.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/file.h"
#include "qrcore/mapfile.h"
#include "qrcore/survey.h"
#include "qrcore/util.h"
#include "qrcore/convert.h"

#endif
