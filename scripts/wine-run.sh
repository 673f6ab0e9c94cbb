#!/usr/bin/env bash
# Runs one Windows program of a MinGW build under Wine in the test prefix:
# CTest's emulator for the cross builds. The 64-bit loader starts every
# program and hands a 32-bit one on to the 32-bit loader itself, so a 64-bit
# program never pays the 32-bit loader's start.
#   scripts/wine-run.sh PROGRAM [ARGS...]
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
[ $# -ge 1 ] || die "usage: $0 PROGRAM [ARGS...]"
wine_env
exec /usr/lib/wine/wine64 "$@"
