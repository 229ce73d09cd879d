#!/usr/bin/env bash
# Builds a Win32 test program with the 64-bit mingw-w64 compiler and runs it under wine64.
#   run_wine.sh <work folder> <test name> <source root> <compiler flags, sources, -l libs...>
# The Wine prefix lives in <work folder> (made once with wineboot) and is used by one test at a
# time. Every step has a time limit, so a misbehaving Wine fails the test instead of hanging it.
set -uo pipefail
work="$1" name="$2" root="$3"
shift 3

: "${TAVIX_MINGW64_CXX:=x86_64-w64-mingw32-g++-posix}"
: "${TAVIX_WINE64:=wine64}"
: "${TAVIX_WINESERVER:=wineserver}"

if [ -z "${DISPLAY:-}" ]; then
  echo "skipped: Wine needs an X display (DISPLAY is not set)"
  exit 77
fi

mkdir -p "$work"
exe="$work/$name.exe"
if ! timeout -k 10 300 "$TAVIX_MINGW64_CXX" -std=c++17 -Wall -Wextra -Werror -O1 -static \
    -DTAVIX_PLATFORM_WIN32=1 -I "$root" -o "$exe" "$@"; then
  echo "FAIL: $name does not build with $TAVIX_MINGW64_CXX"
  exit 1
fi

export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts.
export WINEDLLOVERRIDES="mscoree,mshtml="

exec 9>"$work/prefix.lock"
if ! flock -w 900 9; then
  echo "FAIL: the Wine prefix stayed locked"
  exit 1
fi

log="$work/$name.log"
if [ ! -f "$WINEPREFIX/.tavix-ready" ]; then
  if ! timeout -k 10 300 "$TAVIX_WINE64" wineboot -i >"$log" 2>&1; then
    cat "$log"
    echo "FAIL: wineboot did not finish"
    exit 1
  fi
  touch "$WINEPREFIX/.tavix-ready"
fi

# Wine's own processes get the log, not the caller's output pipe, so nothing lingers on it.
timeout -k 10 600 "$TAVIX_WINE64" "$exe" >"$log" 2>&1
rc=$?
cat "$log"
# Let this prefix's server end before the next test takes it.
timeout -k 5 30 "$TAVIX_WINESERVER" -w >/dev/null 2>&1 || "$TAVIX_WINESERVER" -k >/dev/null 2>&1
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "FAIL: $name did not finish in time"
fi
exit $rc
