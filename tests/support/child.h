// Test support: running a real child process and collecting what it printed; ending it (or the
// running process itself) the way a crash does, for the crash tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qrtest {

struct ChildResult {
    bool bExited = false;   // ended by exit, not by a signal (Windows: not by an exception)
    int nStatus = -1;       // exit status when bExited
    bool bKilled = false;   // ended by a kill (from runChild's deadline or its own)
    std::string sStdout;
    std::string sStderr;
};

// Runs sProgram with args (argv[0] is sProgram), standard input from sStdin, and waits for it,
// killing it (no clean-up of any kind, like a crash) when it still runs llKillAfterMicroseconds
// after it started (-1: never). Line ends of the output are '\n' (Windows programs write "\r\n"
// in text mode). Each system's support implements it.
ChildResult runProgram(const std::string& sProgram, const std::vector<std::string>& args, const std::string& sStdin,
                       int64_t llKillAfterMicroseconds);

// Runs sProgram with args and standard input sStdin, and waits for it.
inline ChildResult runChild(const std::string& sProgram, const std::vector<std::string>& args,
                            const std::string& sStdin = {}) {
    return runProgram(sProgram, args, sStdin, -1);
}

// Runs fnBody in a child made by fork() without exec, which ends with _exit(fnBody()) unless
// fnBody ends it itself (exit runs the child's static destructors). Returns the child's exit
// status; -1 when it ended by a signal or did not end within nMilliseconds (it is killed then),
// -2 when fork failed.
int runForked(const std::function<int()>& fnBody, int nMilliseconds = 10000);
// Runs sProgram like runChild, but kills it when it is still running llKillAfterMicroseconds after
// it started. Output up to the kill is kept.
inline ChildResult runChildKilledAfter(const std::string& sProgram, const std::vector<std::string>& args,
                                       int64_t llKillAfterMicroseconds) {
    return runProgram(sProgram, args, {}, llKillAfterMicroseconds < 0 ? 0 : llKillAfterMicroseconds);
}

// The folder of the running test program (where helper programs are built beside it).
std::string testBinaryDir();

// For helper programs: ends the calling process at once, as a kill from outside would (no
// destructors, no buffers flushed, descriptors and locks dropped by the system).
[[noreturn]] void killThisProcess();

// For helper programs: from now on the process may not write files larger than llBytes; a write
// past that fails with the system's "file too large" error instead of ending the process.
bool limitFileSize(int64_t llBytes);

// The path of the helper program sName built beside the running test program, with the
// system's suffix for programs (".exe" on Windows).
std::string helperProgram(const std::string& sName);

// Copies the program sProgram into sFolder under the name sName (the system's suffix added),
// with what it needs to start there that the system does not find by itself (Windows: the DLLs
// beside it); returns the new program's path.
std::string copyProgram(const std::string& sProgram, const std::string& sFolder, const std::string& sName);

}  // namespace qrtest
