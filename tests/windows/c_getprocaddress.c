/* A C program that finds the DLL's functions at run time with LoadLibraryA and GetProcAddress,
 * by the names in the export table: decorated (_Name@bytes) in the 32-bit DLL, plain in the
 * 64-bit one, where the 64-bit absolute value is QR_llabs. Only <qrcore/api.h> is included, for
 * the calling convention; the function types are written here as such a program writes them.
 * Prints "ok <functions>" and ends with 0 when every function was found and answered right. */
#include <windows.h>

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <qrcore/api.h>

typedef bool(QR_CALL* ToIntLineNoFn)(char*, int64_t*);
typedef bool(QR_CALL* ToCharLineNoFn)(int64_t, char*, int32_t);
typedef int64_t(QR_CALL* AbsFn)(int64_t);
typedef double(QR_CALL* AngleFn)(double);
typedef int32_t(QR_CALL* BcdTolFn)(const unsigned char*, int32_t);
typedef int32_t(QR_CALL* GetDllErrorNoFn)(void);
typedef void(QR_CALL* CloseErrorWinFn)(void);
typedef void(QR_CALL* ReportErrorFn)(int32_t);

static HMODULE g_hLibrary;
static int g_nFound = 0;

/* The export name of sName with nBytes of arguments in this process's DLL. */
static FARPROC find(const char* szName, int nBytes) {
    char szExport[64];
    FARPROC pfn;
    if (sizeof(void*) == 4)
        snprintf(szExport, sizeof szExport, "_%s@%d", szName, nBytes);
    else
        snprintf(szExport, sizeof szExport, "%s", strcmp(szName, "llabs") == 0 ? "QR_llabs" : szName);
    pfn = GetProcAddress(g_hLibrary, szExport);
    if (pfn == NULL) {
        printf("not exported: %s\n", szExport);
        return NULL;
    }
    ++g_nFound;
    return pfn;
}

int main(void) {
    ToIntLineNoFn pfnToInt;
    ToCharLineNoFn pfnToChar;
    AbsFn pfnAbs;
    AngleFn pfnRadian;
    BcdTolFn pfnBcd;
    GetDllErrorNoFn pfnErrorNo;
    CloseErrorWinFn pfnCloseErrorWin;
    ReportErrorFn pfnReport;
    char szLine[] = "AL0123";
    char szText[32];
    int64_t llCode = 0;
    const unsigned char bcd[] = {0x34, 0x12};
    int nRound;

    g_hLibrary = LoadLibraryA("QRCore.dll");
    if (g_hLibrary == NULL) {
        printf("LoadLibraryA failed: %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    /* Function pointers converted through void (*)(void), as Windows programs do. */
    pfnToInt = (ToIntLineNoFn)(void (*)(void))find("ToIntLineNo", 8);
    pfnToChar = (ToCharLineNoFn)(void (*)(void))find("ToCharLineNo", 16);
    pfnAbs = (AbsFn)(void (*)(void))find("llabs", 8);
    pfnRadian = (AngleFn)(void (*)(void))find("DegreeToRadian", 8);
    pfnBcd = (BcdTolFn)(void (*)(void))find("BcdTol", 8);
    pfnErrorNo = (GetDllErrorNoFn)(void (*)(void))find("GetDllErrorNo", 0);
    pfnCloseErrorWin = (CloseErrorWinFn)(void (*)(void))find("CloseErrorWin", 0);
    pfnReport = (ReportErrorFn)(void (*)(void))find("ReportError", 4);
    if (g_nFound != 8) return 1;

    for (nRound = 0; nRound < 1000; ++nRound) {
        strcpy(szLine, "AL0123");
        if (!pfnToInt(szLine, &llCode) || !pfnToChar(llCode, szText, (int32_t)sizeof szText) ||
            strcmp(szText, "AL0123") != 0) {
            printf("line numbers: %s\n", szText);
            return 1;
        }
        if (pfnAbs(-7) != 7 || pfnRadian(180.0) < 3.14159 || pfnRadian(180.0) > 3.1416) {
            printf("llabs or DegreeToRadian\n");
            return 1;
        }
        if (pfnBcd(bcd, 2) != 1234) {
            printf("BcdTol gave %ld\n", (long)pfnBcd(bcd, 2));
            return 1;
        }
        pfnCloseErrorWin();
        pfnReport(1000004);
        if (pfnErrorNo() != 1000004) {
            printf("GetDllErrorNo\n");
            return 1;
        }
    }
    FreeLibrary(g_hLibrary);
    printf("ok %d\n", g_nFound);
    return 0;
}
