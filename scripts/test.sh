#!/usr/bin/env bash
# Every test: installs what is missing, builds the Windows dependencies (once,
# cached outside the tree), builds the four builds, runs the native and the
# sanitizer suites, checks the 32-bit DLL's exports and the release folder
# made from that build, and runs the Wine scenarios with both Windows builds:
# the i686 product as a WOW64 process, then the x86_64 build.
source "$(dirname "$0")/common.sh"

install_packages "${BRISALEN_APT_PACKAGES[@]}"
"$BRISALEN_ROOT/scripts/build-windows-deps.sh"

for preset in linux linux-asan mingw-x86 mingw-x64; do
    say "building $preset"
    build_preset "$preset"
done

say "unit tests (linux)"
(cd "$BRISALEN_ROOT" && ctest --preset linux -j2)
say "unit tests in one process, shuffled and repeated"
"$BRISALEN_ROOT/build/linux/bin/brisalen_unit_tests" --gtest_shuffle --gtest_repeat=3 --gtest_brief=1
say "unit tests (linux, AddressSanitizer + UndefinedBehaviorSanitizer)"
(cd "$BRISALEN_ROOT" && ctest --preset linux-asan -j2)

say "fuzzing the package reader (clang, libFuzzer)"
"$BRISALEN_ROOT/scripts/fuzz.sh" 30

say "exports of the 32-bit Brisalen.dll, RemovePackage.dll and ITunesLibrary.dll"
"$BRISALEN_ROOT/tests/e2e/check-exports.sh" "$BRISALEN_ROOT/build/mingw-x86/bin/Brisalen.dll"
for companion in "$BRISALEN_ROOT/build/mingw-x86/bin/RemovePackage.dll" \
                 "$BRISALEN_ROOT/build/mingw-x86/bin/crashing/RemovePackage.dll"; do
    "$BRISALEN_ROOT/tests/e2e/check-exports.sh" "$companion" \
        CheckInstallMicrosoftStoreItunes UninstallMicrosoftStoreItunes
done
"$BRISALEN_ROOT/tests/e2e/check-exports.sh" "$BRISALEN_ROOT/build/mingw-x86/bin/ITunesLibrary.dll" \
    CreateITunesLibrary DestroyITunesLibrary

say "the release folder, installed from the mingw-x86 build"
release_out="$(mktemp -d)"
"$BRISALEN_ROOT/scripts/make-release.sh" "$release_out"
"$BRISALEN_ROOT/scripts/check-release.sh" "$release_out"/Brisalen-*-x86
rm -rf -- "$release_out"

"$BRISALEN_ROOT/scripts/test-wine.sh"
say "all tests passed"
