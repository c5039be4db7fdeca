#!/usr/bin/env bash
# Builds qrtool and shows what QRCore does on the shipped sample survey: the survey lines of an
# XYZ file with their line-number codes, a line name decoded, and the EBCDIC header read back.
set -euo pipefail
cd "$(dirname "$0")/.."
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
cmake -S . -B build/release "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target qrtool -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
qrtool=build/release/tools/qrtool/qrtool
set -x
"$qrtool" scan data/sample/survey.xyz
"$qrtool" line split AL0010 AT0900
"$qrtool" ebcdic2ascii data/sample/header.ebc | fold -w 80 | head -n 7
"$qrtool" view data/sample/records.bin 0 80
