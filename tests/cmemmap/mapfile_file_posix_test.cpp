// CxMapFile over the POSIX backend's own mechanism: a named object left under /dev/shm by a
// process that ended without releasing it is cleaned by the next process that uses the name.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "mapfile_support.h"
#include "platform/posix/shm_object.h"
#include "support/child.h"

namespace {

using mftest::MapFileTest;
using mftest::Probe;

// The leftover's file, looked at without opening the object (which would clean it).
bool leftoverExists(const std::string& sName) { return ::access(qr::sys::posix::objectPath(sName).c_str(), F_OK) == 0; }

class SharingPosix : public MapFileTest {
protected:
    static std::string peer() { return qrtest::helperProgram("mapfile_peer"); }
};

TEST_F(SharingPosix, LeftoverOfAKilledProcessIsCleaned) {
    const std::string sName = mftest::uniqueName("killed");
    const qrtest::ChildResult result = qrtest::runChild(peer(), {"die", sName, "4096", "stale-data"});
    ASSERT_TRUE(result.bExited && result.nStatus == 9) << result.sStdout << result.sStderr;  // ended at once
    ASSERT_TRUE(leftoverExists(sName));
    {
        SCOPED_TRACE("open");
        Probe map;
        EXPECT_FALSE(map.OpenMapping(sName.c_str(), true));
        EXPECT_EQ(GetDllErrorNo(), 1000000);
        EXPECT_FALSE(leftoverExists(sName));
    }
    const qrtest::ChildResult again = qrtest::runChild(peer(), {"die", sName, "4096", "stale-data"});
    ASSERT_TRUE(leftoverExists(sName));
    {
        SCOPED_TRACE("create");
        Probe map;
        ASSERT_TRUE(map.MapMemory(4096, false, false, sName.c_str()));
        ASSERT_TRUE(map.SetView(0, 0, 16));
        EXPECT_EQ(std::string(static_cast<char*>(map.UseView(0)), 10), std::string(10, '\0'));
        map.FreeView();
        map.UnMap();
        EXPECT_FALSE(leftoverExists(sName));
    }
}

}  // namespace
