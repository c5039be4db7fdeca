// Test support: a scratch folder removed with everything in it when the test ends, and small
// file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrtest {

class ScratchDir {
public:
    // In the system's temporary folder, or in sBase when it is given.
    explicit ScratchDir(const std::string& sBase = {});
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_sPath; }
    // path(), the system's separator ("/", on Windows "\\"), sName
    std::string file(const std::string& sName) const;

private:
    std::string m_sPath;
};

// A folder on a memory file system (flushes cost nothing there), for tests that flush thousands
// of times; "" when there is none (ScratchDir then uses the temporary folder).
std::string memoryFolder();

std::vector<unsigned char> readFileBytes(const std::string& sPath);
void writeFileBytes(const std::string& sPath, const std::vector<unsigned char>& bytes);
void writeFileText(const std::string& sPath, const std::string& sText);
bool fileExists(const std::string& sPath);
// The system's text for errno-style code nCode, for readable assertion messages.
std::string errnoText(int nCode);

}  // namespace qrtest
