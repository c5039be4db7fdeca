// qrtool: segy --traces and --trace-summary: the trace headers of a SEG-Y file, listed or
// summarised, read a bounded piece at a time.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_set>

#include "cli.h"
#include "segy_layout.h"

namespace qrtool::segy {

namespace {

// Distinct values are counted exactly up to this many per field; beyond it the summary says
// "at least", so that a summary of any file holds bounded memory.
constexpr std::size_t kDistinctCap = 10000;
// Contiguous traces are read in pieces of about this size.
constexpr int64_t kPieceBytes = 4 << 20;

// A trace range: first, end (exclusive; -1 the end of the file), step.
struct TraceRange {
    int64_t llFirst = 0;
    int64_t llEnd = -1;
    int64_t llStep = 1;
};

// "all", "N", "A:B", "A:", ":B", "A:B:S", "::S" (B not included). False on anything else.
bool parseRange(const std::string& sText, TraceRange& range) {
    range = TraceRange{};
    if (sText == "all" || sText.empty()) return true;
    std::vector<std::string> parts;
    for (std::size_t nAt = 0;;) {
        const std::size_t nColon = sText.find(':', nAt);
        parts.push_back(sText.substr(nAt, nColon == std::string::npos ? std::string::npos : nColon - nAt));
        if (nColon == std::string::npos) break;
        nAt = nColon + 1;
    }
    if (parts.size() > 3) return false;
    int64_t llValues[3] = {0, -1, 1};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty() && parts.size() > 1) continue;  // "A:", ":B", "::S" as slices read
        if (!parseInt64(parts[i], llValues[i]) || llValues[i] < 0) return false;
    }
    if (parts.size() == 1) llValues[1] = llValues[0] + 1;
    if (llValues[2] <= 0 || (llValues[1] >= 0 && llValues[1] < llValues[0])) return false;
    range = {llValues[0], llValues[1], llValues[2]};
    return true;
}

// What --trace-summary keeps per field.
struct FieldSummary {
    double dMin = 0;
    double dMax = 0;
    std::unordered_set<double> distinct;
    bool bCapped = false;
    void add(double d, bool bFirst) {
        dMin = bFirst ? d : std::min(dMin, d);
        dMax = bFirst ? d : std::max(dMax, d);
        if (distinct.size() < kDistinctCap) distinct.insert(d);
        else bCapped = bCapped || distinct.count(d) == 0;
    }
};

// Walks the trace headers of a range in order, reading whole pieces of contiguous fixed-length
// traces, one header at a time otherwise.
class TraceWalker {
public:
    TraceWalker(Reader& reader, const Layout& layout, const TraceRange& range)
        : m_reader(reader), m_layout(layout), m_range(range), m_llPos(layout.llFirstTrace) {}
    // The next header of the range and its trace number; false at the end (sProblem says why when
    // the walk stopped early).
    bool next(const unsigned char*& pHeader, int64_t& llTrace);
    const std::string& problem() const { return m_sProblem; }
    bool readFailed() const { return m_bReadFailed; }

private:
    bool nextFixed(const unsigned char*& pHeader, int64_t& llTrace);
    bool nextVariable(const unsigned char*& pHeader, int64_t& llTrace);

    Reader& m_reader;
    const Layout& m_layout;
    TraceRange m_range;
    int64_t m_llNext = -1;  // the trace number to give next; -1 before the first
    int64_t m_llPos;        // variable length: the offset of trace m_llWalked
    int64_t m_llWalked = 0;
    std::vector<unsigned char> m_piece;
    int64_t m_llPieceFirst = 0, m_llPieceCount = 0;
    std::string m_sProblem;
    bool m_bReadFailed = false;
};

bool TraceWalker::next(const unsigned char*& pHeader, int64_t& llTrace) {
    if (m_llNext >= 0 && m_range.llStep > INT64_MAX - m_llNext) return false;  // no trace that far
    m_llNext = m_llNext < 0 ? m_range.llFirst : m_llNext + m_range.llStep;
    if (m_range.llEnd >= 0 && m_llNext >= m_range.llEnd) return false;
    return m_layout.bVariable ? nextVariable(pHeader, llTrace) : nextFixed(pHeader, llTrace);
}

bool TraceWalker::nextFixed(const unsigned char*& pHeader, int64_t& llTrace) {
    if (m_llNext >= m_layout.llTraces) return false;
    const int64_t llBytes = m_layout.llTraceBytes;
    if (m_llNext < m_llPieceFirst || m_llNext >= m_llPieceFirst + m_llPieceCount) {
        // A step within a piece reads the whole piece; a longer one reads the header alone.
        int64_t llCount = m_range.llStep == 1 ? std::max<int64_t>(1, kPieceBytes / llBytes) : 1;
        llCount = std::min(llCount, m_layout.llTraces - m_llNext);
        if (m_range.llEnd >= 0) llCount = std::min(llCount, m_range.llEnd - m_llNext);
        const int64_t llRead = (llCount - 1) * llBytes + static_cast<int64_t>(kTraceHeaderBytes);
        m_piece.resize(static_cast<std::size_t>(llRead));
        if (!m_reader.read(m_layout.llFirstTrace + m_llNext * llBytes, m_piece.data(), m_piece.size())) {
            m_sProblem = "trace " + std::to_string(m_llNext) + ": " + libraryError();
            m_bReadFailed = true;
            return false;
        }
        m_llPieceFirst = m_llNext;
        m_llPieceCount = llCount;
    }
    pHeader = m_piece.data() + (m_llNext - m_llPieceFirst) * llBytes;
    llTrace = m_llNext;
    return true;
}

bool TraceWalker::nextVariable(const unsigned char*& pHeader, int64_t& llTrace) {
    m_piece.resize(kTraceHeaderBytes);
    const int nSampleBytes = m_layout.pFormat->nBytes;
    for (;;) {
        if (m_llPos + static_cast<int64_t>(kTraceHeaderBytes) > m_layout.llSize) {
            if (m_llPos != m_layout.llSize)
                m_sProblem = std::to_string(m_layout.llSize - m_llPos) + " bytes after the last whole trace";
            return false;
        }
        if (!m_reader.read(m_llPos, m_piece.data(), kTraceHeaderBytes)) {
            m_sProblem = "trace " + std::to_string(m_llWalked) + ": " + libraryError();
            m_bReadFailed = true;
            return false;
        }
        const Bytes header{m_piece.data(), m_layout.bLittle};
        // A trace without its own count has the binary header's.
        const int nSamples = header.u16(114) != 0 ? header.u16(114) : m_layout.nSamples;
        const int64_t llEnd = m_llPos + static_cast<int64_t>(kTraceHeaderBytes) + int64_t{nSamples} * nSampleBytes;
        if (llEnd > m_layout.llSize) {
            m_sProblem = "trace " + std::to_string(m_llWalked) + " announces " + std::to_string(nSamples) +
                         " samples, more than the file holds";
            return false;
        }
        const int64_t llThis = m_llWalked++;
        m_llPos = llEnd;
        if (llThis == m_llNext) {
            pHeader = m_piece.data();
            llTrace = llThis;
            return true;
        }
    }
}

}  // namespace

bool chooseTraceFields(const std::string& sFields, std::vector<const HeaderField*>& fields) {
    fields.clear();
    if (sFields.empty()) {
        for (const HeaderField& field : traceFields())
            if (field.bDefault) fields.push_back(&field);
        return true;
    }
    for (std::size_t nAt = 0; nAt <= sFields.size();) {
        std::size_t nComma = sFields.find(',', nAt);
        if (nComma == std::string::npos) nComma = sFields.size();
        const std::string sName = sFields.substr(nAt, nComma - nAt);
        nAt = nComma + 1;
        const auto it = std::find_if(traceFields().begin(), traceFields().end(),
                                     [&](const HeaderField& field) { return equalsIgnoreCase(field.szName, sName); });
        if (it == traceFields().end()) {
            fail(kExitUsage, "segy: --fields: no trace-header field '" + sName + "' (qrtool segy --fields list shows them)");
            return false;
        }
        fields.push_back(&*it);
    }
    return true;
}

int printTraceFieldList(const Options& options) {
    Listing listing(options, true);
    for (const HeaderField& field : traceFields()) {
        const std::string sScaled = field.nScalarByte == 0 ? "" : "by byte " + std::to_string(field.nScalarByte);
        listing.row({number("byte", field.nByte), number("size", field.nSize), text("name", field.szName),
                     boolean("default", field.bDefault), text("scaled", sScaled), text("description", field.szDescription)});
    }
    return kExitOk;
}

int listTraces(const Options& options, Reader& reader, const Layout& layout) {
    const std::string sWhat = "segy: " + layout.sPath + ": ";
    TraceRange range;
    if (!parseRange(options.sTraces, range))
        return fail(kExitUsage, "segy: --traces '" + options.sTraces + "' is not a range (all, N, A:B or A:B:STEP)");
    std::vector<const HeaderField*> fields;
    if (!chooseTraceFields(options.sFields, fields)) return kExitUsage;
    if (layout.pFormat == nullptr) return fail(kExitFailed, sWhat + "unknown data sample format: the traces cannot be found");
    if (!layout.bVariable && layout.llTraceBytes == 0)
        return fail(kExitFailed, sWhat + "0 samples per trace in the binary header: the traces cannot be found");

    // In JSON only: the text form stays a plain table (several files are headed by their names).
    const auto jsonOnly = [](const char* szKey, const std::string& sValue) { return field(szKey, "", jsonString(sValue)); };
    const std::vector<Field> head = {
        jsonOnly("file", layout.sPath),
        jsonOnly("byte_order", layout.bLittle ? "little-endian" : "big-endian"),
        jsonOnly("trace_length", layout.bVariable ? "variable" : "fixed"),
    };
    TraceWalker walker(reader, layout, range);
    const unsigned char* pHeader = nullptr;
    int64_t llTrace = 0, llCount = 0;
    if (options.bTraceSummary) {
        std::vector<FieldSummary> summaries(fields.size());
        while (walker.next(pHeader, llTrace)) {
            const Bytes header{pHeader, layout.bLittle};
            for (std::size_t i = 0; i < fields.size(); ++i) summaries[i].add(scaledValue(header, *fields[i]), llCount == 0);
            ++llCount;
        }
        std::vector<Field> summaryHead = head;
        summaryHead.push_back(number("traces", llCount));
        {
            Listing listing(options, true, summaryHead, "fields");
            for (std::size_t i = 0; i < fields.size() && llCount > 0; ++i) {
                const FieldSummary& summary = summaries[i];
                const std::string sDistinct = std::to_string(summary.distinct.size());
                listing.row({text("field", fields[i]->szName), number("byte", fields[i]->nByte),
                             rawJson("min", numberText(summary.dMin)), rawJson("max", numberText(summary.dMax)),
                             field("distinct", summary.bCapped ? sDistinct + "+" : sDistinct, sDistinct),
                             boolean("distinct_capped", summary.bCapped)});
            }
        }
        if (llCount > 0 && std::any_of(summaries.begin(), summaries.end(), [](const FieldSummary& s) { return s.bCapped; }))
            note("qrtool: " + sWhat + "distinct values are counted up to " + std::to_string(kDistinctCap) +
                 " per field; '+' marks a field that has more");
    } else {
        Listing listing(options, true, head, "traces");
        while (walker.next(pHeader, llTrace) && !outputFailed()) {
            const Bytes header{pHeader, layout.bLittle};
            std::vector<Field> row{number("trace", llTrace)};
            for (const HeaderField* pField : fields) row.push_back(rawJson(pField->szName, numberText(scaledValue(header, *pField))));
            listing.row(row);
            ++llCount;
        }
    }
    if (walker.readFailed()) return fail(kExitFailed, sWhat + walker.problem());
    if (!walker.problem().empty()) note("qrtool: " + sWhat + walker.problem());
    if (llCount == 0 && walker.problem().empty() && range.llFirst > 0)
        note("qrtool: " + sWhat + "no trace in the range " + options.sTraces);
    return kExitOk;
}

}  // namespace qrtool::segy
