// Benchmarks: a large scratch file in the temporary folder, written once per process (buffers of
// 8 MiB, each filled by the caller before it is written) and removed again at the end.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace bench {

struct ScratchFile {
    std::string sPath;
    ScratchFile(const std::string& sName, int64_t llSize, const std::function<void(std::vector<unsigned char>&)>& fnFill) {
        sPath = qr::sys::tempFolder() + sName + "-" + std::to_string(::getpid()) + ".dat";
        std::vector<unsigned char> buffer(static_cast<std::size_t>(8 * 0x100000));
        const int nFd = ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (nFd < 0) std::abort();
        for (int64_t llDone = 0; llDone < llSize; llDone += static_cast<int64_t>(buffer.size())) {
            fnFill(buffer);
            if (::write(nFd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) std::abort();
        }
        // On the disk before anything is timed.
        ::fsync(nFd);
        ::close(nFd);
    }
    ~ScratchFile() { ::unlink(sPath.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
};

}  // namespace bench
