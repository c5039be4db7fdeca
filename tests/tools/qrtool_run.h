// qrtool end to end: running the tool as a process and the small file helpers its tests share.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/scratch.h"

namespace qrtest {

// The tool's program. Windows builds put every program in one folder, so it is found beside the
// running test; elsewhere CMake names its place.
inline std::string toolPath() {
#if defined(QRTOOL_PATH)
    return QRTOOL_PATH;
#else
    return helperProgram("qrtool");
#endif
}

inline ChildResult tool(const std::vector<std::string>& args, const std::string& sStdin = {}) {
    return runChild(toolPath(), args, sStdin);
}

// n bytes "0123456789012...": every shift of a range shows in a byte-exact comparison.
inline std::vector<unsigned char> digits(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>('0' + i % 10);
    return bytes;
}

inline std::string readText(const std::string& sPath) {
    const std::vector<unsigned char> bytes = readFileBytes(sPath);
    return std::string(bytes.begin(), bytes.end());
}

// Names of the tool's temporary files left in a folder (there should be none).
inline std::vector<std::string> leftovers(const std::string& sDir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(sDir)) {
        const std::string sName = entry.path().filename().string();
        if (sName.rfind(".qrtool-", 0) == 0) names.push_back(sName);
    }
    return names;
}

}  // namespace qrtest
