#!/usr/bin/env bash
# Cross-builds QRCore.dll for 64-bit and 32-bit Windows with mingw-w64 and runs each build's test
# suite under Wine: the contract tests, qrtool.exe end to end, the DLL's export table against the
# full expected list, and two C programs built against the installed DLL. The 64-bit suite runs on
# every machine; the 32-bit one where the machine can run 32-bit programs (one trial run of Wine's
# 32-bit loader decides; a skip is reported, never a failure). The 32-bit DLL is always built and
# its export table always checked. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
summary=()

# configure <target>: the build folder build/windows-<target>, optimised like a release, with
# qrtool.exe and without the benchmarks and the examples.
configure() {
  cmake -S . -B "build/windows-$1" "${gen[@]}" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$1-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DQRCORE_BUILD_BENCH=OFF -DQRCORE_BUILD_EXAMPLES=OFF
}

# suite <target>: builds everything and runs the whole suite in the build's own Wine prefix.
suite() {
  local dir="build/windows-$1" status=0
  cmake --build "$dir" -j "$jobs"
  "$dir/wine-run.sh" --start
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 || status=$?
  "$dir/wine-run.sh" --stop || true
  [ "$status" -eq 0 ] || exit "$status"
  summary+=("Windows $1 suite: ran, $(ctest --test-dir "$dir" -N | sed -n 's/^Total Tests: //p') tests ($((SECONDS - start))s with the build)")
}

echo "== Windows x86_64 (mingw-w64, Wine's 64-bit loader) =="
start=$SECONDS
configure x86_64
suite x86_64

echo "== Windows i686 (mingw-w64, Wine's 32-bit loader) =="
start=$SECONDS
configure i686
loader=build/windows-i686/wine-run.sh
if [ ! -x "$loader" ]; then
  reason="Wine's 32-bit loader is not installed (Debian: wine32:i386)"
elif ! trial=$("$loader" --version 2>&1); then
  reason="this machine cannot run 32-bit programs: ${trial##*$'\n'}"
else
  reason=""
fi
if [ -z "$reason" ]; then
  suite i686
else
  cmake --build build/windows-i686 -j "$jobs" --target qrcore
  ctest --test-dir build/windows-i686 --output-on-failure -R '^Windows\.ExportTable'
  summary+=("Windows i686 suite: skipped, $reason; the DLL was built and its export table checked ($((SECONDS - start))s)")
fi

printf '%s\n' "${summary[@]}"
