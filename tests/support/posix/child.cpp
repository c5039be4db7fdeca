// Test support, POSIX: child processes (fork and exec) with captured output.
#include "support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace qrtest {

namespace {
void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
}

int64_t nowMicroseconds() {
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace

// The deadline kill is SIGKILL.
ChildResult runProgram(const std::string& sProgram, const std::vector<std::string>& args, const std::string& sStdin,
                       int64_t llKillAfter) {
    int inPipe[2], outPipe[2], errPipe[2];
    makePipe(inPipe);
    makePipe(outPipe);
    makePipe(errPipe);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // The child starts as a shell would start it: a write to a closed pipe ends it by
        // SIGPIPE unless it says otherwise (the parent ignores the signal for its own pipes).
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(inPipe[0], 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(sProgram.c_str()));
        for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
        argv.push_back(nullptr);
        ::execv(sProgram.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    ChildResult result;
    std::size_t nWritten = 0;
    int fdIn = inPipe[1];
    if (sStdin.empty()) {
        ::close(fdIn);
        fdIn = -1;
    }
    bool bOutOpen = true, bErrOpen = true;
    ::signal(SIGPIPE, SIG_IGN);
    const int64_t llDeadline = llKillAfter >= 0 ? nowMicroseconds() + llKillAfter : -1;
    bool bKillSent = false;
    while (bOutOpen || bErrOpen) {
        int nTimeout = -1;
        if (llDeadline >= 0 && !bKillSent) {
            const int64_t llLeft = llDeadline - nowMicroseconds();
            if (llLeft <= 0) {
                ::kill(pid, SIGKILL);
                bKillSent = true;
            } else {
                nTimeout = static_cast<int>((llLeft + 999) / 1000);
            }
        }
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {fdIn, POLLOUT, 0}};
        const int nReady = ::poll(fds, fdIn >= 0 ? 3 : 2, nTimeout);
        if (nReady == 0) continue;
        if (nReady < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            bool& bOpen = i == 0 ? bOutOpen : bErrOpen;
            if (!bOpen || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                bOpen = false;
            } else {
                (i == 0 ? result.sStdout : result.sStderr).append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (fdIn >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(fdIn, sStdin.data() + nWritten, sStdin.size() - nWritten);
            if (n > 0) nWritten += static_cast<std::size_t>(n);
            if (n <= 0 || nWritten == sStdin.size()) {
                ::close(fdIn);
                fdIn = -1;
            }
        }
    }
    if (fdIn >= 0) ::close(fdIn);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    int nWait = 0;
    while (::waitpid(pid, &nWait, 0) < 0 && errno == EINTR) {
    }
    result.bExited = WIFEXITED(nWait);
    result.nStatus = result.bExited ? WEXITSTATUS(nWait) : -1;
    result.bKilled = WIFSIGNALED(nWait) && WTERMSIG(nWait) == SIGKILL;
    return result;
}


int runForked(const std::function<int()>& fnBody, int nMilliseconds) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) return -2;
    if (pid == 0) ::_exit(fnBody());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    int nStatus = 0;
    while (::waitpid(pid, &nStatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &nStatus, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

std::string testBinaryDir() {
    char szPath[4096];
    const ssize_t n = ::readlink("/proc/self/exe", szPath, sizeof szPath - 1);
    if (n <= 0) return ".";
    std::string sPath(szPath, static_cast<std::size_t>(n));
    return sPath.substr(0, sPath.rfind('/'));
}

void killThisProcess() {
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);  // not reached
}

bool limitFileSize(int64_t llBytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{static_cast<rlim_t>(llBytes), static_cast<rlim_t>(llBytes)};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::string helperProgram(const std::string& sName) { return testBinaryDir() + "/" + sName; }

std::string copyProgram(const std::string& sProgram, const std::string& sFolder, const std::string& sName) {
    // The library is found through the program's run path, wherever the program lies.
    const std::string sCopy = sFolder + "/" + sName;
    std::filesystem::copy_file(sProgram, sCopy);
    return sCopy;
}

}  // namespace qrtest
