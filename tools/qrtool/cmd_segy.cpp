// qrtool: the segy command: the headers of a SEG-Y file (textual, extended textual, binary) and
// its trace count.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "per_file.h"
#include "qrcore/convert.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"

namespace qrtool {

namespace {

constexpr std::size_t kTextBytes = 3200;   // a textual header: 40 cards of 80 columns
constexpr std::size_t kBinaryBytes = 400;  // the binary header after the first textual one
constexpr std::size_t kTraceHeaderBytes = 240;
constexpr int32_t kMaxVariableHeaders = 1000;  // extended headers read when their count is open

// The file, read through the library.
class SegyReader {
public:
    ~SegyReader() { close(); }
    bool open(const std::string& sPath) {
        ReportError(0);
        if (!QR_OpenFile(&m_hFile, sPath.c_str(), 0x301)) {
            m_hFile = nullptr;
            return false;
        }
        return true;
    }
    // nBytes at llOffset; false on a failed read or a short one (the end of the file).
    bool read(int64_t llOffset, void* pBuffer, std::size_t nBytes) {
        ReportError(0);
        if (!QR_Seek(m_hFile, llOffset, 0)) return false;
        return QR_Read(m_hFile, pBuffer, static_cast<uint32_t>(nBytes)) == nBytes;
    }
    bool close() {
        if (m_hFile == nullptr) return true;
        void* hFile = m_hFile;
        m_hFile = nullptr;
        ReportError(0);
        return QR_CloseFile(hFile);
    }

private:
    void* m_hFile = nullptr;
};

// The 40 cards of a textual header as text: EBCDIC through the library's table, ASCII as it is
// (zero bytes and other control bytes shown as blanks either way).
std::vector<std::string> textCards(const unsigned char* p, bool bEbcdic) {
    std::vector<std::string> cards;
    for (std::size_t nCard = 0; nCard < kTextBytes / 80; ++nCard) {
        char szCard[81];
        for (std::size_t i = 0; i < 80; ++i) {
            const unsigned char c = p[nCard * 80 + i];
            // A zero byte would end the library's text early: it is an EBCDIC blank here.
            szCard[i] = bEbcdic ? static_cast<char>(c == 0 ? 0x40 : c) : static_cast<char>(c < 0x20 || c == 0x7F ? ' ' : c);
        }
        szCard[80] = '\0';
        if (bEbcdic) EbcdicToAscii(szCard);
        cards.emplace_back(szCard, 80);
    }
    return cards;
}

// EBCDIC text is mostly EBCDIC blanks (0x40) and letters and digits above 0x80; ASCII text is
// mostly blanks (0x20) and characters below 0x80.
bool looksEbcdic(const unsigned char* p) {
    std::size_t nEbcdic = 0, nAscii = 0;
    for (std::size_t i = 0; i < kTextBytes; ++i) {
        if (p[i] == 0x40 || p[i] >= 0x81) ++nEbcdic;
        else if (p[i] == 0x20 || (p[i] >= 0x30 && p[i] <= 0x39) || (p[i] >= 0x41 && p[i] <= 0x7A)) ++nAscii;
    }
    return nEbcdic > nAscii;
}

struct SampleFormat {
    int nCode;
    int nBytes;
    const char* szName;
};
const SampleFormat kFormats[] = {
    {1, 4, "4-byte IBM floating point"},         {2, 4, "4-byte two's complement integer"},
    {3, 2, "2-byte two's complement integer"},   {4, 4, "4-byte fixed point with gain (obsolete)"},
    {5, 4, "4-byte IEEE floating point"},        {6, 8, "8-byte IEEE floating point"},
    {7, 3, "3-byte two's complement integer"},   {8, 1, "1-byte two's complement integer"},
    {9, 8, "8-byte two's complement integer"},   {10, 4, "4-byte unsigned integer"},
    {11, 2, "2-byte unsigned integer"},          {12, 8, "8-byte unsigned integer"},
    {15, 3, "3-byte unsigned integer"},          {16, 1, "1-byte unsigned integer"},
};
const SampleFormat* findFormat(int nCode) {
    for (const SampleFormat& format : kFormats)
        if (format.nCode == nCode) return &format;
    return nullptr;
}

// Reads the binary header's integers in the file's byte order.
struct BinaryHeader {
    const unsigned char* p;
    bool bLittle;
    uint32_t u32(std::size_t nOffset) const {
        const unsigned char* q = p + nOffset;
        return bLittle ? (uint32_t{q[3]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0])
                       : (uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]);
    }
    uint16_t u16(std::size_t nOffset) const {
        const unsigned char* q = p + nOffset;
        return static_cast<uint16_t>(bLittle ? (q[1] << 8 | q[0]) : (q[0] << 8 | q[1]));
    }
    int32_t i32(std::size_t nOffset) const { return static_cast<int32_t>(u32(nOffset)); }
    int16_t i16(std::size_t nOffset) const { return static_cast<int16_t>(u16(nOffset)); }
};

// Offsets in the binary header (file byte 3201 is offset 0).
enum : std::size_t {
    kJob = 0, kLine = 4, kReel = 8, kTracesPerEnsemble = 12, kAuxTracesPerEnsemble = 14, kSampleInterval = 16,
    kSamplesPerTrace = 20, kFormat = 24, kMeasurementSystem = 54, kByteOrderConstant = 96, kRevision = 300,
    kFixedLength = 302, kExtendedHeaders = 304,
};

// The byte order: the constant 16909060 (bytes 01 02 03 04) of newer revisions says it; without
// it, the order in which the sample format code is a known one.
bool littleEndian(const unsigned char* pBinary) {
    const BinaryHeader big{pBinary, false};
    if (big.u32(kByteOrderConstant) == 0x01020304u) return false;
    if (big.u32(kByteOrderConstant) == 0x04030201u) return true;
    const BinaryHeader little{pBinary, true};
    return findFormat(big.i16(kFormat)) == nullptr && findFormat(little.i16(kFormat)) != nullptr;
}

Field cardsField(const char* szKey, const std::vector<std::string>& cards) {
    std::string sText, sJson = "[";
    for (std::size_t i = 0; i < cards.size(); ++i) {
        sText += cards[i];
        sText += '\n';
        if (i > 0) sJson += ",\n    ";
        sJson += jsonString(cards[i]);
    }
    sJson += ']';
    return field(szKey, sText, sJson);
}

}  // namespace

int runSegy(const Options& options, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "segy: expected one file (see qrtool segy --help)");
    const std::string& sPath = args[0];
    const std::string sWhat = "segy: " + sPath + ": ";
    if (!regularOrMissing("segy", sPath, "its traces are counted from its size")) return kExitFailed;
    SegyReader reader;
    if (!reader.open(sPath)) return failLibrary("segy: " + sPath);
    std::error_code ec;
    const auto llSize = static_cast<int64_t>(std::filesystem::file_size(sPath, ec));
    if (ec) return fail(kExitFailed, sWhat + ec.message());
    std::vector<unsigned char> head(kTextBytes + kBinaryBytes);
    if (llSize < static_cast<int64_t>(head.size()))
        return fail(kExitFailed, sWhat + std::to_string(llSize) + " bytes: too short for the 3600 bytes of SEG-Y headers");
    if (!reader.read(0, head.data(), head.size())) return failLibrary("segy: " + sPath);

    std::vector<std::string> warnings;
    const bool bEbcdic = looksEbcdic(head.data());
    const std::vector<std::string> cards = textCards(head.data(), bEbcdic);
    const bool bLittle = littleEndian(head.data() + kTextBytes);
    const BinaryHeader binary{head.data() + kTextBytes, bLittle};

    // Extended textual headers: a count, or -1 for as many as end with "((SEG: EndText))".
    const int32_t lAnnounced = binary.i16(kExtendedHeaders);
    std::vector<std::vector<std::string>> extended;
    std::vector<unsigned char> card(kTextBytes);
    int64_t llOffset = static_cast<int64_t>(head.size());
    for (int32_t n = 0; lAnnounced < 0 ? n < kMaxVariableHeaders : n < lAnnounced; ++n) {
        if (llOffset + static_cast<int64_t>(kTextBytes) > llSize || !reader.read(llOffset, card.data(), kTextBytes)) {
            warnings.push_back("the binary header announces " + std::to_string(lAnnounced) +
                               " extended textual headers; the file holds " + std::to_string(extended.size()));
            break;
        }
        extended.push_back(textCards(card.data(), looksEbcdic(card.data())));
        llOffset += static_cast<int64_t>(kTextBytes);
        if (lAnnounced < 0) {
            bool bEnd = false;
            for (const std::string& sCard : extended.back()) bEnd = bEnd || sCard.find("((SEG: EndText))") != std::string::npos;
            if (bEnd) break;
        }
    }
    if (!reader.close()) return failLibrary("segy: " + sPath);

    // Traces: a 240-byte header and the samples, all alike in a file of fixed-length traces.
    const int nSamples = binary.u16(kSamplesPerTrace);
    const int nFormat = binary.i16(kFormat);
    const SampleFormat* pFormat = findFormat(nFormat);
    int64_t llTraceBytes = 0, llTraces = 0, llOver = 0;
    if (pFormat == nullptr) {
        warnings.push_back("unknown data sample format code " + std::to_string(nFormat) + ": traces not counted");
    } else if (nSamples == 0) {
        warnings.push_back("0 samples per trace in the binary header: traces not counted");
    } else {
        llTraceBytes = static_cast<int64_t>(kTraceHeaderBytes) + int64_t{nSamples} * pFormat->nBytes;
        const int64_t llData = std::max<int64_t>(llSize - llOffset, 0);
        llTraces = llData / llTraceBytes;
        llOver = llData % llTraceBytes;
        if (llOver != 0)
            warnings.push_back("the file size is not a whole number of traces: " + std::to_string(llOver) +
                               " bytes after the last whole trace");
    }

    const int nSystem = binary.i16(kMeasurementSystem);
    const uint16_t nRevision = binary.u16(kRevision);
    const std::string sRevision = std::to_string(nRevision >> 8) + "." + std::to_string(nRevision & 0xFF);
    const std::vector<Field> fields = {
        text("file", sPath),
        number("size", llSize),
        text("byte_order", bLittle ? "little-endian" : "big-endian"),
        text("text_encoding", bEbcdic ? "EBCDIC" : "ASCII"),
        number("job_id", binary.i32(kJob)),
        number("line_number", binary.i32(kLine)),
        number("reel_number", binary.i32(kReel)),
        number("traces_per_ensemble", binary.i16(kTracesPerEnsemble)),
        number("auxiliary_traces_per_ensemble", binary.i16(kAuxTracesPerEnsemble)),
        number("sample_interval_us", binary.u16(kSampleInterval)),
        number("samples_per_trace", nSamples),
        number("format_code", nFormat),
        text("format", pFormat != nullptr ? pFormat->szName : "unknown"),
        text("measurement_system", nSystem == 1 ? "meters" : nSystem == 2 ? "feet" : "unknown"),
        text("revision", sRevision),
        boolean("fixed_length_traces", binary.i16(kFixedLength) == 1),
        number("extended_headers", lAnnounced),
        number("trace_bytes", llTraceBytes),
        number("traces", llTraces),
        boolean("whole_traces", pFormat != nullptr && nSamples != 0 && llOver == 0),
    };

    std::string s;
    if (options.bJson) {
        s = "{\n";
        for (const Field& f : fields) {
            s += "  ";
            s += jsonString(f.sKey);
            s += ": ";
            s += f.sJson;
            s += ",\n";
        }
        s += "  \"textual_header\": ";
        s += cardsField("", cards).sJson;
        s += ",\n  \"extended_textual_headers\": [";
        for (std::size_t i = 0; i < extended.size(); ++i) {
            s += i > 0 ? ",\n    " : "\n    ";
            s += cardsField("", extended[i]).sJson;
        }
        s += extended.empty() ? "],\n" : "\n  ],\n";
        s += "  \"warnings\": [";
        for (std::size_t i = 0; i < warnings.size(); ++i) {
            if (i > 0) s += ", ";
            s += jsonString(warnings[i]);
        }
        s += "]\n}\n";
    } else {
        // Sections: the file, its textual headers, the binary header, the traces.
        const auto section = [&](const char* szTitle, std::size_t nFrom, std::size_t nTo) {
            s += szTitle;
            for (std::size_t i = nFrom; i < nTo; ++i) {
                char szLine[160];
                std::snprintf(szLine, sizeof szLine, "  %-30s %s\n", fields[i].sKey.c_str(), fields[i].sText.c_str());
                s += szLine;
            }
        };
        section("File:\n", 0, 4);
        s += bEbcdic ? "Textual header (EBCDIC):\n" : "Textual header (ASCII):\n";
        s += cardsField("", cards).sText;
        for (std::size_t i = 0; i < extended.size(); ++i) {
            s += "Extended textual header ";
            s += std::to_string(i + 1);
            s += ":\n";
            s += cardsField("", extended[i]).sText;
        }
        section(bLittle ? "Binary header (little-endian):\n" : "Binary header (big-endian):\n", 4, 17);
        section("Traces:\n", 17, fields.size());
    }
    writeOut(s);
    for (const std::string& sWarning : warnings) fail(kExitOk, sWhat + sWarning);
    return kExitOk;
}

}  // namespace qrtool
