// Edits killed at random moments: a second process runs an insertion, removal or move (small and
// large shifts, at the start, middle and end of the file, moves both ways with overlap) and is
// killed: from outside after a random delay, or by itself at a random progress report or at the
// Nth write or flush (right after the writes before a flush, before the flush), and sometimes
// its recovery is killed as well. After every kill, opening the file in this process recovers it
// to exactly the model's state before or after the edit, and no journal is left.
//
// The file and the number of kill points come from the environment, for a long run:
//   QRCORE_CRASH_KILLS  kill points (default 24)
//   QRCORE_CRASH_MIB    size of the file in MiB (default 4)
//   QRCORE_CRASH_SEED   seed of the random choices (default 1)
//   QRCORE_CRASH_WINDOW journal window in bytes (default 256 KiB for files below 64 MiB, else the
//                       library's own)
// A second test cuts the power instead of killing the process (see its comment).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "error/error_state.h"
#include "fileapi/edit_journal.h"
#include "platform/platform.h"
#include "qrcore/fileapi.h"
#include "space_model.h"
#include "support/child.h"
#include "support/notices.h"
#include "support/scratch.h"

namespace {

using fileapitest::Bytes;

constexpr int64_t kMiB = 0x100000;

int64_t fromEnvironment(const char* szName, int64_t llDefault) {
    const char* szValue = std::getenv(szName);
    return szValue != nullptr && *szValue != '\0' ? std::strtoll(szValue, nullptr, 0) : llDefault;
}

struct Edit {
    std::string sOp;            // the child's operation
    std::vector<int64_t> args;  // its numbers
    int64_t llShift = 0;
    int64_t llLength = 0;       // bytes moved
    std::string describe() const {
        std::string s = sOp;
        for (int64_t ll : args) s += " " + std::to_string(ll);
        return s;
    }
    Bytes after(const Bytes& before) const {
        Bytes bytes = before;
        if (sOp == "allocate") fileapitest::modelAllocate(bytes, args[0], args[1]);
        else if (sOp == "free") fileapitest::modelFree(bytes, args[0], args[1]);
        else fileapitest::modelMove(bytes, args[0], args[1], args[2]);
        return bytes;
    }
};

// An edit of a file of llSize bytes: kind, small or large shift, place.
Edit pickEdit(std::mt19937_64& engine, int64_t llSize, int64_t llWindow) {
    const auto below = [&](int64_t llLimit) {
        return llLimit <= 0 ? 0 : static_cast<int64_t>(engine() % static_cast<uint64_t>(llLimit));
    };
    const bool bSmall = engine() % 2 == 0;
    const int64_t llShift = bSmall ? 1 + below(200) : std::min(llSize / 4, llWindow / 2 + below(2 * llWindow));
    const int nPlace = static_cast<int>(engine() % 3);  // start, middle, end
    Edit edit;
    edit.llShift = llShift;
    switch (engine() % 4) {
    case 0: {
        const int64_t llPos = nPlace == 0 ? below(100) : nPlace == 1 ? llSize / 2 + below(1000) : llSize - 1 - below(5000);
        edit.sOp = "allocate";
        edit.args = {llPos, llShift};
        edit.llLength = llSize - llPos;
        break;
    }
    case 1: {
        const int64_t llRoom = llSize - llShift - 1;
        const int64_t llPos = nPlace == 0 ? below(100) : nPlace == 1 ? llRoom / 2 : std::max<int64_t>(0, llRoom - below(5000));
        edit.sOp = "free";
        edit.args = {llPos, llShift};
        edit.llLength = llSize - llPos - llShift;
        break;
    }
    default: {
        // A block of a third to a half of the file, moved by the shift either way (overlapping).
        const int64_t llLength = llSize / 3 + below(llSize / 6);
        const bool bForward = engine() % 2 == 0;
        const int64_t llLow = nPlace == 0 ? 0 : nPlace == 1 ? (llSize - llLength) / 2 : llSize - llLength - llShift;
        const int64_t llSrc = bForward ? llLow : llLow + llShift;
        const int64_t llDst = bForward ? llLow + llShift : llLow;
        edit.sOp = "move";
        edit.args = {llSrc, llDst, llLength};
        edit.llLength = llLength;
        break;
    }
    }
    return edit;
}

class SpaceCrash : public fileapitest::ApiTest {
protected:
    // Opens sPath, which recovers an interrupted edit, and checks that no journal is left and
    // that the file is exactly before or after the edit; *pbAfter says which.
    void expectRecovered(const std::string& sPath, const std::string& sJournal, const Bytes& before,
                         const Bytes& after, bool* pbAfter) {
        void* hFile = nullptr;
        ReportError(0);
        ASSERT_TRUE(QR_OpenFile(&hFile, sPath.c_str(), 1)) << "error " << GetDllErrorNo() << ": " << notices.lastText();
        QR_CloseFile(hFile);
        ASSERT_FALSE(qrtest::fileExists(sJournal)) << "a journal was left";
        const Bytes got = fileapitest::readAll(sPath);
        *pbAfter = got == after;
        ASSERT_TRUE(*pbAfter || got == before) << "the file is neither as before nor as after the edit (" << got.size()
                                               << " bytes; before " << before.size() << ", after " << after.size()
                                               << ")";
    }
};

TEST_F(SpaceCrash, KilledEditsRecoverToBeforeOrAfter) {
    const int64_t llKills = fromEnvironment("QRCORE_CRASH_KILLS", 24);
    const int64_t llSize = fromEnvironment("QRCORE_CRASH_MIB", 4) * kMiB;
    const auto nSeed = static_cast<uint64_t>(fromEnvironment("QRCORE_CRASH_SEED", 1));
    const int64_t llWindow = fromEnvironment("QRCORE_CRASH_WINDOW", llSize < 64 * kMiB ? 256 * 1024 : qr::journalWindow());
    std::mt19937_64 engine(nSeed);

    const std::string sChild = qrtest::helperProgram("fileapi_space_child");
    const std::string sPath = dir.file("survey.dat");
    const std::string sJournal = qr::journalPathFor(qr::sys::finalPath(dir.path().c_str()) + "/survey.dat");
    Bytes model = fileapitest::randomBytes(static_cast<std::size_t>(llSize), static_cast<uint32_t>(nSeed));
    qrtest::writeFileBytes(sPath, model);
    const std::vector<std::string> common = {"--window", std::to_string(llWindow)};

    int64_t llKilled = 0, llRecoveriesKilled = 0, llBefore = 0, llAfter = 0, llCompleted = 0;
    double dAverageMicroseconds = 20000;  // of the edits that ran to the end
    for (int nRound = 0; llKilled < llKills && nRound < 4 * llKills; ++nRound) {
        const Edit edit = pickEdit(engine, static_cast<int64_t>(model.size()), llWindow);
        const Bytes after = edit.after(model);
        // How many stretches and calls the edit takes, roughly, to spread the kill points.
        const int64_t llStretch = edit.llShift >= llWindow / 2 ? edit.llShift : edit.llShift + llWindow / 2;
        const int64_t llStretches = (edit.llLength + llStretch - 1) / llStretch;
        const int64_t llFlushes = 2 * llStretches + 5;
        const int64_t llWrites = 3 * llStretches + edit.llLength / kMiB + 6;

        std::vector<std::string> args = common;
        std::string sKill;
        const int nMethod = static_cast<int>(engine() % 5);
        int64_t llDelay = -1;
        if (nMethod == 0) {
            sKill = "report " + std::to_string(1 + engine() % 63);
            args.insert(args.end(), {"--kill-at-report", sKill.substr(7)});
        } else if (nMethod == 1 || nMethod == 4) {
            sKill = "flush:" + std::to_string(1 + engine() % static_cast<uint64_t>(llFlushes));
            args.insert(args.end(), {"--kill-at", sKill});
        } else if (nMethod == 2) {
            sKill = "write:" + std::to_string(1 + engine() % static_cast<uint64_t>(llWrites));
            args.insert(args.end(), {"--kill-at", sKill});
        } else {
            llDelay = static_cast<int64_t>(static_cast<double>(engine() % 1000) / 1000.0 * 1.5 * dAverageMicroseconds);
            sKill = "after " + std::to_string(llDelay) + " us";
        }
        args.push_back(sPath);
        args.push_back(edit.sOp);
        for (int64_t ll : edit.args) args.push_back(std::to_string(ll));
        SCOPED_TRACE(::testing::Message() << "seed " << nSeed << ", round " << nRound << ": " << edit.describe()
                                          << " on " << model.size() << " bytes, kill at " << sKill);

        const auto start = std::chrono::steady_clock::now();
        const qrtest::ChildResult result =
            llDelay >= 0 ? qrtest::runChildKilledAfter(sChild, args, llDelay) : qrtest::runChild(sChild, args);
        const double dMicroseconds =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        if (result.bKilled) {
            ++llKilled;
            if (nMethod == 4) {
                // The recovery is killed too, at one of its writes.
                const qrtest::ChildResult recovery = qrtest::runChild(
                    sChild, {"--kill-at", "write:" + std::to_string(1 + engine() % static_cast<uint64_t>(llWrites)), sPath,
                             "recover"});
                if (recovery.bKilled) ++llRecoveriesKilled;
                else ASSERT_TRUE(recovery.bExited) << recovery.sStderr;
            }
        } else {
            ASSERT_TRUE(result.bExited) << result.sStderr;
            ASSERT_EQ(result.sStdout, "1 0 0\n") << "the edit itself failed";
            ++llCompleted;
            dAverageMicroseconds = 0.8 * dAverageMicroseconds + 0.2 * dMicroseconds;
        }

        bool bAfter = false;
        ASSERT_NO_FATAL_FAILURE(expectRecovered(sPath, sJournal, model, after, &bAfter));
        if (bAfter) {
            ++llAfter;
            model = after;
        } else {
            ASSERT_TRUE(result.bKilled) << "an edit that ran to the end left the file as before";
            ++llBefore;
        }
    }
    std::printf("[ crash    ] %lld kill points (%lld recoveries killed too), %lld edits ran to the end; "
                "%lld files recovered to before, %lld to after\n",
                static_cast<long long>(llKilled), static_cast<long long>(llRecoveriesKilled),
                static_cast<long long>(llCompleted), static_cast<long long>(llBefore), static_cast<long long>(llAfter));
    EXPECT_GE(llKilled, llKills);
    EXPECT_GT(llAfter, 0);
}

// The power goes at a random call that changes the file, the journal or the folder, during an edit
// or during the recovery after it: sectors, sizes and folder entries not yet flushed fall back to
// a random earlier state (see power_cut_posix.cpp). The next open still recovers the file to
// exactly before or after. QRCORE_POWERCUT_ROUNDS sets the number of power cuts (default 40).
TEST_F(SpaceCrash, PowerCutsRecoverToBeforeOrAfter) {
    const int64_t llCuts = fromEnvironment("QRCORE_POWERCUT_ROUNDS", 40);
    const auto nSeed = static_cast<uint64_t>(fromEnvironment("QRCORE_CRASH_SEED", 1));
    const int64_t llWindow = 64 * 1024;
    std::mt19937_64 engine(nSeed + 1000);
    qrtest::ScratchDir memory(qrtest::memoryFolder());
    const std::string sChild = qrtest::helperProgram("fileapi_power_child");
    // The simulation stands in for the C library's file calls, which only POSIX systems route
    // the library's writes through.
    if (!qrtest::fileExists(sChild)) GTEST_SKIP() << "no power-cut simulation on this system";
    const std::string sPath = memory.file("survey.dat");
    const std::string sJournal = qr::journalPathFor(qr::sys::finalPath(memory.path().c_str()) + "/survey.dat");
    Bytes model = fileapitest::randomBytes(static_cast<std::size_t>(2 * kMiB + 77), static_cast<uint32_t>(nSeed));

    // Without the journal the same power cuts leave files half-moved: the simulation has teeth.
    int nBroken = 0;
    for (int nTry = 1; nTry <= 8; ++nTry) {
        qrtest::writeFileBytes(sPath, model);
        const qrtest::ChildResult result = qrtest::runChild(
            sChild, {"--journal", "off", "--power-cut-at", "2:" + std::to_string(nTry), sPath, "allocate", "1000", "40"});
        ASSERT_TRUE(result.bKilled) << result.sStdout << result.sStderr;
        const Bytes got = fileapitest::readAll(sPath);
        if (got != model && got != Edit{"allocate", {1000, 40}, 40, 0}.after(model)) ++nBroken;
    }
    EXPECT_GT(nBroken, 0) << "no power cut could break an edit without the journal";
    qrtest::writeFileBytes(sPath, model);

    int64_t llCut = 0, llBefore = 0, llAfter = 0;
    for (int nRound = 0; llCut < llCuts && nRound < 4 * llCuts; ++nRound) {
        const Edit edit = pickEdit(engine, static_cast<int64_t>(model.size()), llWindow);
        const Bytes after = edit.after(model);
        const int64_t llStretch = edit.llShift >= llWindow / 2 ? edit.llShift : edit.llShift + llWindow / 2;
        const int64_t llCalls = 4 * ((edit.llLength + llStretch - 1) / llStretch) + 12;
        const std::string sCut = std::to_string(1 + engine() % static_cast<uint64_t>(llCalls)) + ":" + std::to_string(engine());
        std::vector<std::string> args = {"--window", std::to_string(llWindow), "--power-cut-at", sCut, sPath, edit.sOp};
        for (int64_t ll : edit.args) args.push_back(std::to_string(ll));
        SCOPED_TRACE(::testing::Message() << "seed " << nSeed << ", round " << nRound << ": " << edit.describe()
                                          << " on " << model.size() << " bytes, power cut at " << sCut);
        const qrtest::ChildResult result = qrtest::runChild(sChild, args);
        if (result.bKilled) {
            ++llCut;
            // Every other time the power goes again during the recovery.
            if (engine() % 2 == 0) {
                const std::string sAgain = std::to_string(1 + engine() % static_cast<uint64_t>(llCalls)) + ":" +
                                           std::to_string(engine());
                const qrtest::ChildResult recovery = qrtest::runChild(sChild, {"--power-cut-at", sAgain, sPath, "recover"});
                ASSERT_TRUE(recovery.bKilled || recovery.sStdout.rfind("1 0 0", 0) == 0)
                    << "recovery after the power cut failed: " << recovery.sStdout << recovery.sStderr;
            }
        } else {
            ASSERT_EQ(result.sStdout, "1 0 0\n") << result.sStderr;
        }
        bool bAfter = false;
        ASSERT_NO_FATAL_FAILURE(expectRecovered(sPath, sJournal, model, after, &bAfter));
        if (bAfter) {
            ++llAfter;
            model = after;
        } else {
            ++llBefore;
        }
    }
    std::printf("[ power    ] %lld power cuts; %lld files recovered to before, %lld to after\n",
                static_cast<long long>(llCut), static_cast<long long>(llBefore), static_cast<long long>(llAfter));
    EXPECT_GE(llCut, llCuts);
    EXPECT_GT(llBefore, 0);
    EXPECT_GT(llAfter, 0);
}

}  // namespace
