#!/usr/bin/env bash
# The seam suite and the Wine scenarios with both Windows builds (every
# CTest test of the two MinGW presets), as scripts/test.sh runs them
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
    say "seam suite and Wine scenarios ($label)"
    wine_env || return 1
    started=$(date +%s)
    (cd "$BRISALEN_ROOT" && ctest --preset "$preset" "$@") || rc=$?
    say "seam suite and Wine scenarios ($label) took $(($(date +%s) - started)) s"
    return "$rc"
}

# The 32-bit DLL is what users get: a machine that cannot run it fails the
# run rather than passing without it.
if [ "$wine32" = yes ]; then
    wine_run "i686, the product" mingw-x86 --no-tests=error "$@" || failed=1
else
    say "the i686 product cannot run here: this kernel starts no 32-bit program (ia32_emulation is off)" \
        "and the i386 emulator could not be registered with binfmt_misc (needs root)"
    failed=1
fi
# Every scenario runs with the x86_64 build: none found means a stale build tree.
wine_run x86_64 mingw-x64 --no-tests=error "$@" || failed=1
[ "$failed" = 0 ] || { say "Wine scenarios failed"; exit 1; }
