// Named mapping objects met by a later creator: the existing object's size and append-null mode,
// and the file an object backs.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "named_objects.h"
#include "qrcore/fileapi.h"
#include "support/backend.h"

namespace {

using mftest::InFolder;
using mftest::NamedObjects;
using mftest::Probe;

TEST_F(NamedObjects, ExistingObjectKeepsItsSizeAndItsAppendNullMode) {
    // The owner maps 8 KiB under a name and fills it; a second creator asks for 100 bytes.
    constexpr int64_t kOwnerData = 8192;
    struct Row {
        const char* szWhat;
        bool bOwnerAppendNull;
        bool bAskAppendNull;
        bool bOtherProcess;
        bool bRefused;
    };
    const Row rows[] = {
        {"plain over plain, same process", false, false, false, false},
        {"plain over plain, other process", false, false, true, false},
        {"append-null over plain, same process", false, true, false, true},
        {"append-null over plain, other process", false, true, true, true},
        {"append-null over append-null, other process", true, true, true, false},
        {"plain over append-null, same process", true, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szWhat);
        const std::string sName = mftest::uniqueName("sized");
        Probe owner;
        ASSERT_TRUE(owner.MapMemory(kOwnerData, row.bOwnerAppendNull, false, sName.c_str())) << notices.lastText();
        ASSERT_TRUE(owner.SetView(0, 0, static_cast<int32_t>(kOwnerData)));
        auto* pOwner = static_cast<char*>(owner.UseView(0));
        std::memset(pOwner, 'A', kOwnerData);
        ReportError(0);
        notices.clear();

        std::string sOutcome;
        if (row.bOtherProcess) {
            const qrtest::ChildResult result =
                qrtest::runChild(peer(), {"memory", sName, "100", row.bAskAppendNull ? "1" : "0"});
            sOutcome = result.sStdout;
        } else {
            Probe second;
            if (second.MapMemory(100, row.bAskAppendNull, false, sName.c_str()) && second.SetView(0, 0, INT32_MAX)) {
                sOutcome = "ok size=" + std::to_string(second.GetMappingSize()) +
                           " view=" + std::to_string(second.GetView(0)->lSize) + "\n";
            } else {
                sOutcome = "failed " + std::to_string(GetDllErrorNo()) + " " + notices.lastText() + "\n";
                EXPECT_EQ(second.GetFileMappingHandle(), nullptr);
            }
            second.FreeView();
        }
        // The owner's object as an opener learns it (its data and terminators); an append-null
        // user keeps the two terminators out of its view.
        const int64_t llObject = qrtest::openedObjectSize(kOwnerData + (row.bOwnerAppendNull ? 2 : 0));
        const int64_t llView = llObject - (row.bAskAppendNull ? 2 : 0);
        const std::string sExpected = row.bRefused ? refusal(qr::sys::kErrorMappingNotAppendNull)
                                                   : "ok size=" + std::to_string(llObject) +
                                                         " view=" + std::to_string(llView) + "\n";
        EXPECT_EQ(sOutcome, sExpected);
        // No byte of the owner's data was touched by the second creator.
        EXPECT_EQ(std::string(pOwner, kOwnerData).find_first_not_of('A'), std::string::npos) << "a byte was changed";
        owner.FreeView();
    }
}

TEST_F(NamedObjects, FileMappingNeverAttachesToAnotherFilesObject) {
    // One relative path names a different file in each folder, and so one mapping name.
    const std::string sRelative = mftest::uniqueName("same") + ".bin";
    const std::string sFolderA = folder("dA"), sFolderB = folder("dB");
    qrtest::writeFileText(sFolderA + "/" + sRelative, std::string(100, 'a'));
    qrtest::writeFileText(sFolderB + "/" + sRelative, std::string(100, 'b'));
    Probe owner;
    {
        InFolder in(sFolderA);
        ASSERT_TRUE(owner.MapFile(sRelative.c_str(), false, false, false)) << notices.lastText();
    }
    for (const bool bOtherProcess : {false, true}) {
        for (const bool bAppendNull : {false, true}) {
            SCOPED_TRACE(std::string(bOtherProcess ? "other process" : "same process") +
                         (bAppendNull ? ", append-null" : ", plain"));
            std::string sOutcome;
            if (bOtherProcess) {
                sOutcome = qrtest::runChild(peer(), {"mapfile", sFolderB, sRelative, bAppendNull ? "1" : "0"}).sStdout;
            } else {
                ReportError(0);
                notices.clear();
                InFolder in(sFolderB);
                Probe second;
                sOutcome = second.MapFile(sRelative.c_str(), bAppendNull, false, false)
                               ? "ok\n"
                               : "failed " + std::to_string(GetDllErrorNo()) + " " + notices.lastText() + "\n";
            }
            EXPECT_EQ(sOutcome, refusal(qr::sys::kErrorMappingOtherFile));
            // Neither file changed: the refused creator did not grow its own file either. (The
            // owner's file is read through its view: its open may share nothing.)
            EXPECT_TRUE(qrtest::readFileBytes(sFolderB + "/" + sRelative) == std::vector<unsigned char>(100, 'b'));
            ASSERT_TRUE(owner.SetView(0, 0, 100));
            EXPECT_EQ(std::string(static_cast<char*>(owner.UseView(0)), 100), std::string(100, 'a'));
            owner.FreeView();
        }
    }
    // An absolute path has a name of its own.
    Probe absolute;
    ASSERT_TRUE(absolute.MapFile((sFolderB + "/" + sRelative).c_str(), false, false, false)) << notices.lastText();
    ASSERT_TRUE(absolute.SetView(0, 0, 100));
    EXPECT_EQ(std::string(static_cast<char*>(absolute.UseView(0)), 100), std::string(100, 'b'));
    absolute.FreeView();
}

}  // namespace
