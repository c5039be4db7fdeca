// Test support for the named-object suites: a fixture with a scratch folder, the peer program,
// and a working folder changed for a while.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "mapfile_support.h"
#include "support/child.h"
#include "support/scratch.h"

namespace mftest {

inline int64_t fileSize(const std::string& sPath) {
    std::error_code error;
    const auto nSize = std::filesystem::file_size(sPath, error);
    return error ? -1 : static_cast<int64_t>(nSize);
}

// Changes the working folder for its lifetime.
class InFolder {
public:
    explicit InFolder(const std::string& sFolder) {
        std::error_code error;
        m_old = std::filesystem::current_path(error);
        std::filesystem::current_path(sFolder, error);
        EXPECT_FALSE(error) << error.message();
    }
    ~InFolder() {
        std::error_code error;
        if (!m_old.empty()) std::filesystem::current_path(m_old, error);
        EXPECT_FALSE(error) << error.message();
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::filesystem::path m_old;
};

class NamedObjects : public MapFileTest {
protected:
    static std::string peer() { return qrtest::helperProgram("mapfile_peer"); }
    std::string folder(const std::string& sName) {
        const std::string sPath = dir.file(sName);
        std::error_code error;
        std::filesystem::create_directory(sPath, error);
        return sPath;
    }
    // What the peer prints for a refusal with error 1000000 and the text of nCode.
    static std::string refusal(uint32_t nCode) { return "failed 1000000 " + systemText(nCode) + "\n"; }
    qrtest::ScratchDir dir;
};

}  // namespace mftest
