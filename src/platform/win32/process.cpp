// Win32 backend: executable and library paths, process id, process end, clock, private random
// numbers, consoles.
#include <cstdlib>
#include <mutex>
#include <random>
#include <string>

#include "platform/sys_process.h"
#include "platform/win32/seam.h"

namespace qr::sys {

namespace {
// The full path of a loaded module. The system cuts the path silently to the buffer (and says so
// only through the length): grow until the result fits.
std::string modulePath(HMODULE hModule) {
    std::string sPath(MAX_PATH, '\0');
    for (;;) {
        const DWORD nLength = ::GetModuleFileNameA(hModule, sPath.data(), static_cast<DWORD>(sPath.size()));
        if (nLength == 0) return {};
        if (nLength < sPath.size()) {
            sPath.resize(nLength);
            return sPath;
        }
        if (sPath.size() >= 32768) return {};  // longer than any path the system allows
        sPath.resize(sPath.size() * 2);
    }
}
}  // namespace

std::string executablePath() { return modulePath(nullptr); }

std::string libraryPath() {
    // The module that holds this function: the DLL, or the program it is linked into.
    HMODULE hModule = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&modulePath), &hModule))
        return {};
    return modulePath(hModule);
}

uint32_t currentProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

void exitProcess(int nStatus) { std::exit(nStatus); }

int64_t clockMilliseconds() {
    static const int64_t s_llFrequency = [] {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    }();
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    // Split, so that the product cannot overflow however long the machine runs.
    return counter.QuadPart / s_llFrequency * 1000 + counter.QuadPart % s_llFrequency * 1000 / s_llFrequency;
}

uint32_t randomBelow(uint32_t nBound) {
    static std::mutex s_mutex;
    static std::mt19937 s_engine{[] {
        std::random_device device;
        const uint32_t nSeed = device() ^ (static_cast<uint32_t>(::GetCurrentProcessId()) << 16) ^
                               static_cast<uint32_t>(clockMilliseconds());
        return std::mt19937(nSeed);
    }()};
    if (nBound == 0) return 0;
    std::lock_guard<std::mutex> lock(s_mutex);
    return std::uniform_int_distribution<uint32_t>(0, nBound - 1)(s_engine);
}

namespace {
// A console, not a file or a pipe: the system's test for an interactive stream.
bool isConsole(DWORD nStdHandle) {
    const DWORD nSaved = ::GetLastError();
    DWORD nMode = 0;
    HANDLE h = ::GetStdHandle(nStdHandle);
    const bool bConsole = h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &nMode) != FALSE;
    ::SetLastError(nSaved);
    return bConsole;
}
}  // namespace

bool stdinIsTerminal() { return isConsole(STD_INPUT_HANDLE); }
bool stderrIsTerminal() { return isConsole(STD_ERROR_HANDLE); }

}  // namespace qr::sys
