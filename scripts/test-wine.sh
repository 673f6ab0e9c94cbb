#!/usr/bin/env bash
# The Wine scenarios with both Windows builds, as scripts/test.sh runs them
# once the builds are there: the i686 product as a WOW64 process, then the
# x86_64 build, each timed, each in a prefix wine_env has found sound or
# made anew (a scenario of the run before may have wrecked it).
source "$(dirname "$0")/common.sh"

wine32=yes
install_wine32 || wine32=no

failed=0
wine_run() {
    local label="$1" bin="$2" started rc=0
    say "Wine scenarios ($label)"
    wine_env || return 1
    started=$(date +%s)
    "$BRISALEN_ROOT/tests/e2e/run-wine.sh" "$bin" || rc=$?
    say "Wine scenarios ($label) took $(($(date +%s) - started)) s"
    return "$rc"
}

if [ "$wine32" = yes ]; then
    wine_run "i686, the product" "$BRISALEN_ROOT/build/mingw-x86/bin" || failed=1
else
    say "Wine scenarios (i686, the product): NOT RUN - this kernel does not start 32-bit programs" \
        "(ia32_emulation is off), so Wine cannot run the 32-bit DLL here"
fi
wine_run x86_64 "$BRISALEN_ROOT/build/mingw-x64/bin" || failed=1
[ "$failed" = 0 ] || { say "Wine scenarios failed"; exit 1; }
