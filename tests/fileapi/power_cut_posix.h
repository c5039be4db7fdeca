// Test helper (POSIX): arming the simulated power cut of power_cut_posix.cpp in the second process
// of the space tests.
#pragma once

#include <cstdint>

// From now on, counts the calls that change files or folder entries (writes, truncations, flushes,
// deletions, creations); the power goes at the llCall-th, before it is made. nSeed chooses which
// of the unflushed changes had reached the disk.
void armPowerCut(int64_t llCall, uint64_t nSeed);
// How many such calls were counted.
int64_t powerCutCalls();
