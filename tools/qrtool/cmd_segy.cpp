// qrtool: the segy command: the headers of a SEG-Y file (textual, extended textual, binary) and
// its trace count.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "per_file.h"
#include "ebcdic_text.h"
#include "segy_layout.h"

namespace qrtool {

namespace {

using segy::Bytes;
using segy::kBinaryBytes;
using segy::kTextBytes;
using segy::kTraceHeaderBytes;
using segy::Layout;

constexpr int32_t kMaxVariableHeaders = 1000;  // extended headers read when their count is open

// A textual header as text, with the code page it was read through.
struct TextHeader {
    std::vector<std::string> cards;  // 40 cards of 80 characters, UTF-8
    std::string sEncoding;           // "EBCDIC" or "ASCII"
    std::string sCodepage;           // "037", "1047", "table", or "" for ASCII
    std::string sLabel;              // "EBCDIC, code page 037", "ASCII"
};

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

// The 40 cards: EBCDIC through the chosen code page (or the one the text's brackets suggest),
// ASCII as it is with bytes above 0x9F read as Latin-1; control bytes are blanks either way.
TextHeader textHeader(const unsigned char* p, const Codepage* pChosen) {
    TextHeader header;
    if (looksEbcdic(p)) {
        const Codepage& codepage = pChosen != nullptr ? *pChosen : guessCodepage(p, kTextBytes);
        header.sEncoding = "EBCDIC";
        header.sCodepage = codepage.szName;
        header.sLabel = codepage.szLabel;
        for (std::size_t nCard = 0; nCard < kTextBytes / 80; ++nCard) header.cards.push_back(decodeText(codepage, p + nCard * 80, 80));
        return header;
    }
    header.sEncoding = header.sLabel = "ASCII";
    for (std::size_t nCard = 0; nCard < kTextBytes / 80; ++nCard) {
        std::string sCard;
        for (std::size_t i = 0; i < 80; ++i) {
            const unsigned char c = p[nCard * 80 + i];
            if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
                sCard += ' ';
            } else if (c < 0x80) {
                sCard += static_cast<char>(c);
            } else {
                sCard += static_cast<char>(0xC0 | c >> 6);
                sCard += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        header.cards.push_back(sCard);
    }
    return header;
}

// Offsets in the binary header (file byte 3201 is offset 0).
enum : std::size_t {
    kJob = 0, kLine = 4, kReel = 8, kTracesPerEnsemble = 12, kAuxTracesPerEnsemble = 14, kSampleInterval = 16,
    kSamplesPerTrace = 20, kFormat = 24, kMeasurementSystem = 54, kByteOrderConstant = 96, kRevision = 300,
    kFixedLength = 302, kExtendedHeaders = 304, kFirstTraceOffset = 320,
};

// The byte order: the constant 16909060 (bytes 01 02 03 04) of newer revisions says it; without
// it, the order in which the sample format code is a known one.
bool littleEndian(const unsigned char* pBinary) {
    const Bytes big{pBinary, false};
    if (big.unsignedAt(kByteOrderConstant, 4) == 0x01020304u) return false;
    if (big.unsignedAt(kByteOrderConstant, 4) == 0x04030201u) return true;
    const Bytes little{pBinary, true};
    return segy::findFormat(big.i16(kFormat)) == nullptr && segy::findFormat(little.i16(kFormat)) != nullptr;
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

// Every field of the binary header (--all), each with its byte position; a '*' marks those that
// are not zero.
void appendAllBinaryFields(const Options& options, const Bytes& binary, std::string& s) {
    if (options.bJson) s += "  \"binary_header\": [";
    else s += "Binary header, every field (* not zero):\n  byte  size  name                                           value  description\n";
    bool bFirst = true;
    for (const segy::HeaderField& field : segy::binaryFields()) {
        const double dValue = binary.value(field, 3201);
        const std::string sValue = segy::numberText(dValue);
        char szLine[256];
        if (options.bJson) {
            std::snprintf(szLine, sizeof szLine, "%s\n    {\"byte\": %d, \"size\": %d, \"name\": \"%s\", \"value\": %s, \"nonzero\": %s, ",
                          bFirst ? "" : ",", field.nByte, field.nSize, field.szName, sValue.c_str(), dValue != 0 ? "true" : "false");
            s += szLine;
            s += "\"description\": " + jsonString(field.szDescription) + "}";
        } else {
            std::snprintf(szLine, sizeof szLine, "%c %4d  %4d  %-34s %15s  %s\n", dValue != 0 ? '*' : ' ', field.nByte,
                          field.nSize, field.szName, sValue.c_str(), field.szDescription);
            s += szLine;
        }
        bFirst = false;
    }
    if (options.bJson) s += "\n  ],\n";
}

int segyOne(const Options& options, const Codepage* pCodepage, const std::string& sPath) {
    const std::string sWhat = "segy: " + sPath + ": ";
    if (!regularOrMissing("segy", sPath, "its traces are counted from its size")) return kExitFailed;
    segy::Reader reader;
    if (!reader.open(sPath)) return failLibrary("segy: " + sPath);
    std::error_code ec;
    const auto llSize = static_cast<int64_t>(std::filesystem::file_size(sPath, ec));
    if (ec) return fail(kExitFailed, sWhat + ec.message());
    std::vector<unsigned char> head(kTextBytes + kBinaryBytes);
    if (llSize < static_cast<int64_t>(head.size()))
        return fail(kExitFailed, sWhat + std::to_string(llSize) + " bytes: too short for the 3600 bytes of SEG-Y headers");
    if (!reader.read(0, head.data(), head.size())) return failLibrary("segy: " + sPath);

    std::vector<std::string> warnings;
    const TextHeader text0 = textHeader(head.data(), pCodepage);
    const bool bLittle = littleEndian(head.data() + kTextBytes);
    const Bytes binary{head.data() + kTextBytes, bLittle};

    // Extended textual headers: a count, or -1 for as many as end with "((SEG: EndText))".
    const int32_t lAnnounced = binary.i16(kExtendedHeaders);
    std::vector<TextHeader> extended;
    std::vector<unsigned char> card(kTextBytes);
    int64_t llOffset = static_cast<int64_t>(head.size());
    for (int32_t n = 0; lAnnounced < 0 ? n < kMaxVariableHeaders : n < lAnnounced; ++n) {
        if (llOffset + static_cast<int64_t>(kTextBytes) > llSize || !reader.read(llOffset, card.data(), kTextBytes)) {
            warnings.push_back("the binary header announces " + std::to_string(lAnnounced) +
                               " extended textual headers; the file holds " + std::to_string(extended.size()));
            break;
        }
        extended.push_back(textHeader(card.data(), pCodepage));
        llOffset += static_cast<int64_t>(kTextBytes);
        if (lAnnounced < 0) {
            bool bEnd = false;
            for (const std::string& sCard : extended.back().cards) bEnd = bEnd || sCard.find("((SEG: EndText))") != std::string::npos;
            if (bEnd) break;
        }
    }

    // Traces: a 240-byte header and the samples. Revision 1 and later say whether all traces
    // are alike; a file that says they vary is walked trace by trace.
    Layout layout;
    layout.sPath = sPath;
    layout.llSize = llSize;
    layout.bLittle = bLittle;
    layout.nSamples = binary.u16(kSamplesPerTrace);
    const int nFormat = binary.i16(kFormat);
    layout.pFormat = segy::findFormat(nFormat);
    const uint16_t nRevision = binary.u16(kRevision);
    layout.bVariable = nRevision >= 0x0100 && binary.i16(kFixedLength) == 0 && layout.pFormat != nullptr;
    layout.llFirstTrace = llOffset;
    const uint64_t llStated = binary.unsignedAt(kFirstTraceOffset, 8);
    if (nRevision >= 0x0200 && llStated != 0) {
        if (llStated >= head.size() && llStated <= static_cast<uint64_t>(llSize)) layout.llFirstTrace = static_cast<int64_t>(llStated);
        else warnings.push_back("the first trace's offset " + std::to_string(llStated) + " lies outside the file: ignored");
    }
    int64_t llOver = 0;
    if (layout.pFormat == nullptr) {
        warnings.push_back("unknown data sample format code " + std::to_string(nFormat) + ": traces not counted");
    } else if (layout.bVariable) {
        // Counted in the listing's walk; the header display does not walk the whole file.
    } else if (layout.nSamples == 0) {
        warnings.push_back("0 samples per trace in the binary header: traces not counted");
    } else {
        layout.llTraceBytes = static_cast<int64_t>(kTraceHeaderBytes) + int64_t{layout.nSamples} * layout.pFormat->nBytes;
        const int64_t llData = std::max<int64_t>(llSize - layout.llFirstTrace, 0);
        layout.llTraces = llData / layout.llTraceBytes;
        llOver = llData % layout.llTraceBytes;
        if (llOver != 0)
            warnings.push_back("the file size is not a whole number of traces: " + std::to_string(llOver) +
                               " bytes after the last whole trace");
    }
    if (!options.sTraces.empty() || options.bTraceSummary) {
        const int nStatus = segy::listTraces(options, reader, layout);
        if (!reader.close() && nStatus == kExitOk) return failLibrary("segy: " + sPath);
        return nStatus;
    }
    if (!reader.close()) return failLibrary("segy: " + sPath);

    const int nSystem = binary.i16(kMeasurementSystem);
    const std::string sRevision = std::to_string(nRevision >> 8) + "." + std::to_string(nRevision & 0xFF);
    const std::vector<Field> fields = {
        text("file", sPath),
        number("size", llSize),
        text("byte_order", bLittle ? "little-endian" : "big-endian"),
        text("text_encoding", text0.sEncoding),
        text("text_codepage", text0.sCodepage),
        number("job_id", binary.i32(kJob)),
        number("line_number", binary.i32(kLine)),
        number("reel_number", binary.i32(kReel)),
        number("traces_per_ensemble", binary.i16(kTracesPerEnsemble)),
        number("auxiliary_traces_per_ensemble", binary.i16(kAuxTracesPerEnsemble)),
        number("sample_interval_us", binary.u16(kSampleInterval)),
        number("samples_per_trace", layout.nSamples),
        number("format_code", nFormat),
        text("format", layout.pFormat != nullptr ? layout.pFormat->szName : "unknown"),
        text("measurement_system", nSystem == 1 ? "meters" : nSystem == 2 ? "feet" : "unknown"),
        text("revision", sRevision),
        boolean("fixed_length_traces", binary.i16(kFixedLength) == 1),
        number("extended_headers", lAnnounced),
        text("trace_length", layout.bVariable ? "variable (see --traces)" : "fixed"),
        number("trace_bytes", layout.llTraceBytes),
        number("traces", layout.llTraces),
        boolean("whole_traces", !layout.bVariable && layout.llTraceBytes != 0 && llOver == 0),
    };
    constexpr std::size_t kFileFields = 5, kBinaryEnd = 18;

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
        if (options.bAll) appendAllBinaryFields(options, binary, s);
        s += "  \"textual_header\": ";
        s += cardsField("", text0.cards).sJson;
        s += ",\n  \"extended_textual_headers\": [";
        for (std::size_t i = 0; i < extended.size(); ++i) {
            s += i > 0 ? ",\n    " : "\n    ";
            s += cardsField("", extended[i].cards).sJson;
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
        section("File:\n", 0, kFileFields);
        s += "Textual header (" + text0.sLabel + "):\n";
        s += cardsField("", text0.cards).sText;
        for (std::size_t i = 0; i < extended.size(); ++i)
            s += "Extended textual header " + std::to_string(i + 1) + " (" + extended[i].sLabel + "):\n" +
                 cardsField("", extended[i].cards).sText;
        if (options.bAll) appendAllBinaryFields(options, binary, s);
        else section(bLittle ? "Binary header (little-endian):\n" : "Binary header (big-endian):\n", kFileFields, kBinaryEnd);
        section("Traces:\n", kBinaryEnd, fields.size());
    }
    writeOut(s);
    for (const std::string& sWarning : warnings) note("qrtool: " + sWhat + sWarning);
    return kExitOk;
}

}  // namespace

int runSegy(const Options& options, const Args& args) {
    if (options.sFields == "list") return segy::printTraceFieldList(options);
    if (args.empty()) return fail(kExitUsage, "segy: expected one or more files (see qrtool segy --help)");
    const Codepage* pCodepage = nullptr;
    if (!findCodepage(options.sCodepage, pCodepage))
        return fail(kExitUsage, "segy: --codepage '" + options.sCodepage + "' is not one of 037, 1047, table");
    std::vector<const segy::HeaderField*> fields;
    if (!segy::chooseTraceFields(options.sFields, fields)) return kExitUsage;
    return forEachFile(options, args, [&](const std::string& sPath) { return segyOne(options, pCodepage, sPath); });
}

}  // namespace qrtool
