// POSIX backend: executable path, process id and end, clock, private random numbers, terminals.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>

#include "platform/sys_error.h"
#include "platform/sys_process.h"

namespace qr::sys {

std::string executablePath() {
    // readlink does not terminate and truncates silently: grow until the result fits.
    std::string sPath(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", sPath.data(), sPath.size());
        if (n < 0) {
            captureLastError();
            return {};
        }
        if (static_cast<std::size_t>(n) < sPath.size()) {
            sPath.resize(static_cast<std::size_t>(n));
            return sPath;
        }
        if (sPath.size() >= (1u << 20)) return {};
        sPath.resize(sPath.size() * 2);
    }
}

std::string libraryPath() {
    // Any function of the library names the object it was loaded from.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&libraryPath), &info) == 0 || info.dli_fname == nullptr) return {};
    return info.dli_fname;
}

// Cannot fail, so it asks no fault seam.
uint32_t currentProcessId() { return static_cast<uint32_t>(::getpid()); }

void exitProcess(int nStatus) { std::exit(nStatus); }

int64_t clockMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint32_t randomBelow(uint32_t nBound) {
    static std::mutex s_mutex;
    static std::mt19937 s_engine{[] {
        std::random_device device;
        const uint32_t nSeed = device() ^ (static_cast<uint32_t>(::getpid()) << 16) ^
                               static_cast<uint32_t>(clockMilliseconds());
        return std::mt19937(nSeed);
    }()};
    if (nBound == 0) return 0;
    std::lock_guard<std::mutex> lock(s_mutex);
    return std::uniform_int_distribution<uint32_t>(0, nBound - 1)(s_engine);
}

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace qr::sys
