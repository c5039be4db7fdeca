// Test support, Windows: child processes (CreateProcess) with captured output.
#include "support/child.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>

namespace qrtest {

namespace {
// One argument as the C run-time's command-line parser reads it back: quoted when it holds a
// blank, a tab or a quote (or is empty), backslashes doubled only before a quote.
std::string quoteArgument(const std::string& sArg) {
    if (!sArg.empty() && sArg.find_first_of(" \t\"") == std::string::npos) return sArg;
    std::string sQuoted = "\"";
    std::size_t nBackslashes = 0;
    for (const char c : sArg) {
        if (c == '\\') {
            ++nBackslashes;
            continue;
        }
        if (c == '"') sQuoted.append(nBackslashes * 2 + 1, '\\');
        else sQuoted.append(nBackslashes, '\\');
        nBackslashes = 0;
        sQuoted.push_back(c);
    }
    sQuoted.append(nBackslashes * 2, '\\');
    sQuoted.push_back('"');
    return sQuoted;
}

// A pipe whose one end (bChildReads: the read end) the child inherits.
void makePipe(HANDLE& hRead, HANDLE& hWrite, bool bChildReads, DWORD nSize) {
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = TRUE;
    if (!::CreatePipe(&hRead, &hWrite, &security, nSize)) throw std::runtime_error("CreatePipe failed");
    ::SetHandleInformation(bChildReads ? hWrite : hRead, HANDLE_FLAG_INHERIT, 0);
}

// Appends what the pipe holds now, without waiting for more.
void drain(HANDLE hRead, std::string* pText) {
    for (;;) {
        DWORD nAvailable = 0;
        if (!::PeekNamedPipe(hRead, nullptr, 0, nullptr, &nAvailable, nullptr) || nAvailable == 0) return;
        char buffer[65536];
        DWORD nRead = 0;
        if (!::ReadFile(hRead, buffer, nAvailable < sizeof buffer ? nAvailable : sizeof buffer, &nRead, nullptr) ||
            nRead == 0)
            return;
        pText->append(buffer, nRead);
    }
}

std::string moduleFolder() {
    char szPath[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameA(nullptr, szPath, sizeof szPath);
    std::string sPath(szPath, n);
    const std::size_t nSlash = sPath.find_last_of("\\/");
    return nSlash == std::string::npos ? "." : sPath.substr(0, nSlash);
}

// The status a process ended by killThisProcess or by the deadline below ends with.
constexpr UINT kKilledStatus = 137;

}  // namespace

// The deadline kill is TerminateProcess.
ChildResult runProgram(const std::string& sProgram, const std::vector<std::string>& args, const std::string& sStdin,
                       int64_t llKillAfterMicroseconds) {
    HANDLE hInRead, hInWrite, hOutRead, hOutWrite, hErrRead, hErrWrite;
    // The input pipe holds all of sStdin, so writing it never waits for the child.
    makePipe(hInRead, hInWrite, true, static_cast<DWORD>(sStdin.size() + 4096));
    makePipe(hOutRead, hOutWrite, false, 0);
    makePipe(hErrRead, hErrWrite, false, 0);

    std::string sCommand = quoteArgument(sProgram);
    for (const std::string& sArg : args) sCommand += " " + quoteArgument(sArg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hInRead;
    startup.hStdOutput = hOutWrite;
    startup.hStdError = hErrWrite;
    PROCESS_INFORMATION process{};
    // Only the three pipe ends are inheritable: the child gets nothing else of ours.
    // Wine's server now and then refuses a process start with an internal error while it starts
    // many at once; a start refused so is tried again a few times.
    BOOL bStarted = FALSE;
    for (int nTry = 0; nTry < 4; ++nTry) {
        bStarted = ::CreateProcessA(sProgram.c_str(), sCommand.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                    &startup, &process);
        if (bStarted || ::GetLastError() != ERROR_INTERNAL_ERROR) break;
        ::Sleep(50);
    }
    ::CloseHandle(hInRead);
    ::CloseHandle(hOutWrite);
    ::CloseHandle(hErrWrite);
    ChildResult result;
    if (!bStarted) {
        ::CloseHandle(hInWrite);
        ::CloseHandle(hOutRead);
        ::CloseHandle(hErrRead);
        result.sStderr = "CreateProcess failed with " + std::to_string(::GetLastError());
        return result;
    }
    LARGE_INTEGER frequency{}, start{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    DWORD nWritten = 0;
    if (!sStdin.empty()) ::WriteFile(hInWrite, sStdin.data(), static_cast<DWORD>(sStdin.size()), &nWritten, nullptr);
    ::CloseHandle(hInWrite);
    // Read while the child runs, and what is left once it has ended. Not up to the end of the
    // pipes: a process the child started (the system's desktop process, when the child shows a
    // box) may hold their write ends for good.
    bool bKilledHere = false;
    for (;;) {
        DWORD nSlice = 5;
        if (llKillAfterMicroseconds >= 0 && !bKilledHere) {
            LARGE_INTEGER now{};
            ::QueryPerformanceCounter(&now);
            const int64_t llElapsed = (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
            if (llElapsed >= llKillAfterMicroseconds) {
                bKilledHere = ::TerminateProcess(process.hProcess, kKilledStatus) != FALSE;
            } else if ((llKillAfterMicroseconds - llElapsed) / 1000 < nSlice) {
                nSlice = static_cast<DWORD>((llKillAfterMicroseconds - llElapsed) / 1000);
            }
        }
        const DWORD nWait = ::WaitForSingleObject(process.hProcess, nSlice);
        drain(hOutRead, &result.sStdout);
        drain(hErrRead, &result.sStderr);
        if (nWait != WAIT_TIMEOUT) break;
    }
    ::CloseHandle(hOutRead);
    ::CloseHandle(hErrRead);
    DWORD nCode = 0;
    ::GetExitCodeProcess(process.hProcess, &nCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // Programs write text with the system's line ends; the tests compare lines.
    for (std::string* pText : {&result.sStdout, &result.sStderr}) {
        std::string sLines;
        for (std::size_t i = 0; i < pText->size(); ++i)
            if (!((*pText)[i] == '\r' && i + 1 < pText->size() && (*pText)[i + 1] == '\n')) sLines.push_back((*pText)[i]);
        *pText = sLines;
    }
    // Status codes from 0xC0000000 up are the system's exceptions (access violation and so on).
    result.bKilled = bKilledHere || nCode == kKilledStatus;
    result.bExited = !result.bKilled && nCode < 0xC0000000u;
    result.nStatus = result.bExited ? static_cast<int>(nCode) : -1;
    return result;
}


std::string testBinaryDir() { return moduleFolder(); }

std::string helperProgram(const std::string& sName) { return testBinaryDir() + "\\" + sName + ".exe"; }

std::string copyProgram(const std::string& sProgram, const std::string& sFolder, const std::string& sName) {
    // The system looks for DLLs in the program's own folder: they go with it.
    const std::filesystem::path source(sProgram);
    const std::filesystem::path folder(sFolder);
    for (const auto& entry : std::filesystem::directory_iterator(source.parent_path())) {
        if (entry.path().extension() == ".dll") std::filesystem::copy_file(entry.path(), folder / entry.path().filename());
    }
    const std::string sCopy = (folder / (sName + ".exe")).string();
    std::filesystem::copy_file(source, sCopy);
    return sCopy;
}

// No fork on Windows: the tests that need one ask backend().bFork first.
int runForked(const std::function<int()>&, int) { return -2; }

void killThisProcess() {
    // The system's own end of a process: no destructors, no buffers, handles and locks dropped.
    ::TerminateProcess(::GetCurrentProcess(), kKilledStatus);
    ::ExitProcess(kKilledStatus);  // not reached
}

// The system has no limit on the size of the files a process writes.
bool limitFileSize(int64_t) { return false; }

}  // namespace qrtest
