// qrtool: the SEG-Y layout the segy command reads: the fields of the binary and trace headers
// with their byte positions, the sample formats, and the file read through the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrtool::segy {

constexpr std::size_t kTextBytes = 3200;   // a textual header: 40 cards of 80 columns
constexpr std::size_t kBinaryBytes = 400;  // the binary header after the first textual one
constexpr std::size_t kTraceHeaderBytes = 240;

struct SampleFormat {
    int nCode;
    int nBytes;
    const char* szName;
};
const SampleFormat* findFormat(int nCode);

// One field of a header. Positions count from 1: in the binary header as file bytes (3201 on),
// in a trace header from the start of the trace.
struct HeaderField {
    int nByte;
    int nSize;   // 1, 2, 4 or 8 bytes
    char cType;  // 'i' two's complement, 'u' unsigned, 'f' IEEE double
    const char* szName;
    const char* szDescription;
    int nScalarByte = 0;   // trace fields: the byte of the scalar applied to them (69, 71, 201)
    bool bDefault = false;  // trace fields: listed when --fields does not choose
};
const std::vector<HeaderField>& binaryFields();
const std::vector<HeaderField>& traceFields();

// Reads the integers and doubles of a header in the file's byte order.
struct Bytes {
    const unsigned char* p;
    bool bLittle;
    uint64_t unsignedAt(std::size_t nOffset, int nSize) const;
    int64_t signedAt(std::size_t nOffset, int nSize) const;
    uint16_t u16(std::size_t nOffset) const { return static_cast<uint16_t>(unsignedAt(nOffset, 2)); }
    int16_t i16(std::size_t nOffset) const { return static_cast<int16_t>(u16(nOffset)); }
    int32_t i32(std::size_t nOffset) const { return static_cast<int32_t>(unsignedAt(nOffset, 4)); }
    // A field's value as a number (an integer field exactly, since its values fit a double's
    // 53 bits but for 8-byte counts beyond 2^53, which no file holds).
    double value(const HeaderField& field, std::size_t nBase) const;
};

// A trace field with its scalar applied: a positive scalar multiplies, a negative one divides
// by its size, 0 leaves the value as it is.
double scaledValue(const Bytes& header, const HeaderField& field);

// The shortest text that reads back as the same double ("12.5", "431900").
std::string numberText(double d);

// The file, read through the library.
class Reader {
public:
    ~Reader() { close(); }
    bool open(const std::string& sPath);
    // nBytes at llOffset; false on a failed read or a short one (the end of the file).
    bool read(int64_t llOffset, void* pBuffer, std::size_t nBytes);
    bool close();

private:
    void* m_hFile = nullptr;
};

// Where the traces are and how long they are, as the headers say.
struct Layout {
    std::string sPath;
    int64_t llSize = 0;
    bool bLittle = false;
    int nSamples = 0;                       // per trace, from the binary header
    const SampleFormat* pFormat = nullptr;  // null: unknown, the traces cannot be walked
    int64_t llFirstTrace = 0;               // the offset of the first trace header
    bool bVariable = false;                 // each trace's length from its own header
    int64_t llTraceBytes = 0;               // fixed length: header and samples
    int64_t llTraces = 0;                   // fixed length: whole traces in the file
};

}  // namespace qrtool::segy

namespace qrtool {
struct Options;
namespace segy {
// The trace-header listing (--traces, --fields) or summary (--trace-summary) of one file.
// Returns the exit status.
int listTraces(const Options& options, Reader& reader, const Layout& layout);
// The trace fields --fields names ("" the default ones); false after a message for an unknown
// name.
bool chooseTraceFields(const std::string& sFields, std::vector<const HeaderField*>& fields);
// Prints every trace-header field with its byte position (--fields list).
int printTraceFieldList(const Options& options);
}  // namespace segy
}  // namespace qrtool
