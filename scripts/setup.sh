#!/usr/bin/env bash
# Sets up what the test command needs from Debian's packages. As root with apt-get it installs
# what is missing: first the groups every leg needs (a failure ends the set-up, status 1, with
# apt's own words), then each optional group on its own, tried once more after a pause; an
# optional group that cannot be had is reported, and the leg it serves skips itself with the
# reason. Without root or apt-get it prints the one install line needed and exits 2 when a
# required package is missing (with only optional ones missing it says so and goes on).
#
#   QRCORE_SETUP=skip         do nothing (the machine is set up by other means)
#   QRCORE_SETUP_DRY_RUN=1    say what would be installed, change nothing
#   QRCORE_SETUP_PAUSE=N      seconds before the second try of a failed install (default 30)
#   QRCORE_CHECK_NOTES=FILE   where the one-line outcome of each group is added (the check
#                             prints the file at its end)
set -euo pipefail

# Groups: "name|packages". Every leg needs the required ones.
required=(
  "build tools|cmake ninja-build g++ pkg-config bsdextrautils"
  "test frameworks|libgtest-dev libgmock-dev libbenchmark-dev"
  "clang with its sanitizer run-times|clang libclang-rt-14-dev"
  "Python bindings|python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest"
)
optional=(
  "ccache (fast rebuilds)|ccache"
  "Python extras|python3-pandas mypy"
)
windows_group="Windows cross builds (mingw-w64, GoogleTest sources, Wine)|g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest wine wine64"
optional+=("$windows_group")
# Wine's 32-bit loader needs the i386 architecture: it is tried last, alone, and only where the
# Windows group is there to use it.
loader_group="Wine's 32-bit loader (the 32-bit Windows suite)|wine32:i386"

pause=${QRCORE_SETUP_PAUSE:-30}
dry_run=${QRCORE_SETUP_DRY_RUN:-}
notes=${QRCORE_CHECK_NOTES:-/dev/null}
log=$(mktemp)
trap 'rm -f "$log"' EXIT

say() { echo "setup: $*"; }
note() { say "$*"; echo "$*" >>"$notes"; }

[ "${QRCORE_SETUP:-}" = skip ] && { say "skipped (QRCORE_SETUP=skip)"; exit 0; }

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]; }

# missing_of "name|packages": the group's packages that are not installed.
missing_of() {
  local pkg out=()
  for pkg in ${1#*|}; do installed "$pkg" || out+=("$pkg"); done
  echo "${out[*]}"
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  # Not a Debian system: the commands the legs run are all that can be checked.
  absent=()
  for tool in cmake g++ clang++ pkg-config; do command -v "$tool" >/dev/null 2>&1 || absent+=("$tool"); done
  [ -x /usr/bin/python3 ] || absent+=(/usr/bin/python3)
  if [ ${#absent[@]} -gt 0 ]; then
    say "missing: ${absent[*]}; on Debian 12, as root:"
    echo "apt-get install -y $(printf '%s ' "${required[@]#*|}")"
    exit 2
  fi
  say "not a Debian system: the packages cannot be checked; the legs say what they lack"
  exit 0
fi

need_required=""
for group in "${required[@]}"; do need_required+=" $(missing_of "$group")"; done
need_required=$(echo $need_required)
need_optional=""
for group in "${optional[@]}" "$loader_group"; do need_optional+=" $(missing_of "$group")"; done
need_optional=$(echo $need_optional)

if [ -z "$need_required$need_optional" ]; then
  say "every package is installed"
  exit 0
fi

can_install=yes
[ "$(id -u)" = 0 ] || can_install="not root"
command -v apt-get >/dev/null 2>&1 || can_install="no apt-get"
if [ "$can_install" != yes ] || [ -n "$dry_run" ]; then
  [ -n "$dry_run" ] && can_install="dry run"
  say "missing packages, not installed ($can_install); as root:"
  line="apt-get install -y $need_required $need_optional"
  if [[ " $need_optional " == *" wine32:i386 "* ]]; then
    line="dpkg --add-architecture i386 && apt-get update && $line"
  fi
  echo "$(echo $line)"
  if [ -n "$need_required" ] && [ -z "$dry_run" ]; then exit 2; fi
  [ -n "$need_optional" ] && say "the legs that need the optional packages will be skipped"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -q -y -o DPkg::Lock::Timeout=600 "$@"; }

# update: refreshes the indexes. A failure (an index mid-sync, an unreachable architecture) is
# reported, not fatal: the installs that follow say whether what they need could be fetched.
update() {
  if apt_get update >"$log" 2>&1; then return 0; fi
  say "apt-get update failed for some indexes (going on with those fetched):"
  grep -E '^(E|W|Err):' "$log" | tail -n 5 | sed 's/^/  /' || true
}

# try_install GROUP-NAME PACKAGES...: two tries, with an update and a pause between them.
# On failure the last lines of apt's output are in $log.
try_install() {
  local name=$1
  shift
  say "installing $name: $*"
  apt_get install "$@" >"$log" 2>&1 && return 0
  say "install of $name failed; trying again in ${pause}s"
  sleep "$pause"
  update
  apt_get install "$@" >"$log" 2>&1
}
apt_words() { { grep -E '^(E|W):' "$log" || tail -n 1 "$log"; } | tail -n 3 | tr '\n' ' ' | sed 's/ *$//'; }

started=$SECONDS
update
if [ -n "$need_required" ]; then
  # shellcheck disable=SC2086  # a list of package names
  if ! try_install "the packages every leg needs" $need_required; then
    say "cannot install the packages every leg needs ($need_required):"
    tail -n 15 "$log" | sed 's/^/  /'
    exit 1
  fi
fi
for group in "${optional[@]}"; do
  pkgs=$(missing_of "$group")
  [ -z "$pkgs" ] && continue
  # shellcheck disable=SC2086
  if try_install "${group%%|*}" $pkgs; then
    note "${group%%|*}: installed"
  else
    note "${group%%|*}: not installed ($(apt_words)); the legs that need it are skipped"
  fi
done

pkgs=$(missing_of "$loader_group")
if [ -n "$pkgs" ]; then
  if [ -n "$(missing_of "$windows_group")" ]; then
    note "${loader_group%%|*}: not installed, the Windows cross builds are not there to use it"
  else
    added=""
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
      added=yes
      update
    fi
    if try_install "${loader_group%%|*}" $pkgs; then
      note "${loader_group%%|*}: installed"
    else
      note "${loader_group%%|*}: not installed ($(apt_words)); the 32-bit Windows suite is skipped"
      # An architecture nothing uses would only make every later update fetch its index.
      if [ -n "$added" ] && [ -z "$(dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -x i386)" ]; then
        dpkg --remove-architecture i386 || true
      fi
    fi
  fi
fi
say "done ($((SECONDS - started)) s)"
