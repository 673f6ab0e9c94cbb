#!/usr/bin/env bash
# The Wine scenarios with both Windows builds, as scripts/test.sh runs them
# once the builds are there: the i686 product as a WOW64 process, then the
# x86_64 build, each timed, each in a prefix wine_env has found sound or
# made anew (a scenario of the run before may have wrecked it). Each
# scenario file is a CTest test of its build (label wine, tests/e2e), so
# one runs alone with `ctest --preset mingw-x64 -R wine.95-onekey`.
# Usage: test-wine.sh [CTEST ARGS...]   (e.g. -R 'wine\.9' for some of them)
source "$(dirname "$0")/common.sh"

wine32=yes
install_wine32 || wine32=no

failed=0
wine_run() {
    local label="$1" preset="$2" started rc=0
    shift 2
    say "Wine scenarios ($label)"
    wine_env || return 1
    started=$(date +%s)
    (cd "$BRISALEN_ROOT" && ctest --preset "$preset" -L wine "$@") || rc=$?
    say "Wine scenarios ($label) took $(($(date +%s) - started)) s"
    return "$rc"
}

if [ "$wine32" = yes ]; then
    wine_run "i686, the product" mingw-x86 "$@" || failed=1
else
    say "Wine scenarios (i686, the product): NOT RUN - this kernel does not start 32-bit programs" \
        "(ia32_emulation is off), so Wine cannot run the 32-bit DLL here"
fi
# Every scenario runs with the x86_64 build: none found means a stale build tree.
wine_run x86_64 mingw-x64 --no-tests=error "$@" || failed=1
[ "$failed" = 0 ] || { say "Wine scenarios failed"; exit 1; }
