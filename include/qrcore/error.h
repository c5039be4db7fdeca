/* QRCore error reporting: the process's one error state and the functions that reach it.
 *
 * About signatures: the library's file and mapping functions report a failure by assigning an
 * error number to the process's error state; the caller then reads it with GetDllErrorNo and
 * the text of the last message shown with GetDllErrorString. Numbers: 0 no error; 1000000 a
 * system call failed (shown with the system's text for the thread's last error); 1000001
 * recorded without a message; -1 a report by free text; every other number is looked up in
 * QuarrionError.inf, read when the library loads from the first of these folders that holds
 * one: the running executable's folder (a list placed there always wins), the folder of the
 * library's own file, and the installed data folder (share/qrcore beside the library's install
 * folder). A list announces at most 4096 entries, and its words up to its last entry lie within
 * its first 1 MiB (1048576 bytes); a list beyond either bound is malformed. When none can be
 * opened, or the list found is malformed, the process ends with exit status 1 after a notice,
 * before any code of the program runs; standard error then also says where the list was looked
 * for, in order, what was wrong, and how to put one in place.
 * The error state is not synchronised: report and query from one thread at a time. */
#ifndef QRCORE_ERROR_H
#define QRCORE_ERROR_H

#include <stdint.h>

#include "qrcore/api.h"

#ifdef __cplusplus
#include <string>

/* One entry of the error list. */
struct _tagErrorItem {
    int32_t lErrorNo;
    char szErrorInfo[128];
};

/* An error state: last number, show switch, last message text and the error list. Constructing
 * one reads QuarrionError.inf; if that fails the process ends (exit status 1). Copy assignment
 * copies number, show switch and text and keeps the target's own list; a copy constructed from
 * another object gets its own copy of the list. */
class QR_CLASS CErrorInfo {
public:
    CErrorInfo();
    CErrorInfo(const CErrorInfo& other);
    ~CErrorInfo();

    /* Reports by number: stores it always; when showing is on, shows and records its message
     * (0 and 1000001 show nothing and keep the last text). */
    CErrorInfo& operator=(int32_t lErrorNo);
    /* Reports by free text: stores -1; when showing is on and the text is not empty, shows it
     * and records it (cut to 255 bytes). A null text counts as empty. */
    CErrorInfo& operator=(const char* szError);
    CErrorInfo& operator=(const CErrorInfo& other);

    int32_t GetDllErrorNo() const;
    /* Sets sText to the text of the last message shown. */
    void GetDllErrorInfo(std::string& sText) const;
    void SetErrorShow(bool bShow);

    int32_t m_lErrorNo;
    bool m_bErrorShow;
    char m_szErrorInfo[256];
    int32_t m_nErrorCount;
    _tagErrorItem* m_pErrorList;

protected:
    /* Reads the error list; false after the load-failure notice has been shown. */
    bool LoadErrorList();
};
#endif

QR_EXTERN_C_BEGIN

QR_API void QR_CALL ShowErrorWin(void);
QR_API void QR_CALL CloseErrorWin(void);
QR_API void QR_CALL ReportError(int32_t lErrorNo);
/* A null text counts as empty. */
QR_API void QR_CALL ReportErrorString(const char* szError);
QR_API int32_t QR_CALL GetDllErrorNo(void);
/* Copies the last message text with its NUL. A buffer of nSize <= the text's length (or a null
 * buffer) is left untouched and error 1000005 is reported. */
QR_API void QR_CALL GetDllErrorString(char* szBuffer, int32_t nSize);

QR_EXTERN_C_END

#endif
