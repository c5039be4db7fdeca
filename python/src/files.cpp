// Python package qrcore: qrcore.File (a disk file through the library's file object, 64-bit
// positions, journaled in-place edits) and qrcore.recover.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "bindings.h"
#include "qrcore/error.h"
#include "qrcore/file.h"
#include "qrcore/fileapi.h"

namespace qrpy {

namespace {

constexpr uint32_t kChunk = uint32_t{1} << 30;  // bytes per library read or write

// The progress callable of the edit running on this thread. The library's hook is one for the
// whole process; it hands each report to the callable of the thread it runs on.
struct ProgressCall {
    py::object callable;
    std::optional<py::error_already_set> error;  // what the callable raised; no calls after it
};
thread_local ProgressCall* t_pProgress = nullptr;

void QR_CALLBACK reportProgress(int64_t llDone, int64_t llTotal, void*) {
    ProgressCall* pCall = t_pProgress;
    if (pCall == nullptr || pCall->error) return;
    py::gil_scoped_acquire acquire;
    try {
        pCall->callable(llDone, llTotal);
    } catch (py::error_already_set& error) {
        pCall->error.emplace(std::move(error));
    }
}

class File {
public:
    File(const py::object& path, const std::string& sMode, bool bOverwrite) : m_sPath(pathArgument(path)) {
        bool bDone = false;
        clearNotice();
        if (sMode == "r" || sMode == "r+") {
            py::gil_scoped_release release;
            bDone = m_file.Open(m_sPath.c_str(), sMode == "r");
        } else if (sMode == "w") {
            py::gil_scoped_release release;
            OverwriteAnswer answer(bOverwrite);
            bDone = m_file.Create(m_sPath.c_str());
        } else {
            throw py::value_error("mode must be 'r', 'r+' or 'w'");
        }
        if (!bDone) {
            if (GetDllErrorNo() == 1000001)
                throw LibraryError{1000001, m_sPath + ": the file exists (pass overwrite=True to replace it)", 17};
            throwLibraryError(m_sPath);
        }
        m_bWritable = sMode != "r";
    }

    ~File() { closeQuietly(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void close() {
        if (m_bClosed) return;
        Busy busy(*this);
        m_bClosed = true;
        clearNotice();
        bool bClosed = false;
        {
            py::gil_scoped_release release;
            bClosed = m_file.Close();
        }
        if (!bClosed) throwLibraryError(m_sPath);
    }

    py::bytes read(int64_t llCount) {
        const int64_t llSize = size();
        Busy busy(*this);
        if (llCount < 0) llCount = std::max<int64_t>(llSize - m_llPos, 0);
        llCount = std::min<int64_t>(llCount, std::max<int64_t>(llSize - m_llPos, 0));
        py::bytes out = py::reinterpret_steal<py::bytes>(PyBytes_FromStringAndSize(nullptr, static_cast<py::ssize_t>(llCount)));
        if (!out) throw py::error_already_set();
        const int64_t llRead = readAt(PyBytes_AS_STRING(out.ptr()), llCount);
        if (llRead < llCount) {
            PyObject* pOut = out.release().ptr();
            if (_PyBytes_Resize(&pOut, static_cast<py::ssize_t>(llRead)) != 0) throw py::error_already_set();
            out = py::reinterpret_steal<py::bytes>(pOut);
        }
        return out;
    }

    int64_t readinto(const py::buffer& target) {
        py::buffer_info info = target.request(true);
        if (!isContiguous(info)) throw py::value_error("the buffer must be contiguous");
        Busy busy(*this);
        return readAt(static_cast<char*>(info.ptr), info.size * info.itemsize);
    }

    int64_t write(const py::buffer& data) {
        py::buffer_info info = data.request();
        if (!isContiguous(info)) throw py::value_error("the data must be contiguous");
        Busy busy(*this);
        const auto* p = static_cast<const char*>(info.ptr);
        const int64_t llTotal = info.size * info.itemsize;
        int64_t llDone = 0;
        clearNotice();
        bool bOk = true;
        {
            py::gil_scoped_release release;
            while (llDone < llTotal) {
                const uint32_t nPart = static_cast<uint32_t>(std::min<int64_t>(llTotal - llDone, kChunk));
                const uint32_t nWritten = m_file.Write(p + llDone, nPart);
                llDone += nWritten;
                if (nWritten < nPart) {
                    bOk = false;
                    break;
                }
            }
        }
        m_llPos += llDone;
        if (!bOk) throwLibraryError(m_sPath);
        return llDone;
    }

    int64_t seek(int64_t llOffset, int nWhence) {
        if (nWhence < 0 || nWhence > 2) throw py::value_error("whence must be 0, 1 or 2");
        const int64_t llSize = nWhence == 2 ? size() : 0;
        Busy busy(*this);
        const int64_t llBase = nWhence == 0 ? 0 : nWhence == 1 ? m_llPos : llSize;
        if ((llOffset > 0 && llBase > std::numeric_limits<int64_t>::max() - llOffset) || llBase + llOffset < 0)
            throw py::value_error("the position must lie in 0 .. 2**63 - 1");
        seekTo(llBase + llOffset);
        return m_llPos;
    }

    int64_t tell() {
        Busy busy(*this);
        return m_llPos;
    }

    int64_t size() {
        Busy busy(*this);
        clearNotice();
        int64_t llSize = -1;
        {
            py::gil_scoped_release release;
            llSize = m_file.GetFileSize();
        }
        if (llSize < 0) throwLibraryError(m_sPath);
        return llSize;
    }

    void flush() {
        Busy busy(*this);
        py::gil_scoped_release release;
        m_file.Flush();
    }

    // One journaled edit through the raw handle; the file pointer is put back afterwards.
    template <class Edit>
    void edit(const py::object& progress, Edit run) {
        Busy busy(*this);
        if (!m_bWritable) throw LibraryError{1000000, m_sPath + ": the file is open for reading only", 0};
        ProgressCall call{progress, std::nullopt};
        clearNotice();
        bool bOk = false;
        {
            py::gil_scoped_release release;
            t_pProgress = progress.is_none() ? nullptr : &call;
            bOk = run(m_file.GetFileHandle());
            t_pProgress = nullptr;
            m_file.Seek(m_llPos, 0);
        }
        if (!bOk) throwLibraryError(m_sPath);
        if (call.error) throw std::move(*call.error);
    }

    bool closed() const { return m_bClosed; }
    py::object name() const { return py::module_::import("os").attr("fsdecode")(py::bytes(m_sPath)); }

private:
    static bool isContiguous(const py::buffer_info& info) {
        py::ssize_t nStride = info.itemsize;
        for (py::ssize_t k = info.ndim - 1; k >= 0; --k) {
            if (info.shape[static_cast<std::size_t>(k)] > 1 && info.strides[static_cast<std::size_t>(k)] != nStride) return false;
            nStride *= info.shape[static_cast<std::size_t>(k)];
        }
        return true;
    }

    // Marks the object in use for one call (checked and set with the GIL held): a second thread
    // that reaches the same object meanwhile gets an error instead of racing on its position.
    class Busy {
    public:
        explicit Busy(File& file) : m_file(file) {
            if (file.m_bClosed) throw py::value_error("I/O operation on closed file");
            if (file.m_bBusy) throw py::value_error("the file is in use by another thread");
            file.m_bBusy = true;
        }
        ~Busy() { m_file.m_bBusy = false; }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        File& m_file;
    };

    int64_t readAt(char* p, int64_t llCount) {
        int64_t llDone = 0;
        bool bOk = true;
        clearNotice();
        ReportError(0);
        {
            py::gil_scoped_release release;
            while (llDone < llCount) {
                const uint32_t nPart = static_cast<uint32_t>(std::min<int64_t>(llCount - llDone, kChunk));
                const uint32_t nRead = m_file.Read(p + llDone, nPart);
                llDone += nRead;
                if (nRead < nPart) {
                    bOk = nRead > 0 || GetDllErrorNo() == 0;
                    break;
                }
            }
        }
        m_llPos += llDone;
        if (!bOk) throwLibraryError(m_sPath);
        return llDone;
    }

    void seekTo(int64_t llPos) {
        clearNotice();
        bool bOk = false;
        {
            py::gil_scoped_release release;
            bOk = m_file.Seek(llPos, 0);
        }
        if (!bOk) throwLibraryError(m_sPath);
        m_llPos = llPos;
    }

    void closeQuietly() {
        if (m_bClosed) return;
        m_bClosed = true;
        m_file.Close();
    }

    std::string m_sPath;
    CxFile m_file;
    bool m_bBusy = false;
    int64_t m_llPos = 0;
    bool m_bWritable = false;
    bool m_bClosed = false;
};

}  // namespace

void bindFiles(py::module_& m) {
    QR_SetProgressHook(&reportProgress, nullptr);
    py::class_<File>(m, "File", R"(A disk file opened through the library, with 64-bit positions and in-place edits.

File(path, mode="r", overwrite=False): mode "r" opens an existing file for reading, "r+" for
reading and writing, "w" creates it (an existing file is replaced only with overwrite=True, else
FileExistsError). The file is open without sharing. Use it as a context manager or call close().

The edits insert, remove, move and zero change the file in place; the first three keep a journal
beside the file, so a process killed part-way leaves a file that the next open (or
qrcore.recover) completes. progress=callable(done, total) is called from the editing thread with
the GIL taken only for the call; if it raises, it is not called again, the edit runs to its end
(an edit cannot stop half-way without a half-edited file) and the exception is raised then.
Every call releases the GIL; one File serves one thread at a time.)")
        .def(py::init<const py::object&, const std::string&, bool>(), py::arg("path"), py::arg("mode") = "r",
             py::arg("overwrite") = false)
        .def("close", &File::close, "Close the file (a second close does nothing).")
        .def("__enter__", [](File& f) -> File& { return f; }, py::return_value_policy::reference)
        .def("__exit__", [](File& f, const py::args&) { f.close(); })
        .def("read", &File::read, py::arg("size") = -1,
             "Read up to size bytes (all to the end when negative) from the position; bytes.")
        .def("readinto", &File::readinto, py::arg("buffer"),
             "Read into a writable contiguous buffer; the number of bytes read.")
        .def("write", &File::write, py::arg("data"), "Write a contiguous buffer at the position; the bytes written.")
        .def("seek", &File::seek, py::arg("offset"), py::arg("whence") = 0,
             "Move the position (whence 0 start, 1 current, 2 end); the new position.")
        .def("tell", &File::tell, "The position.")
        .def("size", &File::size, "The file's size in bytes.")
        .def("flush", &File::flush, "Write the system's buffers of the file to the disk.")
        .def("insert", [](File& f, int64_t llPos, int64_t llSize, const py::object& progress) {
                f.edit(progress, [=](void* h) { return AllocateDiskSpace(h, llPos, llSize); });
            }, py::arg("pos"), py::arg("size"), py::arg("progress") = py::none(),
             "Insert size zero bytes before pos (journaled; whole blocks in place where the file system can).")
        .def("remove", [](File& f, int64_t llPos, int64_t llSize, const py::object& progress) {
                f.edit(progress, [=](void* h) { return FreeDiskSpace(h, llPos, llSize); });
            }, py::arg("pos"), py::arg("size"), py::arg("progress") = py::none(),
             "Remove size bytes at pos; the range must end before the end of the file (journaled).")
        .def("move", [](File& f, int64_t llSrc, int64_t llDst, int64_t llLength, const py::object& progress) {
                if (llSrc < 0 || llLength < 0 || llSrc > f.size() - llLength)
                    throw py::value_error("the block to move must lie inside the file");
                f.edit(progress, [=](void* h) {
                    const _tagMoveData move{llSrc, llDst, llLength};
                    return MoveData(h, &move);
                });
            }, py::arg("src"), py::arg("dst"), py::arg("length"), py::arg("progress") = py::none(),
             "Copy length bytes from src to dst as through a buffer (overlap allowed; journaled).")
        .def("zero", [](File& f, int64_t llPos, int64_t llSize, const py::object& progress) {
                f.edit(progress, [=](void* h) { return InitiateSpaceIntoZero(h, llPos, llSize); });
            }, py::arg("pos"), py::arg("size"), py::arg("progress") = py::none(),
             "Write size zero bytes at pos (not journaled: it moves nothing).")
        .def_property_readonly("closed", &File::closed, "Whether the file is closed.")
        .def_property_readonly("name", &File::name, "The path as given.");

    m.def("recover", [](const py::object& path) {
        const std::string sPath = pathArgument(path);
        bool bRecovered = false, bOk = false;
        clearNotice();
        {
            py::gil_scoped_release release;
            bOk = QR_RecoverFile(sPath.c_str(), &bRecovered);
        }
        if (!bOk) throwLibraryError(sPath);
        return bRecovered;
    }, py::arg("path"), "Finish an interrupted edit of the file at path (as opening it would); True when there was one.");
}

}  // namespace qrpy
