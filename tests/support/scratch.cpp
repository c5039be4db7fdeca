// Test support: scratch folders and file helpers.
#include "support/scratch.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>

namespace qrtest {

ScratchDir::ScratchDir(const std::string& sBase) {
    const std::filesystem::path base = sBase.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(sBase);
    std::string sTemplate = (base / "qrtest-XXXXXX").string();
    if (::mkdtemp(sTemplate.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_sPath = sTemplate;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_sPath, ec);
}

std::string ScratchDir::file(const std::string& sName) const { return m_sPath + "/" + sName; }

std::string memoryFolder() {
    std::error_code ec;
    return std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "";
}

std::vector<unsigned char> readFileBytes(const std::string& sPath) {
    std::ifstream in(sPath, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& sPath, const std::vector<unsigned char>& bytes) {
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void writeFileText(const std::string& sPath, const std::string& sText) {
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out << sText;
}

bool fileExists(const std::string& sPath) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(sPath, ec));
}

std::string errnoText(int nCode) { return std::strerror(nCode); }

}  // namespace qrtest
