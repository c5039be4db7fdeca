// Test support for the file-function suites: error notices recorded instead of shown, a clean
// error state and a scratch folder for every test.
#pragma once

#include <gtest/gtest.h>

#include "qrcore/error.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace fileapitest {

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShowErrorWin();
        ReportError(0);
    }
    qrtest::ScratchDir dir;
    qrtest::RecordingNotices notices{false};
};

}  // namespace fileapitest
