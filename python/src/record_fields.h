// Python package qrcore: the wanted columns of blank-separated survey records read into the rows
// of column buffers, plain decimals on the spot (decimal_text.h) and any other field the
// scanner's way. A RecordFields is settled once the channels are known and only read after, so
// any number of threads may read records with it at once (batches of them: RecordBatch).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decimal_simd.h"
#include "decimal_text.h"
#include "survey_scan.h"

namespace qrpy {

// Where the values of one record go: row nRow of every wanted channel's buffer (an array
// channel's row holding its elements side by side).
struct RecordRow {
    double* const* columns;
    std::size_t nRow;
};

// Records whose values are read later, on any thread, and where they go. Their texts stay
// where the scanner put them (RecordView::text) until the batch is read.
struct RecordBatch {
    static constexpr std::size_t kRecords = 4096;
    std::size_t nRecords = 0;
    const char* texts[kRecords] = {};
    uint32_t lengths[kRecords] = {};
    std::size_t rows[kRecords] = {};  // the row each record's values go to
    std::vector<double*> columns;     // per wanted channel, its buffer's values

    void add(std::string_view record, std::size_t nRow) {
        texts[nRecords] = record.data();
        lengths[nRecords] = static_cast<uint32_t>(record.size());
        rows[nRecords] = nRow;
        ++nRecords;
    }
    bool full() const { return nRecords == kRecords; }
};

class RecordFields {
public:
    // Column k (from 0) wanted: its channel's place among the wanted (w), the element of an
    // array channel, and the channel's elements per row.
    struct Target {
        std::size_t w = kNotWanted, nElement = 0, nCount = 1;
    };
    static constexpr std::size_t kNotWanted = SIZE_MAX;

    explicit RecordFields(std::vector<Target> columns) : m_columns(std::move(columns)) {}

    // A record without nulls: one sweep from its start to the last column wanted cuts the fields
    // and reads them. Columns past the record's end are missing (NaN). At least kLineSlack bytes
    // after the record must be readable.
    void read(std::string_view text, const RecordRow& row) const {
#if defined(__SSE2__)
        if (text.size() <= 64) {
            readShort(text, row);
            return;
        }
#endif
        const char* p = text.data();
        const char* const pEnd = p + text.size();
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        std::size_t k = 0;
        for (; k < m_columns.size(); ++k) {
            while (p < pEnd && blank(*p)) ++p;
            if (p == pEnd) break;
            if (m_columns[k].w == kNotWanted) {
                while (p < pEnd && !blank(*p)) ++p;
                continue;
            }
            const char* const pStart = p;
            double d = 0;
            const char* pAfter = readDecimal(p, pEnd, d);
            if (pAfter != nullptr && (pAfter == pEnd || blank(*pAfter))) {
                p = pAfter;
            } else {
                while (p < pEnd && !blank(*p)) ++p;
                d = plainValue(pStart, static_cast<std::size_t>(p - pStart));
            }
            put(row, k, d);
        }
        missing(k, row);
    }

    void read(const RecordBatch& batch) const {
#if defined(QRPY_VECTOR_DECIMAL)
        if (m_bVector) {
            readVector(batch);
            return;
        }
#endif
        for (std::size_t i = 0; i < batch.nRecords; ++i) read({batch.texts[i], batch.lengths[i]}, {batch.columns.data(), batch.rows[i]});
    }

    // Column k's value into the row.
    void put(const RecordRow& row, std::size_t k, double d) const {
        const Target& target = m_columns[k];
        row.columns[target.w][row.nRow * target.nCount + target.nElement] = d;
    }

private:
    // A field of a record without nulls that the quick reading leaves: the scanner's way.
    static double plainValue(const char* p, std::size_t n) {
        double d = 0;
        if (qrtool::RecordView::plainNumber({p, n}, d) != qrtool::RecordView::Value::Number) d = std::numeric_limits<double>::quiet_NaN();
        return d;
    }

    // Columns k and beyond are past the record's end.
    void missing(std::size_t k, const RecordRow& row) const {
        for (; k < m_columns.size(); ++k)
            if (m_columns[k].w != kNotWanted) put(row, k, std::numeric_limits<double>::quiet_NaN());
    }

#if defined(__SSE2__)
    // Bit i set where byte i of the 64 at p is neither a blank nor a tab.
    static uint64_t fieldBytes(const char* p) {
        const __m128i blank = _mm_set1_epi8(' '), tab = _mm_set1_epi8('\t');
        uint64_t llBlank = 0;
        for (int i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            const auto nBits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, tab))));
            llBlank |= uint64_t{nBits} << (16 * i);
        }
        return ~llBlank;
    }

#if defined(QRPY_VECTOR_DECIMAL)
    // A batch with plain decimals read by vector instructions.
    [[gnu::target("sse4.1")]] void readVector(const RecordBatch& batch) const {
        for (std::size_t i = 0; i < batch.nRecords; ++i) {
            const RecordRow row{batch.columns.data(), batch.rows[i]};
            if (batch.lengths[i] <= 64) {
                readShort<true>({batch.texts[i], batch.lengths[i]}, row);
            } else {
                read({batch.texts[i], batch.lengths[i]}, row);
            }
        }
    }
#endif

    // A record of at most 64 bytes: the starts and ends of all its fields come from one mask of
    // its field bytes, and each field is read within them (bVector: by readPlainDecimal first).
    template <bool bVector = false>
    [[gnu::always_inline]] void readShort(std::string_view text, const RecordRow& row) const {
        const char* const p = text.data();
        const uint64_t llLength = text.size() == 64 ? ~uint64_t{0} : (uint64_t{1} << text.size()) - 1;
        const uint64_t llField = fieldBytes(p) & llLength;
        uint64_t llStarts = llField & ~(llField << 1), llEnds = llField & ~(llField >> 1);
        std::size_t k = 0;
        for (; k < m_columns.size() && llStarts != 0; ++k, llStarts &= llStarts - 1, llEnds &= llEnds - 1) {
            if (m_columns[k].w == kNotWanted) continue;
            const char* const pStart = p + std::countr_zero(llStarts);
            const char* const pEnd = p + std::countr_zero(llEnds) + 1;
            const auto nLength = static_cast<std::size_t>(pEnd - pStart);
            double d = 0;
            bool bRead = false;
#if defined(QRPY_VECTOR_DECIMAL)
            if constexpr (bVector) bRead = readPlainDecimal(pStart, nLength, d);
#endif
            if (!bRead && readDecimal(pStart, pEnd, d) != pEnd) d = plainValue(pStart, nLength);
            put(row, k, d);
        }
        missing(k, row);
    }
#endif

    std::vector<Target> m_columns;  // up to the last column wanted
#if defined(QRPY_VECTOR_DECIMAL)
    bool m_bVector = plainDecimalAvailable();
#endif
};

}  // namespace qrpy
