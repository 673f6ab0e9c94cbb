#!/usr/bin/env bash
# Builds the package-reading fuzz target (clang, libFuzzer, AddressSanitizer)
# in build/fuzz and runs it for a short while, seeded with the fixture
# packages. The library reads each input through the simulated machine's
# package check, so libmsi's faults on damaged packages happen in the check
# process and come back as invalid packages (1620). Any crash, hang or leak
# of the fuzz process itself fails the script; reproducers are left in
# build/fuzz/artifacts.
#
#   scripts/fuzz.sh [SECONDS]     (default 30; BRISALEN_FUZZ_SECONDS works too)
source "$(dirname "$0")/common.sh"

seconds="${1:-${BRISALEN_FUZZ_SECONDS:-30}}"
build="$BRISALEN_ROOT/build/fuzz"

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$BRISALEN_ROOT/fuzz" -B "$build" -G Ninja \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
ninja -C "$build" -j2 fixtures brisalen_fuzz_package >/dev/null

# The corpus grows between runs; the fixtures are its seeds.
corpus="$build/corpus"
mkdir -p "$corpus" "$build/artifacts"
cp -u "$build"/fixtures/*.msi "$corpus"/

say "fuzzing the package reader for ${seconds}s"
# libmsi and GLib keep type and string tables for the life of the process,
# which LeakSanitizer would report on every exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
# Each fuzzing process keeps a simulated machine here; a crash leaves it.
export TMPDIR="$build/tmp"
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
trap 'rm -rf "$TMPDIR"' EXIT
# A crash, hang or leak of the fuzz process ends the run with a reproducer.
before="$(ls "$build/artifacts" | sort)"
log="$build/fuzz.log"
"$build/bin/brisalen_fuzz_package" "$corpus" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
    -artifact_prefix="$build/artifacts/" -print_final_stats=1 >"$log" 2>&1 || true
grep -E '^#[0-9]+ +(INITED|DONE|REDUCE|NEW)|^INFO: fuzzed|^stat::|deadly|ERROR' "$log" | tail -n 12 >&2 || true
say "$(grep -c 'the package check reading it' "$log" || true) inputs were answered 1620 because the package check" \
    "process failed on them (libmsi faulted there, not here)"

failed=0
for artifact in $(comm -13 <(echo "$before") <(ls "$build/artifacts" | sort)); do
    say "the fuzz process went down: $build/artifacts/$artifact"
    "$build/bin/brisalen_fuzz_package" "$build/artifacts/$artifact" 2>&1 |
        grep -E '^ +#[0-9]+ |^SUMMARY|ERROR' | head -n 30 >&2 || true
    failed=1
done
exit "$failed"
