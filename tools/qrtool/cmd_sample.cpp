// qrtool: a small, realistic sample survey data set, written through the library.
#include <cmath>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "qrcore/convert.h"
#include "qrcore/error.h"
#include "qrcore/fileapi.h"
#include "qrcore/survey.h"

namespace qrtool {

namespace {

// Creates sPath through the library (which asks before replacing an existing file) and writes
// the bytes. On failure the library's message is printed and false returned.
bool writeThroughLibrary(const std::string& sPath, const void* pData, std::size_t nBytes) {
    void* hFile = nullptr;
    ReportError(0);
    if (!QR_NewFile(&hFile, sPath.c_str(), 3)) {
        failLibrary("sample: " + sPath);
        return false;
    }
    const auto* p = static_cast<const unsigned char*>(pData);
    bool bOk = true;
    while (nBytes > 0 && bOk) {
        const uint32_t nChunk = static_cast<uint32_t>(std::min<std::size_t>(nBytes, 1 << 20));
        bOk = QR_Write(hFile, p, nChunk) == nChunk;
        p += nChunk;
        nBytes -= nChunk;
    }
    if (!bOk) failLibrary("sample: " + sPath);
    ReportError(0);
    if (!QR_CloseFile(hFile) && bOk) {  // a close can be the first to report lost data
        failLibrary("sample: " + sPath);
        return false;
    }
    return bOk;
}

struct SampleLine {
    const char* szKeyword;
    const char* szName;
    const char* szFlight;
    int nRecords;
    double dHeading;  // degrees from north
};

// Lines flown east-west, tie lines north-south, over three flights.
const SampleLine kLines[] = {
    {"LINE", "AL0010", "AN01", 12, 90}, {"LINE", "AL0020", "AN01", 14, 270}, {"LINE", "AL0030", "AN02", 11, 90},
    {"TIE", "AT0900", "AN02", 9, 0},    {"LINE", "AL0040", "AN03", 13, 270}, {"TIE", "AT0910", "AN03", 8, 180},
};

struct BinaryRecord {  // 40 bytes, little-endian as written on this machine
    int64_t llLine;
    int32_t lFiducial;
    int32_t lFlight;
    double dX;
    double dY;
    double dMagnetic;
};
static_assert(sizeof(BinaryRecord) == 40);

}  // namespace

int runSample(const Options&, const Args& args) {
    if (args.size() != 1) return fail(kExitUsage, "sample: expected one folder (see qrtool sample --help)");
    const std::string sDir = args[0];
    std::error_code ec;
    std::filesystem::create_directories(sDir, ec);
    if (ec) return fail(kExitFailed, "sample: " + sDir + ": " + ec.message());

    std::string sXyz =
        "/ QRCore sample survey: aeromagnetic, 100 m line spacing, 500 m tie spacing\n"
        "/\n"
        "/ X  Y  FIDUCIAL  FLIGHT  MAG_NT  ALT_M\n";
    std::vector<BinaryRecord> records;
    int32_t lFiducial = 1000;
    for (std::size_t nLine = 0; nLine < sizeof kLines / sizeof kLines[0]; ++nLine) {
        const SampleLine& line = kLines[nLine];
        std::vector<char> name(line.szName, line.szName + std::strlen(line.szName) + 1);
        int64_t llLine = 0;
        ToIntLineNo(name.data(), &llLine);
        std::vector<char> flight(line.szFlight, line.szFlight + std::strlen(line.szFlight) + 1);
        int32_t lFlight = 0;
        ToIntFlightNo(flight.data(), &lFlight);

        // The flight is named once, before its first line, and holds for the lines after it.
        if (nLine == 0 || std::strcmp(line.szFlight, kLines[nLine - 1].szFlight) != 0)
            sXyz += std::string("//Flight ") + line.szFlight + "\n";
        sXyz += std::string(line.szKeyword) + " " + line.szName + "\n";
        const double dRadians = DegreeToRadian(line.dHeading);
        const bool bTie = std::strcmp(line.szKeyword, "TIE") == 0;
        const double dStartX = bTie ? 432000.0 + 500.0 * static_cast<double>(nLine) : 431900.0;
        const double dStartY = bTie ? 6511900.0 : 6512000.0 + 100.0 * static_cast<double>(nLine);
        for (int i = 0; i < line.nRecords; ++i, ++lFiducial) {
            const double dX = dStartX + 25.0 * i * std::sin(dRadians);
            const double dY = dStartY + 25.0 * i * std::cos(dRadians);
            const double dMag = 51234.5 + 12.0 * std::sin(dX / 180.0) + 7.5 * std::cos(dY / 140.0);
            const double dAlt = 118.0 + 4.0 * std::sin(i / 3.0);
            char szRecord[160];
            std::snprintf(szRecord, sizeof szRecord, "%11.1f %11.1f %7d %5s %10.2f %6.1f\n", dX, dY, lFiducial,
                          line.szFlight, dMag, dAlt);
            sXyz += szRecord;
            records.push_back({llLine, lFiducial, lFlight, dX, dY, dMag});
        }
        sXyz += "\n";
    }

    // An 80-column text header of 40 cards, as stored in EBCDIC at the head of tape-format data.
    std::string sHeader;
    const char* cards[] = {"CLIENT  QRCORE SAMPLE SURVEY", "AREA    A  (area code 1)",
                           "LINES   AL0010-AL0040  TIES AT0900 AT0910", "FLIGHTS AN01 AN02 AN03",
                           "SENSOR  CESIUM VAPOUR MAGNETOMETER, 10 HZ", "DATUM   GDA94 / MGA ZONE 50",
                           "RECORD  40 BYTES: LINE(8) FID(4) FLIGHT(4) X(8) Y(8) MAG(8)"};
    for (int nCard = 0; nCard < 40; ++nCard) {
        char szCard[96];
        std::snprintf(szCard, sizeof szCard, "C%2d %-76s", nCard + 1,
                      nCard < static_cast<int>(sizeof cards / sizeof cards[0]) ? cards[nCard] : "");
        sHeader.append(szCard, 80);
    }
    std::vector<char> ebcdic(sHeader.begin(), sHeader.end());
    ebcdic.push_back('\0');
    AsciiToEbcdic(ebcdic.data());

    // Joined with the system's own separator.
    const auto inDir = [&](const char* szName) { return (std::filesystem::path(sDir) / szName).string(); };
    const std::string sXyzPath = inDir("survey.xyz"), sBinPath = inDir("records.bin"), sEbcPath = inDir("header.ebc");
    if (!writeThroughLibrary(sXyzPath, sXyz.data(), sXyz.size())) return kExitFailed;
    if (!writeThroughLibrary(sBinPath, records.data(), records.size() * sizeof(BinaryRecord))) return kExitFailed;
    if (!writeThroughLibrary(sEbcPath, ebcdic.data(), ebcdic.size() - 1)) return kExitFailed;
    printOut("%s\t%zu bytes\tXYZ text: %zu survey lines, %zu records\n", sXyzPath.c_str(), sXyz.size(),
                sizeof kLines / sizeof kLines[0], records.size());
    printOut("%s\t%zu bytes\t%zu binary records of %zu bytes\n", sBinPath.c_str(), records.size() * sizeof(BinaryRecord),
                records.size(), sizeof(BinaryRecord));
    printOut("%s\t%zu bytes\tEBCDIC text header, 40 cards of 80 columns\n", sEbcPath.c_str(), ebcdic.size() - 1);
    return kExitOk;
}

}  // namespace qrtool
