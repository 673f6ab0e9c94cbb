#!/usr/bin/env bash
# Every test: installs what is missing, builds the Windows dependencies (once,
# cached outside the tree), builds the four builds, runs the native and the
# sanitizer suites, checks the 32-bit DLL's exports and runs the Wine
# scenarios with both Windows builds: the i686 product as a WOW64 process,
# then the x86_64 build.
source "$(dirname "$0")/common.sh"

install_packages "${BRISALEN_APT_PACKAGES[@]}"
wine32=yes
install_wine32 || wine32=no
"$BRISALEN_ROOT/scripts/build-windows-deps.sh"

for preset in linux linux-asan mingw-x86 mingw-x64; do
    say "building $preset"
    build_preset "$preset"
done

say "unit tests (linux)"
(cd "$BRISALEN_ROOT" && ctest --preset linux -j2)
say "unit tests (linux, AddressSanitizer + UndefinedBehaviorSanitizer)"
(cd "$BRISALEN_ROOT" && ctest --preset linux-asan -j2)

say "fuzzing the package reader (clang, libFuzzer)"
"$BRISALEN_ROOT/scripts/fuzz.sh" 30

say "exports of the 32-bit Brisalen.dll"
"$BRISALEN_ROOT/tests/e2e/check-exports.sh" "$BRISALEN_ROOT/build/mingw-x86/bin/Brisalen.dll"

# Each run gets a sound prefix: wine_env makes it anew if the run before
# left it wrecked.
wine_failed=0
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
    wine_run "i686, the product" "$BRISALEN_ROOT/build/mingw-x86/bin" || wine_failed=1
else
    say "Wine scenarios (i686, the product): NOT RUN - this kernel does not start 32-bit programs" \
        "(ia32_emulation is off), so Wine cannot run the 32-bit DLL here"
fi
wine_run x86_64 "$BRISALEN_ROOT/build/mingw-x64/bin" || wine_failed=1
[ "$wine_failed" = 0 ] || { say "Wine scenarios failed"; exit 1; }
say "all tests passed"
