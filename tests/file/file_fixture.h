// File-object tests: a fixture with a private folder for temporary files, a recording notice
// handler, a clean error state and disarmed faults, and small helpers over the file system.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/backend.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace filetest {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Names of the entries in the temporary folder (the scratch folder while the test runs).
    std::vector<std::string> tempEntries() const;
    // The temporary folder with its trailing separator.
    std::string tempFolder() const {
        return scratch.path() + static_cast<char>(std::filesystem::path::preferred_separator);
    }
    // Makes sFolder the temporary folder until the test ends.
    void setTempFolder(const std::string& sFolder) { m_pTempFolder->set(sFolder); }
    // Questions shown so far.
    std::size_t questionCount() const;

    qrtest::ScratchDir scratch;
    qrtest::RecordingNotices notices{true};

private:
    std::unique_ptr<qrtest::TempFolderOverride> m_pTempFolder;
};

// Size of the file at sPath from the file system; -1 when it does not exist.
int64_t diskSize(const std::string& sPath);
// Handles (descriptors) the process holds open right now.
inline int openDescriptors() { return qrtest::openHandles(); }
// The whole file behind the open handle hFile, read through that handle (the file pointer is put
// back afterwards): the objects share their files with nobody, so on Windows no other open may
// read them while they hold them.
std::vector<unsigned char> readThrough(void* hFile);
// The last path component.
std::string baseName(const std::string& sPath);
// Deterministic pseudo-random bytes.
std::vector<unsigned char> patternBytes(std::size_t nCount, uint32_t nSeed);

}  // namespace filetest
