#!/usr/bin/env bash
# Runs scripts/setup.sh against a fake apt-get, dpkg, dpkg-query and id placed first on PATH
# (nothing on the machine is changed) in the situations a bare machine meets: a mirror whose i386
# index cannot be fetched and whose 32-bit loader does not install, a required package that
# cannot be had, a user who is not root, and a machine with everything. Exits non-zero on the
# first situation that does not end as it should.
set -euo pipefail
setup=$(cd "$(dirname "$0")" && pwd)/setup.sh
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir "$fake/bin"
# The fakes keep their state in files: installed packages, foreign architectures, every call.
cat >"$fake/bin/dpkg-query" <<'EOF'
#!/bin/sh
[ "$1" = -W ] || exit 1
case "$2" in
  *Architecture*) grep -c ':i386$' "$FAKE/installed" >/dev/null && echo i386; exit 0 ;;
esac
grep -qx "$3" "$FAKE/installed" && printf installed
exit 0
EOF
cat >"$fake/bin/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$FAKE/calls"
case "$1" in
  --print-foreign-architectures) cat "$FAKE/arch" ;;
  --add-architecture) echo "$2" >>"$FAKE/arch" ;;
  --remove-architecture) grep -vx "$2" "$FAKE/arch" >"$FAKE/arch.new"; mv "$FAKE/arch.new" "$FAKE/arch" ;;
esac
EOF
cat >"$fake/bin/apt-get" <<'EOF'
#!/bin/sh
while [ "${1#-}" != "$1" ]; do [ "$1" = -o ] && shift; shift; done
echo "apt-get $*" >>"$FAKE/calls"
command=$1
shift
if [ "$command" = update ]; then
  if grep -qx i386 "$FAKE/arch" && [ -n "$FAKE_I386_INDEX_FAILS" ]; then
    echo "E: Failed to fetch .../binary-i386/Packages  File has unexpected size. Mirror sync in progress?"
    exit 100
  fi
  exit 0
fi
for pkg; do
  case " $FAKE_UNAVAILABLE " in
    *" $pkg "*) echo "E: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages."
                exit 100 ;;
  esac
done
printf '%s\n' "$@" >>"$FAKE/installed"
EOF
printf '#!/bin/sh\necho "${FAKE_UID:-0}"\n' >"$fake/bin/id"
chmod +x "$fake/bin/"*

everything="cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
bsdextrautils python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest ccache python3-pandas mypy
g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64 wine32:i386"
failures=0

# [foreign=ARCH] situation NAME EXPECTED-STATUS INSTALLED-PACKAGES [VAR=VALUE...]: runs the set-up
# on a fake machine that has INSTALLED-PACKAGES (and the foreign architecture ARCH); its output
# and calls are then in $out and $calls.
situation() {
  local name=$1 expected=$2 state="$fake/$1" status=0
  mkdir -p "$state"
  echo "$3" | tr ' ' '\n' | sed '/^$/d' >"$state/installed"
  echo "${foreign:-}" | sed '/^$/d' >"$state/arch"
  : >"$state/calls"
  shift 3
  out=$(env -u QRCORE_SETUP -u QRCORE_SETUP_DRY_RUN "$@" FAKE="$state" PATH="$fake/bin:$PATH" QRCORE_SETUP_PAUSE=0 QRCORE_CHECK_NOTES="$state/notes" \
    bash "$setup" 2>&1) || status=$?
  calls=$(cat "$state/calls")
  current=$name
  shown=""
  expect "exit status $expected" [ "$status" = "$expected" ]
}
expect() {
  local what=$1
  shift
  if ! "$@"; then
    echo "test_setup: $current: expected $what" >&2
    [ -n "$shown" ] || printf '%s\n--- calls:\n%s\n' "$out" "$calls" | sed 's/^/  | /' >&2
    shown=yes
    failures=$((failures + 1))
  fi
}
has() { grep -qE "$2" <<<"$1"; }

situation bare-mirror-mid-sync 0 "" FAKE_I386_INDEX_FAILS=1 FAKE_UNAVAILABLE=wine32:i386
expect "the required packages in one install, first" has "$(grep -m1 install <<<"$calls")" "install cmake .*python3-pytest$"
expect "the 32-bit loader tried alone, twice" [ "$(grep -cx 'apt-get install wine32:i386' <<<"$calls")" = 2 ]
expect "the i386 architecture added for the loader, then removed" has "$calls" "remove-architecture i386"
expect "the skip reported with apt's words" has "$out" "generated breaks.*32-bit Windows suite is skipped"
expect "the Windows group installed" has "$(cat "$fake/$current/notes" 2>/dev/null)" "^Windows cross builds.*: installed"

foreign=i386 situation i386-index-unreachable-from-the-start 0 "" FAKE_I386_INDEX_FAILS=1
expect "the required packages installed all the same" has "$calls" "install cmake .*python3-pytest"
expect "the i386 architecture kept (it was there before)" bash -c "! grep -q remove-architecture <<<'$calls'"

situation required-unavailable 1 "" FAKE_UNAVAILABLE=libbenchmark-dev
expect "the reason given" has "$out" "cannot install the packages every leg needs.*libbenchmark-dev"
expect "no optional group tried" [ "$(grep -c install <<<"$calls")" = 2 ]

situation windows-unavailable 0 "" FAKE_UNAVAILABLE=wine64
expect "no i386 architecture without the Windows group" bash -c "! grep -q add-architecture <<<'$calls'"
expect "the Windows skip reported" has "$out" "Windows cross builds.*not installed"

situation not-root 2 "cmake" FAKE_UID=1000
expect "the install line" has "$out" "^dpkg --add-architecture i386 && apt-get update && apt-get install -y ninja-build .*wine32:i386$"
expect "nothing run" [ -z "$calls" ]

situation everything-there 0 "$everything"
expect "no apt-get call" [ -z "$calls" ]

[ "$failures" = 0 ] && echo "test_setup: every situation ended as it should"
exit "$failures"
