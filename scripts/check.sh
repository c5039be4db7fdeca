#!/usr/bin/env bash
# Builds QRCore twice and runs the whole suite in each: a normal optimised build (g++), and a
# clang build under AddressSanitizer + UndefinedBehaviorSanitizer that also runs every libFuzzer
# target for a short while; then the Windows builds, tested under Wine (scripts/windows.sh).
# Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

echo "== normal build (g++) =="
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (clang), with fuzzing =="
cmake -S . -B build/sanitize "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQRCORE_SANITIZE=ON -DQRCORE_BUILD_FUZZ=ON -DQRCORE_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# ---- Windows: QRCore.dll for x86_64 and i686, tested under Wine (README, "Windows") ----
echo "== Windows builds (mingw-w64), tested under Wine =="
./scripts/windows.sh
cmake --install build/windows-i686 --prefix build/dist-win32
