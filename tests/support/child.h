// Test support: running a real child process and collecting what it printed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qrtest {

struct ChildResult {
    bool bExited = false;   // ended by exit, not by a signal
    int nStatus = -1;       // exit status when bExited
    std::string sStdout;
    std::string sStderr;
};

// Runs sProgram with args (argv[0] is sProgram), standard input from sStdin, and waits for it.
ChildResult runChild(const std::string& sProgram, const std::vector<std::string>& args,
                     const std::string& sStdin = {});

// Runs fnBody in a child made by fork() without exec, which ends with _exit(fnBody()) unless
// fnBody ends it itself (exit runs the child's static destructors). Returns the child's exit
// status; -1 when it ended by a signal or did not end within nMilliseconds (it is killed then),
// -2 when fork failed.
int runForked(const std::function<int()>& fnBody, int nMilliseconds = 10000);

// The folder of the running test program (where helper programs are built beside it).
std::string testBinaryDir();

}  // namespace qrtest
