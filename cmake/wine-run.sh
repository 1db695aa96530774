#!/bin/sh
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARG...]
# Runs a Windows program under Wine in PREFIX, creating the prefix first if it
# does not exist yet (its start-up notices are kept out of the program's output).
set -eu
prefix=$1
shift
WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    "$wine" wineboot --init >"$prefix.log" 2>&1
    "$wine" wineboot --shutdown >/dev/null 2>&1 || true
  fi
) 9>"$prefix.lock"
exec "$wine" "$@"
