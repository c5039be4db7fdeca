// Test support: scratch folders and file helpers.
#include "support/scratch.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace qrtest {

ScratchDir::ScratchDir(const std::string& sBase) {
    // A new folder of our own: create_directory says whether this call made it, so a name that
    // another test (or process) took meanwhile is passed over.
    static std::mt19937 s_engine{std::random_device{}()};
    const std::filesystem::path base = sBase.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(sBase);
    for (int nTry = 0; nTry < 100; ++nTry) {
        char szName[32];
        std::snprintf(szName, sizeof szName, "qrtest-%08x", static_cast<unsigned>(s_engine()));
        const std::filesystem::path folder = base / szName;
        if (std::filesystem::create_directory(folder)) {
            m_sPath = folder.string();
            return;
        }
    }
    throw std::runtime_error("no scratch folder could be made");
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_sPath, ec);
}

std::string ScratchDir::file(const std::string& sName) const {
    return m_sPath + static_cast<char>(std::filesystem::path::preferred_separator) + sName;
}

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
