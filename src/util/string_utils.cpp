// Utilities: blank removal and the other in-place string helpers.
#include "qrcore/util.h"

extern "C" QR_API void DelAllBlank(char* szText) {
    if (szText == nullptr) return;
    char* pWrite = szText;
    for (const char* pRead = szText; *pRead != '\0'; ++pRead)
        if (*pRead != ' ') *pWrite++ = *pRead;
    *pWrite = '\0';
}
