#!/usr/bin/env bash
# Builds the package-reading fuzz target (clang, libFuzzer, AddressSanitizer)
# in build/fuzz and runs it for a short while, seeded with the fixture
# packages. Reproducers of every crash are left in build/fuzz/artifacts; a
# crash in our code fails the script, one inside libmsi is reported.
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
# libmsi (third party, not instrumented) faults on some damaged packages
# within seconds. Fork mode keeps fuzzing past such a crash so our own code
# still gets the whole run; every crash is replayed below and judged by
# where it happened.
before="$(ls "$build/artifacts" | sort)"
"$build/bin/brisalen_fuzz_package" "$corpus" \
    -fork=1 -ignore_crashes=1 -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 \
    -artifact_prefix="$build/artifacts/" -print_final_stats=1 2>&1 |
    grep -E '^#|^INFO: fuzzed|^stat::|crash|deadly|ERROR' | tail -n 40 >&2 || true

ours=0
for artifact in $(comm -13 <(echo "$before") <(ls "$build/artifacts" | sort)); do
    report="$("$build/bin/brisalen_fuzz_package" "$build/artifacts/$artifact" 2>&1 || true)"
    frame="$(grep -m1 -E '^ +#0 ' <<<"$report" || true)"
    summary="$(grep -m1 '^SUMMARY' <<<"$report" || echo "no reproduction")"
    if grep -q 'libmsi\.so' <<<"$frame"; then
        say "third-party crash inside libmsi: $artifact ($summary)"
    else
        say "CRASH in our code: $build/artifacts/$artifact"
        printf '%s\n' "$report" | grep -E '^ +#[0-9]+ |^SUMMARY|ERROR' | head -n 30 >&2
        ours=1
    fi
done
exit "$ours"
