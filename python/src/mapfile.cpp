// Python package qrcore: qrcore.MapFile, the library's named mappings with views handed out as
// numpy arrays over the mapped pages; each array keeps its view, and the mapping, alive.
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "bindings.h"
#include "qrcore/error.h"
#include "qrcore/mapfile.h"

namespace qrpy {

namespace {

// The mapping object shared by the MapFile and every view made from it. The views are this
// module's own records (not the object's view list, whose neighbours may be mapped again at
// another address when a view is freed), so an array's pages never move under it.
struct MapState {
    std::mutex mutex;  // the object is used by one thread at a time
    CxMapFile map;
    bool bWritable = false;
    bool bClosed = false;
    int32_t lNextId = 0;
    std::string sPath;
};

struct ViewRecord {
    std::shared_ptr<MapState> pState;
    _tagMemView view;
};

class MapFile {
public:
    MapFile(const py::object& path, bool bWritable) : m_pState(std::make_shared<MapState>()) {
        // The mapping is named after the path: an absolute path gives each file its own name.
        m_pState->sPath = pathArgument(py::module_::import("os").attr("path").attr("abspath")(path));
        m_pState->bWritable = bWritable;
        clearNotice();
        bool bOk = false;
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(m_pState->mutex);
            bOk = m_pState->map.MapFile(m_pState->sPath.c_str(), false, !bWritable, false);
        }
        if (!bOk) {
            if (GetDllErrorNo() == 1000000) throwLibraryError(m_pState->sPath);
            throw LibraryError{0, m_pState->sPath + ": an empty file cannot be mapped", 0};
        }
    }

    static std::unique_ptr<MapFile> memory(const std::string& sName, int64_t llSize, bool bWritable) {
        std::unique_ptr<MapFile> pMap(new MapFile());
        pMap->m_pState->sPath = sName;
        pMap->m_pState->bWritable = bWritable;
        if (llSize < 0) throw py::value_error("size must not be negative");
        clearNotice();
        bool bOk = false;
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(pMap->m_pState->mutex);
            bOk = llSize > 0 ? pMap->m_pState->map.MapMemory(llSize, false, !bWritable, sName.c_str())
                             : pMap->m_pState->map.OpenMapping(sName.c_str(), !bWritable);
        }
        if (!bOk) throwLibraryError(sName);
        return pMap;
    }

    int64_t size() const { return m_pState->map.GetMappingSize(); }

    py::array view(int64_t llOffset, const py::object& sizeArg) {
        if (m_pState->bClosed) throw py::value_error("the mapping is closed");
        const int64_t llMapped = size();
        const int64_t llSize = sizeArg.is_none() ? llMapped - llOffset : sizeArg.cast<int64_t>();
        if (llOffset < 0 || llSize <= 0 || llOffset > llMapped - llSize)
            throw py::value_error("the view must lie inside the mapping and hold at least one byte");
        // The library's views count their size in 32 bits from the aligned start.
        if (llSize > std::numeric_limits<int32_t>::max() - (int64_t{1} << 20))
            throw py::value_error("a view holds less than 2 GiB; take several views");
        auto pRecord = std::make_unique<ViewRecord>();
        pRecord->pState = m_pState;
        void* pData = nullptr;
        clearNotice();
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(m_pState->mutex);
            pRecord->view = _tagMemView{m_pState->lNextId++, llOffset, -1, static_cast<int32_t>(llSize), nullptr, nullptr, false};
            pData = m_pState->map.MapView(pRecord->view);
        }
        if (pData == nullptr) {
            // A failed view releases the whole object.
            m_pState->bClosed = true;
            throwLibraryError(m_pState->sPath);
        }
        const int64_t llAvailable = std::min<int64_t>(llSize, int64_t{pRecord->view.lSize} - pRecord->view.lDelta);
        py::capsule keeper(pRecord.get(), [](void* p) {
            std::unique_ptr<ViewRecord> pView(static_cast<ViewRecord*>(p));
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(pView->pState->mutex);
            pView->pState->map.UnMapView(pView->view);
        });
        pRecord.release();
        py::array out(py::dtype("uint8"), {static_cast<py::ssize_t>(llAvailable)}, {1}, pData, keeper);
        if (!m_pState->bWritable) out.attr("setflags")(py::arg("write") = false);
        return out;
    }

    // Closes the mapping object and its file; arrays made from it stay valid until they go.
    void close() {
        if (m_pState->bClosed) return;
        m_pState->bClosed = true;
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        m_pState->map.UnMap();
    }

    bool closed() const { return m_pState->bClosed; }
    bool writable() const { return m_pState->bWritable; }
    std::string mappingName() {
        std::lock_guard<std::mutex> lock(m_pState->mutex);
        return m_pState->map.GetMappingName();
    }

private:
    MapFile() : m_pState(std::make_shared<MapState>()) {}
    std::shared_ptr<MapState> m_pState;
};

}  // namespace

void bindMapFile(py::module_& m) {
    py::class_<MapFile>(m, "MapFile", R"(A named mapping of a file (or of memory) whose views are numpy arrays.

MapFile(path, writable=False) maps an existing, non-empty file under a name made from its
absolute path; other processes of the same user share it by that name, and no library call can
cut the file while it is mapped. view(offset, size) returns a uint8 array over the mapped pages,
without a copy (view.view(">f4") reads big-endian floats in place); the array holds its view and
the mapping, so it stays valid after the MapFile is closed or gone. MapFile.memory(name, size)
creates (or, with size 0, opens) a named block of memory shared with C++ processes.)")
        .def(py::init<const py::object&, bool>(), py::arg("path"), py::arg("writable") = false)
        .def_static("memory", &MapFile::memory, py::arg("name"), py::arg("size") = 0, py::arg("writable") = true,
                    "A named memory mapping of size bytes, shared by name (size 0: open an existing one).")
        .def("view", &MapFile::view, py::arg("offset") = 0, py::arg("size") = py::none(),
             "A uint8 array over bytes offset .. offset + size (to the end when size is None), below 2 GiB.")
        .def("close", &MapFile::close, "Close the mapping object and its file; views already made stay valid.")
        .def("__enter__", [](MapFile& f) -> MapFile& { return f; }, py::return_value_policy::reference)
        .def("__exit__", [](MapFile& f, const py::args&) { f.close(); })
        .def_property_readonly("size", &MapFile::size, "The mapping's size in bytes.")
        .def_property_readonly("closed", &MapFile::closed, "Whether close() was called.")
        .def_property_readonly("writable", &MapFile::writable, "Whether views may be written.")
        .def_property_readonly("mapping_name", &MapFile::mappingName, "The name other processes open it by.");
}

}  // namespace qrpy
