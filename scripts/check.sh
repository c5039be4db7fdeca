#!/usr/bin/env bash
# The whole check, as CI runs it: a normal optimised build (g++) with the suite; every shell
# command of the README as written (demo, benchmark, install build, consumer project); and a
# clang build under AddressSanitizer + UndefinedBehaviorSanitizer that runs the suite and every
# libFuzzer target for a short while. Warnings are errors throughout. Exits non-zero on the first
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
# ccache, where installed, serves every configuration below (CMake reads these variables).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
# Every configuration below, the README's own included, treats warnings as errors.
export QRCORE_WERROR=ON
started=$SECONDS
leg() { echo; echo "== $1 ($((SECONDS - started)) s) =="; }

leg "normal build (g++)"
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

leg "the README's commands, as written"
./scripts/readme_commands.sh

leg "AddressSanitizer + UndefinedBehaviorSanitizer build (clang), with fuzzing"
cmake -S . -B build/sanitize "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQRCORE_SANITIZE=ON -DQRCORE_BUILD_FUZZ=ON -DQRCORE_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

leg "done"
