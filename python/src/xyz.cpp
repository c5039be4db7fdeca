// Python package qrcore: XYZ and ASEG-GDF survey text through the survey scanner: the lines a
// scan finds, and the channels of every line as numpy arrays, in one pass without the GIL.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "batch_workers.h"
#include "bindings.h"
#include "column_buffer.h"
#include "record_fields.h"
#include "qrcore/error.h"
#include "survey_scan.h"

namespace qrpy {

namespace {

using qrtool::ScanOptions;
using qrtool::SurveyLine;
using qrtool::SurveyScan;

constexpr int64_t kProgressStep = int64_t{64} << 20;

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The scan options from the keywords of scan() and read(); TypeError or ValueError for others.
ScanOptions scanOptions(const py::dict& options) {
    ScanOptions scan;
    for (const auto& [key, value] : options) {
        const std::string sKey = key.cast<std::string>();
        if (value.is_none()) continue;
        if (sKey == "line_column" || sKey == "flight_column") {
            const std::string sValue = py::str(value).cast<std::string>();
            (sKey == "line_column" ? scan.sLineColumn : scan.sFlightColumn) = sValue;
        } else if (sKey == "definition") {
            if (value.is(py::bool_(false))) {
                scan.bFindDefinition = false;
            } else {
                scan.sDefinition = pathArgument(py::reinterpret_borrow<py::object>(value));
            }
        } else if (sKey == "delimiter") {
            const std::string sValue = value.cast<std::string>();
            if (sValue.size() != 1 || std::string(" ,;|").find(sValue[0]) == std::string::npos)
                throw py::value_error("delimiter must be ' ', ',', ';' or '|'");
            scan.cDelimiter = sValue[0];
        } else if (sKey == "nulls") {
            std::vector<std::string> texts;
            if (py::isinstance<py::dict>(value)) {
                for (const auto& [channel, null] : value.cast<py::dict>())
                    texts.push_back(py::str(channel).cast<std::string>() + "=" + py::str(null).cast<std::string>());
            } else if (py::isinstance<py::str>(value) || py::isinstance<py::float_>(value) || py::isinstance<py::int_>(value)) {
                texts.push_back(py::str(value).cast<std::string>());
            } else {
                for (const py::handle null : value) texts.push_back(py::str(null).cast<std::string>());
            }
            for (const std::string& sText : texts) {
                qrtool::NullValue null;
                std::string sError;
                if (!qrtool::parseNullValue(sText, null, sError)) throw py::value_error("nulls: " + sError);
                scan.nulls.push_back(null);
            }
        } else if (sKey == "stats") {
            scan.bStats = value.cast<bool>();
        } else {
            throw py::type_error("unknown option '" + sKey +
                                 "' (line_column, flight_column, definition, delimiter, nulls, stats)");
        }
    }
    return scan;
}

// The progress callable of a scan, called with the GIL taken; what it raises ends the scan's
// reports and is raised when the scan returns.
struct Progress {
    py::object callable;
    int64_t llTotal = -1;
    std::optional<py::error_already_set> error;
    void report(int64_t llDone) {
        if (callable.is_none() || error) return;
        py::gil_scoped_acquire acquire;
        try {
            callable(llDone, llTotal);
        } catch (py::error_already_set& e) {
            error.emplace(std::move(e));
        }
    }
};

py::dict lineDict(const SurveyLine& line, const qrtool::ScanSummary& summary) {
    py::dict d;
    d["name"] = line.name.sShown;
    d["code"] = line.name.llCode;
    d["valid"] = line.name.valid();
    d["decoded"] = line.name.sDecoded;
    d["type"] = line.name.sType;
    d["area"] = line.name.sArea;
    d["version"] = line.name.sVersion;
    d["reason"] = line.name.sReason;
    d["flight"] = line.flight ? py::object(py::str(line.flight->sShown)) : py::object(py::none());
    d["flight_code"] = line.flight ? py::object(py::int_(line.flight->lCode)) : py::object(py::none());
    d["first_line"] = line.llFirstLine;
    d["records"] = line.llRecords;
    d["widths"] = py::cast(line.widths);
    d["layouts"] = line.llLayouts;
    d["note"] = line.sNote;
    py::dict channels;
    for (std::size_t k = 0; k < line.channels.size() && k < summary.channels.size(); ++k) {
        const qrtool::ChannelStats& stats = line.channels[k];
        py::dict c;
        c["nulls"] = stats.llNulls;
        c["values"] = stats.llValues;
        c["min"] = stats.llValues > 0 ? py::object(py::float_(stats.dMin)) : py::object(py::none());
        c["max"] = stats.llValues > 0 ? py::object(py::float_(stats.dMax)) : py::object(py::none());
        c["text"] = stats.bText;
        channels[py::str(summary.channels[k].label())] = c;
    }
    d["channels"] = channels;
    return d;
}

// Fails with the scanner's reason: the library's error for a file it cannot open, else a
// qrcore.Error with the scanner's text.
[[noreturn]] void scanFailed(qrtool::ScanResult result, const SurveyScan& scan, const std::string& sPath) {
    if (result == qrtool::ScanResult::OpenError && GetDllErrorNo() != 0) throwLibraryError(sPath);
    if (result == qrtool::ScanResult::BadOption) throw py::value_error(scan.error());
    throw LibraryError{-1, sPath + ": " + scan.error(), 0};
}

// The lines of a scan, as they complete.
class LineCollector : public qrtool::ScanSink {
public:
    explicit LineCollector(Progress& progress) : m_progress(progress) {}
    void onLine(const SurveyLine& line) override { m_lines.push_back(line); }
    void onProgress(int64_t llDone) override { m_progress.report(llDone); }
    std::vector<SurveyLine> m_lines;

private:
    Progress& m_progress;
};

// The values of the wanted channels of the wanted lines, column by column. Every record read
// takes the next row of every wanted channel's buffer as it is seen, and its values are written
// there at once or, for a plain record of a blank-separated file, when its batch is read (by a
// helper thread or this one, while the scan goes on). The buffers grow only while no batch is
// being read.
class ValueReader : public qrtool::ScanSink {
public:
    struct Wanted {
        std::size_t nColumn = 0, nCount = 1;
        std::string sName;
    };
    struct LineData {
        SurveyLine line;
        std::size_t nFirstRow = 0, nEndRow = 0;  // its rows in the channels' buffers
    };

    ValueReader(Progress& progress, std::optional<std::set<std::string>> lineNames, std::optional<std::set<int64_t>> lineCodes,
                std::optional<std::vector<std::string>> channels)
        : m_progress(progress), m_lineNames(std::move(lineNames)), m_lineCodes(std::move(lineCodes)),
          m_channelNames(std::move(channels)) {}

    void onChannels(const qrtool::ScanSummary& summary) override {
        std::size_t nLastColumn = 0;
        for (const qrtool::Channel& channel : summary.channels) {
            if (m_channelNames) {
                bool bFound = false;
                for (const std::string& sName : *m_channelNames) bFound = bFound || upper(sName) == upper(channel.sName);
                if (!bFound) continue;
            }
            m_wanted.push_back({channel.nColumn, channel.nCount, channel.sName});
            nLastColumn = std::max(nLastColumn, channel.nColumn + channel.nCount);
        }
        std::vector<RecordFields::Target> columns(nLastColumn);
        for (std::size_t w = 0; w < m_wanted.size(); ++w)
            for (std::size_t e = 0; e < m_wanted[w].nCount; ++e) columns[m_wanted[w].nColumn + e] = {w, e, m_wanted[w].nCount};
        m_fields = std::make_unique<const RecordFields>(std::move(columns));
        m_columns.resize(m_wanted.size());
        m_bases.assign(m_wanted.size(), nullptr);
        if (m_channelNames) {
            for (const std::string& sName : *m_channelNames) {
                bool bFound = false;
                for (const Wanted& wanted : m_wanted) bFound = bFound || upper(wanted.sName) == upper(sName);
                if (!bFound) m_missing.push_back(sName);
            }
        }
        m_bBlankFields = summary.cDelimiter == ' ' && summary.sDefinition.empty();
        if (m_bBlankFields && !m_wanted.empty()) {
            m_workers.emplace([pFields = m_fields.get()](RecordBatch& batch) { pFields->read(batch); }, kMaxHelpers);
            m_batch = m_workers->take();
        }
        m_nSkip = 0;
    }
    bool wantsRecords() const override { return true; }
    bool wantsLayouts() const override { return false; }
    void onRecord(const qrtool::RecordView& record) override {
        if (m_nSkip == 0) m_nSkip = wanted(record.surveyLine()) ? 1 : 2;
        if (m_nSkip == 2) return;
        if (m_nRoom == 0) makeRoom();
        --m_nRoom;
        const std::size_t nRow = m_nRows++;
        if (m_bBlankFields && !record.heldNull()) {
            if (m_batch) {
                m_batch->add(record.text(), nRow);
                if (m_batch->full()) submit();
            } else {
                m_fields->read(record.text(), {m_bases.data(), nRow});
            }
            return;
        }
        for (std::size_t w = 0; w < m_wanted.size(); ++w)
            for (std::size_t e = 0; e < m_wanted[w].nCount; ++e)
                m_fields->put({m_bases.data(), nRow}, m_wanted[w].nColumn + e, value(record, m_wanted[w].nColumn + e));
    }
    void onLine(const SurveyLine& line) override {
        if (m_nSkip != 2 && wanted(line)) {
            m_lines.push_back({line, m_nLineRow, m_nRows});
        } else if (m_nRows > m_nLineRow) {
            // Its rows are taken again by the next line: the values on their way there first.
            finish();
            m_nRows = m_nLineRow;
            m_nRoom = 0;
        }
        m_nLineRow = m_nRows;
        m_nSkip = 0;
    }
    void onProgress(int64_t llDone) override { m_progress.report(llDone); }
    // The texts of the records before the last region are about to go: their batches are read
    // first. Those of the last region are read meanwhile, while the scan goes on.
    void onRegionEnd() override {
        if (!m_workers) return;
        submit();
        m_workers->waitFor(m_nRegionBatches);
        m_nRegionBatches = m_workers->submitted();
    }

    // Every value taken written, and the buffers at their sizes. Once the scan has ended.
    void finish() {
        submit();
        if (m_workers) m_workers->drain();
        for (std::size_t w = 0; w < m_columns.size(); ++w) m_columns[w].resize(m_nRows * m_wanted[w].nCount);
    }

    std::vector<LineData> m_lines;
    std::vector<Wanted> m_wanted;
    // Per wanted channel, the values of every line read, one after the other: the arrays of the
    // lines share it, so that the memory comes in large pieces.
    std::vector<ColumnBuffer> m_columns;
    std::vector<std::string> m_missing;

private:
    static constexpr std::size_t kMaxHelpers = 3;

    // Column k the scanner's way: NaN for a null, a text or a missing field.
    static double value(const qrtool::RecordView& record, std::size_t k) {
        double d = 0;
        if (record.number(k, d) != qrtool::RecordView::Value::Number) d = std::numeric_limits<double>::quiet_NaN();
        return d;
    }

    // Room in every buffer for the rows to come, made while no batch is being read (growing
    // may move a buffer).
    void makeRoom() {
        finish();
        m_nRoom = SIZE_MAX;
        for (std::size_t w = 0; w < m_columns.size(); ++w) {
            ColumnBuffer& column = m_columns[w];
            column.reserve(std::max(m_nRows, RecordBatch::kRecords) * m_wanted[w].nCount);
            m_nRoom = std::min(m_nRoom, column.room() / m_wanted[w].nCount);
            m_bases[w] = column.data();
        }
    }

    void submit() {
        if (!m_batch || m_batch->nRecords == 0) return;
        m_batch->columns = m_bases;
        m_workers->submit(std::move(m_batch));
        m_batch = m_workers->take();
        m_batch->nRecords = 0;
    }

    bool wanted(const SurveyLine& line) const {
        if (!m_lineNames && !m_lineCodes) return true;
        if (m_lineNames && (m_lineNames->count(line.name.sShown) || m_lineNames->count(line.name.sDecoded))) return true;
        return m_lineCodes && line.name.bCodes && m_lineCodes->count(line.name.llCode);
    }

    Progress& m_progress;
    std::optional<std::set<std::string>> m_lineNames;
    std::optional<std::set<int64_t>> m_lineCodes;
    std::optional<std::vector<std::string>> m_channelNames;
    int m_nSkip = 0;  // 0 not decided for the current line, 1 read it, 2 skip it
    bool m_bBlankFields = false;  // fields are runs of non-blanks (no delimiter, no definition)
    std::size_t m_nRows = 0;      // rows taken in every buffer
    std::size_t m_nLineRow = 0;   // the first row of the current line
    std::size_t m_nRoom = 0;      // rows that can be taken before a buffer grows
    std::vector<double*> m_bases;  // the buffers' values since they last grew
    uint64_t m_nRegionBatches = 0;  // the batches submitted up to the end of the last region
    // Apart from this object, which changes with every record: the helpers read it all the time.
    std::unique_ptr<const RecordFields> m_fields;
    // Last, so that the helpers have stopped before anything they use is gone.
    std::optional<BatchWorkers<RecordBatch>> m_workers;  // blank-separated files only
    std::unique_ptr<RecordBatch> m_batch;                // the batch being filled
};

py::list scanFile(const py::object& path, const py::dict& options, const py::object& progressCallable) {
    const std::string sPath = pathArgument(path);
    SurveyScan scan(scanOptions(options));
    Progress progress{progressCallable, -1, std::nullopt};
    LineCollector collector(progress);
    clearNotice();
    ReportError(0);
    qrtool::ScanResult result;
    {
        py::gil_scoped_release release;
        result = scan.scanFile(sPath, collector, kProgressStep);
    }
    if (progress.error) throw std::move(*progress.error);
    if (result != qrtool::ScanResult::Done) scanFailed(result, scan, sPath);
    py::list lines;
    for (const SurveyLine& line : collector.m_lines) lines.append(lineDict(line, scan.summary()));
    return lines;
}

py::dict readFile(const py::object& path, const py::object& lines, const py::object& channels, const py::dict& options,
                  const py::object& progressCallable) {
    const std::string sPath = pathArgument(path);
    std::optional<std::set<std::string>> lineNames;
    std::optional<std::set<int64_t>> lineCodes;
    if (!lines.is_none()) {
        lineNames.emplace();
        lineCodes.emplace();
        for (const py::handle line : lines) {
            if (py::isinstance<py::str>(line)) {
                lineNames->insert(line.cast<std::string>());
            } else {
                lineCodes->insert(line.cast<int64_t>());
            }
        }
    }
    std::optional<std::vector<std::string>> channelNames;
    if (!channels.is_none()) {
        channelNames.emplace();
        for (const py::handle channel : channels) channelNames->push_back(channel.cast<std::string>());
    }
    SurveyScan scan(scanOptions(options));
    Progress progress{progressCallable, -1, std::nullopt};
    ValueReader reader(progress, std::move(lineNames), std::move(lineCodes), std::move(channelNames));
    clearNotice();
    ReportError(0);
    qrtool::ScanResult result;
    {
        py::gil_scoped_release release;
        result = scan.scanFile(sPath, reader, kProgressStep);
        reader.finish();
    }
    if (progress.error) throw std::move(*progress.error);
    if (result != qrtool::ScanResult::Done) scanFailed(result, scan, sPath);
    if (!reader.m_missing.empty()) {
        std::string sNames;
        for (const qrtool::Channel& channel : scan.summary().channels) sNames += " " + channel.sName;
        throw py::key_error("no channel " + reader.m_missing.front() + " in " + sPath + " (channels:" + sNames + ")");
    }
    std::vector<std::pair<double*, py::capsule>> blocks;
    for (ColumnBuffer& column : reader.m_columns) blocks.push_back(column.share());
    py::dict out;
    std::map<std::string, int> seen;
    for (const ValueReader::LineData& data : reader.m_lines) {
        std::string sKey = data.line.name.sShown;
        if (const int nSeen = seen[sKey]++; nSeen > 0) sKey += "#" + std::to_string(nSeen + 1);
        py::dict columns;
        for (std::size_t w = 0; w < reader.m_wanted.size(); ++w) {
            const std::size_t nCount = reader.m_wanted[w].nCount;
            const py::str name(reader.m_wanted[w].sName);
            if (w < blocks.size()) {
                columns[name] = ColumnBuffer::view(blocks[w].first + data.nFirstRow * nCount, (data.nEndRow - data.nFirstRow) * nCount,
                                                   nCount, blocks[w].second);
            } else {
                const auto [pEmpty, owner] = ColumnBuffer().share();
                columns[name] = ColumnBuffer::view(pEmpty, 0, nCount, owner);
            }
        }
        out[py::str(sKey)] = columns;
    }
    return out;
}

}  // namespace

void bindXyz(py::module_& m) {
    m.def("xyz_scan", &scanFile, py::arg("path"), py::arg("options"), py::arg("progress"));
    m.def("xyz_read", &readFile, py::arg("path"), py::arg("lines"), py::arg("channels"), py::arg("options"),
          py::arg("progress"));
}

}  // namespace qrpy
