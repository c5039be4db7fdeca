#!/usr/bin/env bash
# Runs every shell command that README.md shows in its ```sh blocks, in order and exactly as
# written, from the root of the clone; only the line that runs the check script itself (which
# calls this) is left out. A README step that stops working fails the check. A command on a
# Windows build folder (build/windows-...) runs where the Windows legs can run; elsewhere it is
# skipped with the same reason scripts/windows.sh gives for skipping them.
# Then every example the README shows as a ```text block that starts with "$ COMMAND" is run in
# data/sample/ with the programs of the install build on PATH (build/dist: qrtool and the
# example programs), and what it prints (standard output, then standard error; blanks at line
# ends left out) must be the rest of the block, where a line "..." stands for any lines.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_missing=$(./scripts/windows.sh --available) || true
{
  echo 'set -euxo pipefail'
  printf 'windows_ready() { [ -z %q ] || { echo "skipped with the Windows legs: "%q >&2; return 1; }; }\n' \
    "$windows_missing" "$windows_missing"
  awk '/^```sh[[:space:]]*$/ { inside = 1; next }
       /^```/ { inside = 0; next }
       inside && $0 == "./scripts/check.sh" { next }
       inside && /build\/windows-/ { print "if windows_ready; then"; print; print "fi"; next }
       inside' README.md
} >"$work/commands.sh"
bash "$work/commands.sh"

# The examples: example N's command in $work/N.cmd, what it should print in $work/N.expected.
awk -v dir="$work" '/^```text[[:space:]]*$/ { block = 1; next }
     /^```/ { block = 0; example = 0; next }
     block == 1 && /^\$ / { n++; example = 1; block = 2; print substr($0, 3) > (dir "/" n ".cmd"); next }
     block == 1 { block = 2; next }
     example { print > (dir "/" n ".expected") }' README.md
root=$PWD
for cmd in "$work"/*.cmd; do
  [ -e "$cmd" ] || break
  example=${cmd%.cmd}
  echo "README example: \$ $(cat "$cmd")"
  (cd data/sample && PATH="$root/build/dist/tools/qrtool:$root/build/dist/examples:$PATH" \
    bash -c "$(cat "$cmd")" >"$example.out" 2>"$example.err") || true
  cat "$example.out" "$example.err" | sed 's/[[:space:]]*$//' >"$example.actual"
  touch "$example.expected"
  # "..." takes lines up to the first that matches the expected line after it.
  if ! awk 'NR == FNR { want[++w] = $0; next }
            { got[++g] = $0 }
            END {
              i = 1
              for (k = 1; k <= w; k++) {
                if (want[k] ~ /^[[:space:]]*\.\.\.$/) {
                  if (k == w) { i = g + 1; continue }
                  while (i <= g && got[i] != want[k + 1]) i++
                  continue
                }
                if (i > g || got[i] != want[k]) { print "README example differs at: " want[k] > "/dev/stderr"; exit 1 }
                i++
              }
              if (i <= g) { print "README example prints more, from: " got[i] > "/dev/stderr"; exit 1 }
            }' "$example.expected" "$example.actual"; then
    echo "--- it prints:" >&2
    cat "$example.actual" >&2
    exit 1
  fi
done
