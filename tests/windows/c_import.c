/* A C program linked against the installed import library: calls the DLL's functions through
 * the standard calling convention, as a program of any Windows C compiler does. The callee of a
 * stdcall function removes its arguments from the stack; were the two sides to disagree, the
 * stack would drift by the argument bytes on every call and the repeated calls below would
 * crash or compute garbage. Prints "ok <checks>" and ends with 0 when every check held. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <qrcore/convert.h>
#include <qrcore/error.h>
#include <qrcore/fileapi.h>
#include <qrcore/notice.h>
#include <qrcore/survey.h>
#include <qrcore/util.h>

static int g_nChecks = 0;
static int g_nFailed = 0;

static void check(int bHolds, const char* szWhat) {
    ++g_nChecks;
    if (!bHolds) {
        ++g_nFailed;
        printf("failed: %s\n", szWhat);
    }
}

static int g_nNotices = 0;

static bool QR_CALLBACK countNotices(QR_NoticeKind kind, const char* szCaption, const char* szText, void* pContext) {
    (void)kind;
    (void)szCaption;
    (void)szText;
    ++*(int*)pContext;
    return true;
}

int main(void) {
    int nRound;
    QR_SetNoticeHandler(countNotices, &g_nNotices);
    for (nRound = 0; nRound < 1000; ++nRound) {
        char szLine[] = " A L 0123 ";
        char szText[32];
        char szNumber[16], szArea[8], cType = 0;
        char szDrive[8], szDir[64], szName[32], szExt[16];
        int64_t llCode = 0, llNumber = 0;
        int16_t nType = 0, nArea = 0;
        int32_t lFlight = 0;
        int64_t row0[2] = {3, 30}, row1[2] = {1, 10}, row2[2] = {2, 20};
        int64_t* rows[3];
        char szEbcdic[] = "QRCore 123";
        rows[0] = row0;
        rows[1] = row1;
        rows[2] = row2;

        check(ToIntLineNo(szLine, &llCode) && llCode > 0, "ToIntLineNo");
        check(ToCharLineNo(llCode, szText, (int32_t)sizeof szText) && strcmp(szText, "AL0123") == 0, "ToCharLineNo");
        SplitIntLineNo(llCode, &llNumber, &nType, &nArea);
        check(llNumber == 123 && nType == GetIntLineType(llCode) && nArea == GetIntLineArea(llCode), "SplitIntLineNo");
        strcpy(szLine, "AL0123");
        check(SplitCharLineNo(szLine, szNumber, (int16_t)sizeof szNumber, &cType, szArea, (int16_t)sizeof szArea) &&
                  strcmp(szNumber, "0123") == 0 && cType == 'L' && strcmp(szArea, "A") == 0,
              "SplitCharLineNo");
        strcpy(szText, "N12");
        check(ToIntFlightNo(szText, &lFlight) && ToCharFlightNo(lFlight, szText, (int32_t)sizeof szText) &&
                  strcmp(szText, "N12") == 0,
              "flight numbers");
        check(QR_llabs(-5000000000LL) == 5000000000LL, "QR_llabs");
        check(fabs(DegreeToRadian(180.0) - 3.141592653589) < 1e-12, "DegreeToRadian (the twelve-decimal pi)");
        check(SecondToHMS(3725.0) == 10205.0, "SecondToHMS");
        check(SplitPath("C:\\data\\line.xyz", szDrive, sizeof szDrive, szDir, sizeof szDir, szName, sizeof szName,
                        szExt, sizeof szExt) == 0 &&
                  strcmp(szDrive, "C:") == 0 && strcmp(szDir, "\\data\\") == 0 && strcmp(szName, "line") == 0 &&
                  strcmp(szExt, ".xyz") == 0,
              "SplitPath");
        QuickSort(rows, 0, 2, 0, 1, 2);
        check(rows[0][1] == 10 && rows[1][1] == 20 && rows[2][1] == 30, "QuickSort");
        check(AsciiToEbcdic(szEbcdic) == 10 && strcmp(szEbcdic, "QRCore 123") != 0 && EbcdicToAscii(szEbcdic) == 10 &&
                  strcmp(szEbcdic, "QRCore 123") == 0,
              "EBCDIC round trip");
        CloseErrorWin();
        ReportError(1000003);
        check(GetDllErrorNo() == 1000003, "ReportError with showing off");
        ShowErrorWin();
    }
    /* The error texts come from the installed QuarrionError.inf beside the program. */
    ReportErrorString("c-program");
    {
        char szMessage[64];
        GetDllErrorString(szMessage, (int32_t)sizeof szMessage);
        check(GetDllErrorNo() == -1 && strcmp(szMessage, "c-program") == 0 && g_nNotices == 1, "error text");
    }
    if (g_nFailed != 0) return 1;
    printf("ok %d\n", g_nChecks);
    return 0;
}
