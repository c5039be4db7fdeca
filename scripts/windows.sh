#!/usr/bin/env bash
# Cross-builds QRCore.dll for 64-bit and 32-bit Windows with mingw-w64 and runs each build's test
# suite under Wine: the contract tests, qrtool.exe end to end, the DLL's export table against the
# full expected list, and two C programs built against the installed DLL. The 64-bit suite runs on
# every machine that has the cross compilers and Wine; the 32-bit one where the machine can run
# 32-bit programs (one trial run of Wine's 32-bit loader decides). Where it cannot, the 32-bit DLL,
# qrtool.exe and everything the install needs are built all the same and the DLL's export table is
# checked. The 32-bit build uses CMake's default generator (Unix Makefiles), the 64-bit one Ninja
# where present, so that neither generator can break the build unseen. A machine without the
# cross compilers or Wine skips both legs. Every skip is reported with its reason, never a failure.
# Exits non-zero on the first failure.
#   windows.sh --available   exit 0 when the Windows legs can run here; else say why, exit 1
#   QRCORE_SKIP_WINDOWS=1     skip both legs all the same (a quicker check while working)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
notes=${QRCORE_CHECK_NOTES:-/dev/null}
summary=()

lacking=()
for compiler in x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix; do
  command -v "$compiler" >/dev/null 2>&1 || lacking+=("$compiler")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || lacking+=("GoogleTest's sources (/usr/src/googletest)")
[ -x /usr/lib/wine/wine64 ] || lacking+=("Wine's 64-bit loader (/usr/lib/wine/wine64)")
reason=""
if [ -n "${QRCORE_SKIP_WINDOWS:-}" ]; then
  reason="left out on request (QRCORE_SKIP_WINDOWS is set)"
elif [ ${#lacking[@]} -gt 0 ]; then
  reason="missing: ${lacking[*]} (Debian: g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64)"
fi
if [ -n "$reason" ]; then
  [ "${1:-}" = --available ] && { echo "$reason"; exit 1; }
  echo "Windows legs: skipped, $reason" | tee -a "$notes"
  exit 0
fi
[ "${1:-}" = --available ] && exit 0

# configure <target> <generator>: the build folder build/windows-<target>, optimised like a
# release, with qrtool.exe and without the benchmarks and the examples. A folder configured with
# another generator is configured anew (CMake refuses to switch).
configure() {
  local dir="build/windows-$1"
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx "CMAKE_GENERATOR:INTERNAL=$2" "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  cmake -S . -B "$dir" -G "$2" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$1-w64-mingw32.cmake" \
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

generator="Unix Makefiles"
command -v ninja >/dev/null 2>&1 && generator=Ninja
echo "== Windows x86_64 (mingw-w64, Wine's 64-bit loader; $generator) =="
start=$SECONDS
configure x86_64 "$generator"
suite x86_64

echo "== Windows i686 (mingw-w64, Wine's 32-bit loader; Unix Makefiles) =="
start=$SECONDS
configure i686 "Unix Makefiles"
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
  # What the install holds, so that the README's install of this build works here too; a trial
  # install shows at once when the install wants something more.
  cmake --build build/windows-i686 -j "$jobs" --target qrcore qrtool qrcore_error_list
  ctest --test-dir build/windows-i686 --output-on-failure -R '^Windows\.ExportTable'
  rm -rf build/windows-i686/install-trial
  cmake --install build/windows-i686 --prefix build/windows-i686/install-trial >/dev/null
  summary+=("Windows i686 suite: skipped, $reason; the DLL and qrtool.exe were built, the install tried and the export table checked ($((SECONDS - start))s)")
fi

printf '%s\n' "${summary[@]}" | tee -a "$notes"
