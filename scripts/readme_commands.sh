#!/usr/bin/env bash
# Runs every shell command that README.md shows in its ```sh blocks, in order and exactly as
# written, from the root of the clone; only the line that runs the check script itself (which
# calls this) is left out. A README step that stops working fails the check. A command on a
# Windows build folder (build/windows-...) runs where the Windows legs can run; elsewhere it is
# skipped with the same reason scripts/windows.sh gives for skipping them.
set -euo pipefail
cd "$(dirname "$0")/.."
script=$(mktemp)
trap 'rm -f "$script"' EXIT
windows_missing=$(./scripts/windows.sh --available) || true
{
  echo 'set -euxo pipefail'
  printf 'windows_ready() { [ -z %q ] || { echo "skipped, the Windows legs cannot run here: "%q >&2; return 1; }; }\n' \
    "$windows_missing" "$windows_missing"
  awk '/^```sh[[:space:]]*$/ { inside = 1; next }
       /^```/ { inside = 0; next }
       inside && $0 == "./scripts/check.sh" { next }
       inside && /build\/windows-/ { print "if windows_ready; then"; print; print "fi"; next }
       inside' README.md
} >"$script"
bash "$script"
