// Python package qrcore: the library's errors as Python exceptions, and the notice handler that
// keeps every notice off the console and answers the overwrite question from the caller's keyword.
#include <cerrno>
#include <clocale>
#include <cstring>
#include <locale.h>
#include <string>
#include <utility>
#include <vector>

#include "bindings.h"
#include "qrcore/error.h"
#include "qrcore/notice.h"

namespace qrpy {

namespace {

// The handler runs on the thread that made the failing call, often without the GIL: it only
// records, per thread, and never touches Python.
thread_local std::string t_sNotice;
thread_local bool t_bHaveNotice = false;
thread_local bool t_bOverwrite = false;

bool QR_CALLBACK recordNotice(QR_NoticeKind kind, const char* szCaption, const char* szText, void*) {
    (void)szCaption;
    if (kind == QR_NoticeQuestion) return t_bOverwrite;
    t_sNotice = szText != nullptr ? szText : "";
    t_bHaveNotice = true;
    return true;
}

// The system texts the library shows for the codes that have an OSError subclass, in the locale
// the library takes its message texts from, so a text names its code again.
const std::vector<std::pair<std::string, int>>& systemTexts() {
    static const std::vector<std::pair<std::string, int>> s_texts = [] {
        locale_t loc = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(nullptr));
        if (loc == static_cast<locale_t>(nullptr)) loc = newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
        std::vector<std::pair<std::string, int>> texts;
        for (int nCode : {ENOENT, ENOTDIR, EACCES, EPERM, EEXIST, EISDIR}) {
            texts.emplace_back(loc != static_cast<locale_t>(nullptr) ? strerror_l(nCode, loc) : std::strerror(nCode), nCode);
        }
        // The library's own text for a named object that exists already.
        texts.emplace_back("The named object already exists", EEXIST);
        if (loc != static_cast<locale_t>(nullptr)) freelocale(loc);
        return texts;
    }();
    return s_texts;
}

}  // namespace

void clearNotice() {
    t_bHaveNotice = false;
    t_sNotice.clear();
}

void throwLibraryError(const std::string& sContext) {
    LibraryError error{GetDllErrorNo(), {}, 0};
    if (t_bHaveNotice) {
        error.sText = t_sNotice;
    } else {
        char szText[512] = {};
        GetDllErrorString(szText, sizeof szText);
        error.sText = szText;
    }
    if (error.lNumber == 1000000) {
        for (const auto& [sText, nCode] : systemTexts()) {
            if (error.sText == sText) error.nSystemCode = nCode;
        }
    }
    if (!sContext.empty()) error.sText = sContext + ": " + error.sText;
    clearNotice();
    throw error;
}

OverwriteAnswer::OverwriteAnswer(bool bOverwrite) : m_bPrevious(t_bOverwrite) { t_bOverwrite = bOverwrite; }

OverwriteAnswer::~OverwriteAnswer() { t_bOverwrite = m_bPrevious; }

std::string pathArgument(const py::object& path) {
    py::object fsPath = py::module_::import("os").attr("fsencode")(path);
    return fsPath.cast<std::string>();
}

void bindErrors(py::module_& m) {
    QR_SetNoticeHandler(&recordNotice, nullptr);
    py::register_exception_translator([](std::exception_ptr pError) {
        if (!pError) return;
        try {
            std::rethrow_exception(pError);
        } catch (const LibraryError& error) {
            py::object make = py::module_::import("qrcore._errors").attr("_from_library");
            py::object exc = make(error.lNumber, py::reinterpret_steal<py::str>(PyUnicode_DecodeLocale(error.sText.c_str(), "surrogateescape")),
                                  error.nSystemCode);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
        }
    });
    m.def("_last_error", [] { return py::make_tuple(GetDllErrorNo(), t_sNotice); },
          "The library's last error number and this thread's last notice text (for tests).");
}

}  // namespace qrpy
