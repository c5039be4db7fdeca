// Loading the error list in a real process: a program linked against the shared library, laid
// out like an installation (program in bin/, the library in lib/ or, on Windows, beside the
// program, data in share/qrcore/), with lists placed in some of the folders the library
// searches. A missing or broken list must end
// the process with status 1 after the notice, before main.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sys_files.h"

#include "support/backend.h"
#include "support/child.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kGood = "QRError\t1\n1000003\nE_MODE\nbad-mode\n";
const std::string kOpenNotice = qrtest::systemText("Quarrion错误信息: 打开QuarrionError.inf文件错误!") + "\n";
const std::string kFormatNotice = qrtest::systemText("Quarrion错误信息: QuarrionError.inf格式错误!") + "\n";

// An installed tree in a scratch folder: bin/probe finds its library in lib/ through its run
// path, or, where libraries lie beside their programs, in bin/ itself.
class InstalledProbe {
public:
    InstalledProbe() {
        fs::create_directories(binDir());
        fs::create_directories(libDir());
        m_sProgram = qrtest::copyProgram(LOAD_PROBE_PATH, binDir().string(), "probe");
        if (!fs::exists(libDir() / fs::path(LOAD_LIBRARY_PATH).filename()))
            fs::copy_file(LOAD_LIBRARY_PATH, libDir() / fs::path(LOAD_LIBRARY_PATH).filename());
    }
    fs::path binDir() const { return fs::path(m_dir.path()) / "a/b/bin"; }
    fs::path libDir() const {
        return qrtest::backend().bLibraryBesideProgram ? binDir() : fs::path(m_dir.path()) / "a/b/lib";
    }
    fs::path dataDir() const { return (libDir() / QRCORE_DATA_FROM_LIBRARY).lexically_normal(); }
    const std::string& program() const { return m_sProgram; }
    // Puts szText as the list in dir (nothing for a null text).
    static void placeList(const fs::path& dir, const char* szText) {
        if (szText == nullptr) return;
        fs::create_directories(dir);
        qrtest::writeFileText((dir / "QuarrionError.inf").string(), szText);
    }
    const qrtest::ScratchDir& scratch() const { return m_dir; }

private:
    qrtest::ScratchDir m_dir;
    std::string m_sProgram;
};

void expectRan(const qrtest::ChildResult& result) {
    ASSERT_TRUE(result.bExited) << result.sStderr;
    EXPECT_EQ(result.nStatus, 3);
    EXPECT_EQ(result.sStdout, "main ran\nerror 1000003\n");
    EXPECT_EQ(result.sStderr, "");
}

// The notice as the system's own text, then, on standard error, the folders searched in order
// (the program's first, the installed data folder last) and what to do.
void expectStopped(const qrtest::ChildResult& result, const std::string& sNotice) {
    ASSERT_TRUE(result.bExited) << result.sStderr;
    EXPECT_EQ(result.nStatus, 1);
    EXPECT_EQ(result.sStdout, "");
    ASSERT_EQ(result.sStderr.substr(0, sNotice.size()), sNotice) << result.sStderr;
    std::istringstream guidance(result.sStderr.substr(sNotice.size()));
    std::vector<std::string> places;
    std::string sLine, sAdvice;
    while (std::getline(guidance, sLine)) {
        if (sLine.rfind("  ", 0) == 0)
            places.push_back(sLine);
        else
            sAdvice += sLine + "\n";
    }
    ASSERT_GE(places.size(), 2u) << result.sStderr;
    EXPECT_NE(places.front().find(std::string("bin") + qr::sys::kPathSeparator + "QuarrionError.inf:"), std::string::npos)
        << result.sStderr;
    EXPECT_NE(places.back().find(std::string("qrcore") + qr::sys::kPathSeparator + "QuarrionError.inf:"), std::string::npos)
        << result.sStderr;
    EXPECT_NE(sAdvice.find(&sNotice == &kOpenNotice ? "qrcore_copy_error_list" : "replace it"), std::string::npos)
        << result.sStderr;
}

TEST(ErrorListLoad, BrokenListsEndTheProcessWithFailureBeforeMain) {
    struct Case {
        const char* szName;
        const char* szListText;  // in the executable's folder; null: no file at all
        const std::string* pNotice;  // null: loads fine
    };
    const Case cases[] = {
        {"missing file", nullptr, &kOpenNotice},
        {"keyword in other case", "qrerror 1\n1000003 E_MODE bad-mode\n", &kFormatNotice},
        {"first word longer than 7 bytes", "QRErrors 1\n1000003 E_MODE bad-mode\n", &kFormatNotice},
        {"empty file", "", &kFormatNotice},
        {"keyword glued to text", "QRError1 1000003 E_MODE bad-mode", &kFormatNotice},
        {"more entries announced than a list may hold", "QRError 2147483647\n1000003 E_MODE bad-mode\n", &kFormatNotice},
        {"well formed", kGood, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szName);
        InstalledProbe probe;
        InstalledProbe::placeList(probe.binDir(), c.szListText);
        const qrtest::ChildResult result = qrtest::runChild(probe.program(), {});
        if (c.pNotice != nullptr) {
            expectStopped(result, *c.pNotice);
        } else {
            expectRan(result);
        }
    }
}

// The search order: executable's folder, then the library's folder, then the installed data
// folder; the first list that opens wins, even when it is broken.
TEST(ErrorListLoad, FirstListFoundInSearchOrderWins) {
    struct Case {
        const char* szName;
        const char* szExe;
        const char* szLib;
        const char* szData;
        const std::string* pNotice;  // null: loads fine
    };
    const Case cases[] = {
        {"installed data folder only", nullptr, nullptr, kGood, nullptr},
        {"library folder before data folder", nullptr, kGood, "", nullptr},
        {"broken library list is not skipped", nullptr, "", kGood, &kFormatNotice},
        {"executable folder before library folder", kGood, "", "", nullptr},
        {"broken executable list wins", "", kGood, kGood, &kFormatNotice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.szName);
        // Where the library lies beside the program the two folders are one.
        if (qrtest::backend().bLibraryBesideProgram && c.szExe != nullptr && c.szLib != nullptr) continue;
        InstalledProbe probe;
        InstalledProbe::placeList(probe.binDir(), c.szExe);
        InstalledProbe::placeList(probe.libDir(), c.szLib);
        InstalledProbe::placeList(probe.dataDir(), c.szData);
        const qrtest::ChildResult result = qrtest::runChild(probe.program(), {});
        if (c.pNotice != nullptr) {
            expectStopped(result, *c.pNotice);
        } else {
            expectRan(result);
        }
    }
}

TEST(ErrorListLoad, ListIsNotReadFromTheWorkingFolder) {
    InstalledProbe probe;
    // A good list in the parent folders only: none of the searched folders has one.
    InstalledProbe::placeList(probe.scratch().path(), kGood);
    InstalledProbe::placeList(fs::path(probe.scratch().path()) / "a/b", kGood);
    expectStopped(qrtest::runChild(probe.program(), {}), kOpenNotice);
}

}  // namespace
