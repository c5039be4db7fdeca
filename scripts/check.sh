#!/usr/bin/env bash
# The whole check, as CI runs it: first the set-up (scripts/setup.sh: as root with apt-get it
# installs what is missing; otherwise it prints the install line needed and the check exits 2),
# then a normal optimised build (g++) with the suite; every shell command of the README as written
# (demo, Windows cross builds under Wine, benchmark, install build, consumer project); and a clang
# build under AddressSanitizer + UndefinedBehaviorSanitizer that runs the suite and every
# libFuzzer target for a short while. Warnings are errors throughout. Exits non-zero on the first
# failure; a leg whose optional packages could not be had is skipped with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS
leg() { echo; echo "== $1 ($((SECONDS - started)) s) =="; }
mkdir -p build
# The set-up and the Windows legs add a line here for each optional part: ran, or skipped and why.
export QRCORE_CHECK_NOTES=$PWD/build/check-notes.txt
: >"$QRCORE_CHECK_NOTES"

leg "set-up"
./scripts/test_setup.sh
./scripts/setup.sh || exit $?

gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
# ccache, where installed, serves every configuration below, the README's and the Windows builds
# included (CMake reads these variables); objects are shared between clones of the project,
# wherever they lie (the build folder is left out of the key, or every debug build of a new
# clone would miss; the objects' debug information then names the folder of the first build).
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
fi
# Every configuration below, the README's own included, treats warnings as errors.
export QRCORE_WERROR=ON
# Debian's own Python, the one its python3-* packages serve (another python3 may come first on
# PATH, for instance a pyenv one without them).
python=()
[ -x /usr/bin/python3 ] && python=(-DPython3_EXECUTABLE=/usr/bin/python3)

leg "normal build (g++)"
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ "${python[@]}"
cmake --build build/release -j "$jobs"
ctest --test-dir build/release --output-on-failure -j "$jobs"

leg "the README's commands, as written"
./scripts/readme_commands.sh

leg "AddressSanitizer + UndefinedBehaviorSanitizer build (clang), with fuzzing"
cmake -S . -B build/sanitize "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQRCORE_SANITIZE=ON -DQRCORE_BUILD_FUZZ=ON -DQRCORE_FUZZ_SECONDS=10 -DQRCORE_BUILD_BENCH=OFF
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# ---- ThreadSanitizer leg (clang, the threaded tests) ----
leg "ThreadSanitizer build (clang), the threaded tests"
cmake -S . -B build/tsan "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQRCORE_SANITIZE=thread \
  -DQRCORE_BUILD_BENCH=OFF -DQRCORE_BUILD_EXAMPLES=OFF -DQRCORE_BUILD_PYTHON=OFF
cmake --build build/tsan -j "$jobs" --target fileapi_tests cmemmap_tests qrtool_scanner_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -L threaded --output-on-failure
# ---- end ThreadSanitizer leg ----

leg "done"
sed 's/^/  /' "$QRCORE_CHECK_NOTES"
