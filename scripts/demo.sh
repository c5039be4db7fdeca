#!/usr/bin/env bash
# Builds the library and qrtool (nothing else: no test or benchmark framework is needed) and
# shows what QRCore does on the shipped sample survey: the survey lines of an XYZ file with their
# line-number codes, line names split into their parts, the EBCDIC header read back, and a hex
# dump through a mapped view. Needs only CMake and a C++20 compiler.
set -euo pipefail
cd "$(dirname "$0")/.."
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
# The same configuration as the README's install build, so the two share one build folder.
# The build shows its progress (a first build on a new machine takes a minute or two).
started=$SECONDS
echo "== demo: configuring the build in build/dist =="
cmake -S . -B build/dist "${gen[@]}" -DCMAKE_BUILD_TYPE=Release -DQRCORE_BUILD_TESTS=OFF \
  -DQRCORE_BUILD_BENCH=OFF -DQRCORE_BUILD_PYTHON=OFF
echo "== demo: building the library and qrtool ($((SECONDS - started)) s) =="
cmake --build build/dist --target qrtool -j "$(nproc 2>/dev/null || echo 2)"
echo "== demo: qrtool on the sample survey in data/sample ($((SECONDS - started)) s) =="
qrtool=build/dist/tools/qrtool/qrtool
set -x
"$qrtool" scan data/sample/survey.xyz
"$qrtool" line split AL0010 AT0900
"$qrtool" ebcdic2ascii data/sample/header.ebc | fold -w 80 | head -n 7
"$qrtool" view data/sample/records.bin 0 80
