// File-object tests: a fixture with a private folder for temporary files, a recording notice
// handler, a clean error state and disarmed faults, and small helpers over the file system.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/notices.h"
#include "support/scratch.h"

namespace filetest {

class FileTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Names of the entries in the temporary folder (the scratch folder while the test runs).
    std::vector<std::string> tempEntries() const;
    // The temporary folder with its trailing '/'.
    std::string tempFolder() const { return scratch.path() + "/"; }
    // Questions shown so far.
    std::size_t questionCount() const;

    qrtest::ScratchDir scratch;
    qrtest::RecordingNotices notices{true};

private:
    std::string m_sOldTmpDir;
    bool m_bHadTmpDir = false;
};

// Size of the file at sPath from the file system; -1 when it does not exist.
int64_t diskSize(const std::string& sPath);
// Descriptors the process holds open right now.
int openDescriptors();
// The last path component.
std::string baseName(const std::string& sPath);
// Deterministic pseudo-random bytes.
std::vector<unsigned char> patternBytes(std::size_t nCount, uint32_t nSeed);

}  // namespace filetest
