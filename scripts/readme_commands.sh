#!/usr/bin/env bash
# Runs every shell command that README.md shows in its ```sh blocks, in order and exactly as
# written, from the root of the clone; only the line that runs the check script itself (which
# calls this) is left out. A README step that stops working fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."
script=$(mktemp)
trap 'rm -f "$script"' EXIT
{
  echo 'set -euxo pipefail'
  awk '/^```sh[[:space:]]*$/ { inside = 1; next }
       /^```/ { inside = 0; next }
       inside && $0 != "./scripts/check.sh"' README.md
} >"$script"
bash "$script"
