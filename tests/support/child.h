// Test support: running a real child process and collecting what it printed.
#pragma once

#include <string>
#include <vector>

namespace qrtest {

struct ChildResult {
    bool bExited = false;   // ended by exit, not by a signal (Windows: not by an exception)
    int nStatus = -1;       // exit status when bExited
    std::string sStdout;
    std::string sStderr;
};

// Runs sProgram with args (argv[0] is sProgram), standard input from sStdin, and waits for it.
// Line ends of the output are '\n' (Windows programs write "\r\n" in text mode).
ChildResult runChild(const std::string& sProgram, const std::vector<std::string>& args,
                     const std::string& sStdin = {});

// The folder of the running test program (where helper programs are built beside it).
std::string testBinaryDir();

// The path of the helper program sName built beside the running test program, with the
// system's suffix for programs (".exe" on Windows).
std::string helperProgram(const std::string& sName);

// Copies the program sProgram into sFolder under the name sName (the system's suffix added),
// with what it needs to start there that the system does not find by itself (Windows: the DLLs
// beside it); returns the new program's path.
std::string copyProgram(const std::string& sProgram, const std::string& sFolder, const std::string& sName);

}  // namespace qrtest
