// qrtool: the SEG-Y header fields with their byte positions, byte orders, sample formats and
// the reader over the library (see segy_layout.h).
#include "segy_layout.h"

#include <charconv>
#include <cstring>

#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace qrtool::segy {

namespace {

const SampleFormat kFormats[] = {
    {1, 4, "4-byte IBM floating point"},         {2, 4, "4-byte two's complement integer"},
    {3, 2, "2-byte two's complement integer"},   {4, 4, "4-byte fixed point with gain (obsolete)"},
    {5, 4, "4-byte IEEE floating point"},        {6, 8, "8-byte IEEE floating point"},
    {7, 3, "3-byte two's complement integer"},   {8, 1, "1-byte two's complement integer"},
    {9, 8, "8-byte two's complement integer"},   {10, 4, "4-byte unsigned integer"},
    {11, 2, "2-byte unsigned integer"},          {12, 8, "8-byte unsigned integer"},
    {15, 3, "3-byte unsigned integer"},          {16, 1, "1-byte unsigned integer"},
};

}  // namespace

const SampleFormat* findFormat(int nCode) {
    for (const SampleFormat& format : kFormats)
        if (format.nCode == nCode) return &format;
    return nullptr;
}

const std::vector<HeaderField>& binaryFields() {
    static const std::vector<HeaderField> s_fields = {
        {3201, 4, 'i', "job_id", "job identification number"},
        {3205, 4, 'i', "line_number", "line number"},
        {3209, 4, 'i', "reel_number", "reel number"},
        {3213, 2, 'i', "traces_per_ensemble", "data traces per ensemble"},
        {3215, 2, 'i', "auxiliary_traces_per_ensemble", "auxiliary traces per ensemble"},
        {3217, 2, 'u', "sample_interval_us", "sample interval (microseconds)"},
        {3219, 2, 'u', "field_sample_interval_us", "sample interval of the original field recording"},
        {3221, 2, 'u', "samples_per_trace", "samples per data trace"},
        {3223, 2, 'u', "field_samples_per_trace", "samples per trace of the original field recording"},
        {3225, 2, 'i', "format_code", "data sample format code"},
        {3227, 2, 'i', "ensemble_fold", "ensemble fold"},
        {3229, 2, 'i', "sorting_code", "trace sorting code"},
        {3231, 2, 'i', "vertical_sum_code", "vertical sum code"},
        {3233, 2, 'i', "sweep_start_hz", "sweep frequency at start (Hz)"},
        {3235, 2, 'i', "sweep_end_hz", "sweep frequency at end (Hz)"},
        {3237, 2, 'i', "sweep_length_ms", "sweep length (ms)"},
        {3239, 2, 'i', "sweep_type", "sweep type code"},
        {3241, 2, 'i', "sweep_channel", "trace number of the sweep channel"},
        {3243, 2, 'i', "sweep_taper_start_ms", "sweep trace taper length at start (ms)"},
        {3245, 2, 'i', "sweep_taper_end_ms", "sweep trace taper length at end (ms)"},
        {3247, 2, 'i', "taper_type", "taper type"},
        {3249, 2, 'i', "correlated", "correlated data traces"},
        {3251, 2, 'i', "gain_recovered", "binary gain recovered"},
        {3253, 2, 'i', "amplitude_recovery", "amplitude recovery method"},
        {3255, 2, 'i', "measurement_system", "measurement system (1 meters, 2 feet)"},
        {3257, 2, 'i', "impulse_polarity", "impulse signal polarity"},
        {3259, 2, 'i', "vibratory_polarity", "vibratory polarity code"},
        {3261, 4, 'i', "ext_traces_per_ensemble", "extended data traces per ensemble"},
        {3265, 4, 'i', "ext_auxiliary_traces_per_ensemble", "extended auxiliary traces per ensemble"},
        {3269, 4, 'i', "ext_samples_per_trace", "extended samples per data trace"},
        {3273, 8, 'f', "ext_sample_interval", "extended sample interval (IEEE double)"},
        {3281, 8, 'f', "ext_field_sample_interval", "extended sample interval of the original field recording"},
        {3289, 4, 'i', "ext_field_samples_per_trace", "extended samples per trace of the original field recording"},
        {3293, 4, 'i', "ext_ensemble_fold", "extended ensemble fold"},
        {3297, 4, 'u', "byte_order_constant", "byte-order constant (16909060 in the file's order)"},
        {3501, 1, 'u', "revision_major", "SEG-Y format revision, major"},
        {3502, 1, 'u', "revision_minor", "SEG-Y format revision, minor"},
        {3503, 2, 'i', "fixed_length_traces", "fixed-length trace flag (1 all traces alike)"},
        {3505, 2, 'i', "extended_headers", "extended textual headers (-1 open count)"},
        {3507, 4, 'i', "additional_trace_headers", "maximum additional 240-byte trace headers"},
        {3511, 2, 'i', "time_basis", "time basis code"},
        {3513, 8, 'u', "traces_in_file", "number of traces in the file"},
        {3521, 8, 'u', "first_trace_offset", "byte offset of the first trace"},
        {3529, 4, 'i', "trailer_stanzas", "data trailer stanza records"},
    };
    return s_fields;
}

const std::vector<HeaderField>& traceFields() {
    static const std::vector<HeaderField> s_fields = {
        {1, 4, 'i', "trace_sequence_line", "trace sequence number within the line", 0, true},
        {5, 4, 'i', "trace_sequence_file", "trace sequence number within the file", 0, true},
        {9, 4, 'i', "field_record", "original field record number", 0, true},
        {13, 4, 'i', "field_trace", "trace number within the field record", 0, true},
        {17, 4, 'i', "energy_source_point", "energy source point number", 0, false},
        {21, 4, 'i', "cdp", "ensemble (CDP) number", 0, true},
        {25, 4, 'i', "cdp_trace", "trace number within the ensemble", 0, true},
        {29, 2, 'i', "trace_id", "trace identification code", 0, false},
        {31, 2, 'i', "vertical_sum", "vertically summed traces", 0, false},
        {33, 2, 'i', "horizontal_stack", "horizontally stacked traces", 0, false},
        {35, 2, 'i', "data_use", "data use (1 production, 2 test)", 0, false},
        {37, 4, 'i', "offset", "distance from source to receiver group", 0, true},
        {41, 4, 'i', "receiver_elevation", "receiver group elevation", 69, true},
        {45, 4, 'i', "source_elevation", "surface elevation at source", 69, true},
        {49, 4, 'i', "source_depth", "source depth below surface", 69, false},
        {53, 4, 'i', "receiver_datum", "datum elevation at receiver group", 69, false},
        {57, 4, 'i', "source_datum", "datum elevation at source", 69, false},
        {61, 4, 'i', "source_water_depth", "water depth at source", 69, false},
        {65, 4, 'i', "receiver_water_depth", "water depth at receiver group", 69, false},
        {69, 2, 'i', "elevation_scalar", "scalar for elevations and depths", 0, false},
        {71, 2, 'i', "coordinate_scalar", "scalar for coordinates", 0, false},
        {73, 4, 'i', "source_x", "source coordinate X", 71, true},
        {77, 4, 'i', "source_y", "source coordinate Y", 71, true},
        {81, 4, 'i', "receiver_x", "receiver group coordinate X", 71, true},
        {85, 4, 'i', "receiver_y", "receiver group coordinate Y", 71, true},
        {89, 2, 'i', "coordinate_units", "coordinate units (1 length, 2 arc seconds, 3 degrees, 4 DMS)", 0, false},
        {91, 2, 'i', "weathering_velocity", "weathering velocity", 0, false},
        {93, 2, 'i', "subweathering_velocity", "subweathering velocity", 0, false},
        {95, 2, 'i', "source_uphole_ms", "uphole time at source (ms)", 0, false},
        {97, 2, 'i', "receiver_uphole_ms", "uphole time at group (ms)", 0, false},
        {99, 2, 'i', "source_static_ms", "source static correction (ms)", 0, false},
        {101, 2, 'i', "receiver_static_ms", "group static correction (ms)", 0, false},
        {103, 2, 'i', "total_static_ms", "total static applied (ms)", 0, false},
        {105, 2, 'i', "lag_a_ms", "lag time A (ms)", 0, false},
        {107, 2, 'i', "lag_b_ms", "lag time B (ms)", 0, false},
        {109, 2, 'i', "delay_ms", "delay recording time (ms)", 0, true},
        {111, 2, 'i', "mute_start_ms", "mute time start (ms)", 0, false},
        {113, 2, 'i', "mute_end_ms", "mute time end (ms)", 0, false},
        {115, 2, 'u', "samples", "number of samples in this trace", 0, true},
        {117, 2, 'u', "sample_interval_us", "sample interval of this trace (microseconds)", 0, true},
        {119, 2, 'i', "gain_type", "gain type of field instruments", 0, false},
        {121, 2, 'i', "gain_constant_db", "instrument gain constant (dB)", 0, false},
        {123, 2, 'i', "early_gain_db", "instrument early or initial gain (dB)", 0, false},
        {125, 2, 'i', "correlated", "correlated (1 no, 2 yes)", 0, false},
        {127, 2, 'i', "sweep_start_hz", "sweep frequency at start (Hz)", 0, false},
        {129, 2, 'i', "sweep_end_hz", "sweep frequency at end (Hz)", 0, false},
        {131, 2, 'i', "sweep_length_ms", "sweep length (ms)", 0, false},
        {133, 2, 'i', "sweep_type", "sweep type code", 0, false},
        {135, 2, 'i', "sweep_taper_start_ms", "sweep trace taper length at start (ms)", 0, false},
        {137, 2, 'i', "sweep_taper_end_ms", "sweep trace taper length at end (ms)", 0, false},
        {139, 2, 'i', "taper_type", "taper type", 0, false},
        {141, 2, 'i', "alias_filter_hz", "alias filter frequency (Hz)", 0, false},
        {143, 2, 'i', "alias_filter_slope", "alias filter slope (dB/octave)", 0, false},
        {145, 2, 'i', "notch_filter_hz", "notch filter frequency (Hz)", 0, false},
        {147, 2, 'i', "notch_filter_slope", "notch filter slope (dB/octave)", 0, false},
        {149, 2, 'i', "low_cut_hz", "low-cut frequency (Hz)", 0, false},
        {151, 2, 'i', "high_cut_hz", "high-cut frequency (Hz)", 0, false},
        {153, 2, 'i', "low_cut_slope", "low-cut slope (dB/octave)", 0, false},
        {155, 2, 'i', "high_cut_slope", "high-cut slope (dB/octave)", 0, false},
        {157, 2, 'i', "year", "year data recorded", 0, true},
        {159, 2, 'i', "day", "day of year", 0, true},
        {161, 2, 'i', "hour", "hour of day (24-hour clock)", 0, true},
        {163, 2, 'i', "minute", "minute of hour", 0, true},
        {165, 2, 'i', "second", "second of minute", 0, true},
        {167, 2, 'i', "time_basis", "time basis code (1 local, 2 GMT, 3 other, 4 UTC)", 0, false},
        {169, 2, 'i', "weighting_factor", "trace weighting factor", 0, false},
        {171, 2, 'i', "roll_switch_group", "geophone group number of roll switch position one", 0, false},
        {173, 2, 'i', "first_trace_group", "geophone group number of trace number one", 0, false},
        {175, 2, 'i', "last_trace_group", "geophone group number of the last trace", 0, false},
        {177, 2, 'i', "gap_size", "gap size (total groups dropped)", 0, false},
        {179, 2, 'i', "over_travel", "over travel associated with taper", 0, false},
        {181, 4, 'i', "cdp_x", "X coordinate of the ensemble (CDP) position", 71, true},
        {185, 4, 'i', "cdp_y", "Y coordinate of the ensemble (CDP) position", 71, true},
        {189, 4, 'i', "inline", "in-line number (3-D poststack)", 0, true},
        {193, 4, 'i', "crossline", "cross-line number (3-D poststack)", 0, true},
        {197, 4, 'i', "shotpoint", "shotpoint number", 201, false},
        {201, 2, 'i', "shotpoint_scalar", "scalar for the shotpoint number", 0, false},
        {203, 2, 'i', "value_unit", "trace value measurement unit", 0, false},
        {211, 2, 'i', "transduction_unit", "transduction units", 0, false},
        {213, 2, 'i', "device_id", "device or trace identifier", 0, false},
        {215, 2, 'i', "time_scalar", "scalar for the times in bytes 95-114", 0, false},
        {217, 2, 'i', "source_type", "source type or orientation", 0, false},
        {231, 2, 'i', "source_measurement_unit", "source measurement unit", 0, false},
    };
    return s_fields;
}

uint64_t Bytes::unsignedAt(std::size_t nOffset, int nSize) const {
    uint64_t llValue = 0;
    for (int i = 0; i < nSize; ++i) {
        const std::size_t nAt = nOffset + static_cast<std::size_t>(bLittle ? nSize - 1 - i : i);
        llValue = llValue << 8 | p[nAt];
    }
    return llValue;
}

int64_t Bytes::signedAt(std::size_t nOffset, int nSize) const {
    const uint64_t llValue = unsignedAt(nOffset, nSize);
    if (nSize >= 8) return static_cast<int64_t>(llValue);
    const uint64_t llSign = uint64_t{1} << (8 * nSize - 1);
    // Sign extension without shifting a negative number.
    return static_cast<int64_t>(llValue ^ llSign) - static_cast<int64_t>(llSign);
}

double Bytes::value(const HeaderField& field, std::size_t nBase) const {
    const std::size_t nOffset = static_cast<std::size_t>(field.nByte) - nBase;
    switch (field.cType) {
    case 'f': {
        const uint64_t llBits = unsignedAt(nOffset, 8);
        double d = 0;
        std::memcpy(&d, &llBits, sizeof d);
        return d;
    }
    case 'u': return static_cast<double>(unsignedAt(nOffset, field.nSize));
    default: return static_cast<double>(signedAt(nOffset, field.nSize));
    }
}

double scaledValue(const Bytes& header, const HeaderField& field) {
    const double dValue = header.value(field, 1);
    if (field.nScalarByte == 0) return dValue;
    const int nScalar = header.i16(static_cast<std::size_t>(field.nScalarByte - 1));
    if (nScalar > 0) return dValue * nScalar;
    if (nScalar < 0) return dValue / -nScalar;
    return dValue;
}

std::string numberText(double d) {
    char szText[64];
    const auto result = std::to_chars(szText, szText + sizeof szText, d);
    return std::string(szText, result.ptr);
}

bool Reader::open(const std::string& sPath) {
    ReportError(0);
    // Read only, shared with readers and writers.
    if (!QR_OpenFile(&m_hFile, sPath.c_str(), 0x301)) {
        m_hFile = nullptr;
        return false;
    }
    return true;
}

bool Reader::read(int64_t llOffset, void* pBuffer, std::size_t nBytes) {
    ReportError(0);
    if (!QR_Seek(m_hFile, llOffset, 0)) return false;
    return QR_Read(m_hFile, pBuffer, static_cast<uint32_t>(nBytes)) == nBytes;
}

bool Reader::close() {
    if (m_hFile == nullptr) return true;
    void* hFile = m_hFile;
    m_hFile = nullptr;
    ReportError(0);
    return QR_CloseFile(hFile);
}

}  // namespace qrtool::segy
