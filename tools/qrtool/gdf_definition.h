// qrtool: ASEG-GDF2 data definitions (.dfn): the fields of a .dat file's fixed-width records,
// their formats, units and null values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qrtool {

// One field of a record: NAME:FORMAT with its attributes. An array (30F10.3) is nCount fields
// of one format side by side.
struct GdfField {
    std::string sName;
    std::string sFormat;  // as written, upper-cased: "F10.3", "I10", "A4", "30F10.3"
    char cType = 'F';     // A, I, F, E or D
    std::size_t nCount = 1;
    std::size_t nWidth = 0;     // bytes per element
    std::size_t nDecimals = 0;
    std::string sUnits;
    std::optional<double> null;  // NULL=
    std::string sNullText;
    std::string sDescription;  // NAME=
};

// The data records a definition describes. sRecordType is the data records' type (RT=): empty
// when records carry none, else the four characters each data record starts with (and which
// are then its first field). Comment records (RT=COMM) start with COMM.
struct GdfDefinition {
    std::vector<GdfField> fields;
    std::string sRecordType;
    bool bCommentRecords = false;
    std::size_t recordWidth() const;
};

// Columns a definition may have (array elements counted): what a scan keeps per survey line
// stays bounded.
inline constexpr std::size_t kMaxGdfColumns = 65536;

// Reads a definition's text. False with sError naming the line when a DEFN line cannot be read
// (no field name, a format that is not [n]A|I|F|E|D w[.d]), when no field is defined, or when
// the records would be wider than nMaxWidth bytes or have more than kMaxGdfColumns columns.
// Lines other than DEFN lines are ignored; reading stops at END DEFN.
bool parseGdfDefinition(const std::string& sText, GdfDefinition& definition, std::string& sError,
                        std::size_t nMaxWidth = std::size_t{1} << 20);

}  // namespace qrtool
