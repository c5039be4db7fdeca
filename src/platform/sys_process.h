// Platform layer: facts about the running process, its clock and a private random source.
#pragma once

#include <cstdint>
#include <string>

namespace qr::sys {

// Full path of the running executable (not of the library); empty when it cannot be read.
std::string executablePath();

// Full path of the library's own file (the shared library or DLL holding this code; the
// executable when the library is linked into it); empty when it cannot be found.
std::string libraryPath();

// The calling process's id (never 0). A child made by fork() has an id of its own, so an object
// that records the id of the process that created what it holds can tell a copy that a forked
// child inherited from its creator's. On Windows there is no fork: every copy is the creator's.
uint32_t currentProcessId();

// Ends the process with the standard library's exit (static destructors and atexit run).
[[noreturn]] void exitProcess(int nStatus);

// Milliseconds of a monotonic process clock.
int64_t clockMilliseconds();

// A number from a private generator, uniform in [0, nBound) (nBound > 0). Never touches the
// caller's rand() state. Thread-safe.
uint32_t randomBelow(uint32_t nBound);

// True when descriptor-level standard input/error are terminals (for presenters and tools).
bool stdinIsTerminal();
bool stderrIsTerminal();

}  // namespace qr::sys
