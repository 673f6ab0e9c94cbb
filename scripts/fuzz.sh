#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer) in build/fuzz
# and runs each for a short while:
#
#  - the package reader, seeded with the fixture packages. The library reads
#    each input through the simulated machine's package check, so libmsi's
#    faults on damaged packages happen in the check process and come back as
#    invalid packages (1620);
#  - the property-list reader of the backup parser, seeded with the
#    property lists of generated backups (tests/gen/make_user_data.py),
#    binary, XML and hostile ones.
#
# The seconds are shared between the two, so the run takes as long as asked.
# Any crash, hang or leak of a fuzz process fails the script; reproducers
# are left in build/fuzz/artifacts.
#
#   scripts/fuzz.sh [SECONDS]     (default 30; BRISALEN_FUZZ_SECONDS works too)
source "$(dirname "$0")/common.sh"

seconds="${1:-${BRISALEN_FUZZ_SECONDS:-30}}"
build="$BRISALEN_ROOT/build/fuzz"
package_seconds=$(( (seconds + 1) / 2 ))
plist_seconds=$(( seconds / 2 > 0 ? seconds / 2 : 1 ))

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$BRISALEN_ROOT/fuzz" -B "$build" -G Ninja \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
ninja -C "$build" -j2 fixtures brisalen_fuzz_package brisalen_fuzz_plist >/dev/null

# The corpora grow between runs; the fixtures and generated plists are seeds.
package_corpus="$build/corpus"
plist_corpus="$build/corpus-plist"
mkdir -p "$package_corpus" "$plist_corpus" "$build/artifacts"
cp -u "$build"/fixtures/*.msi "$package_corpus"/
seeds="$build/plist-seeds"
if [ ! -f "$seeds/user-data.json" ]; then
    rm -rf "$seeds"
    python3 "$BRISALEN_ROOT/tests/gen/make_user_data.py" backups "$seeds" --count 4 --files-per-backup 0 --hostile
fi
# Every property list but the huge one (which the reader refuses by size).
find "$seeds" -name '*.plist' -type f -size -1024k | while read -r plist; do
    cp -u "$plist" "$plist_corpus/$(basename "$(dirname "$plist")")-$(basename "$plist")"
done

# libmsi and GLib keep type and string tables for the life of the process,
# which LeakSanitizer would report on every exit.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
# Each fuzzing process keeps a simulated machine here; a crash leaves it.
export TMPDIR="$build/tmp"
rm -rf "$TMPDIR" && mkdir -p "$TMPDIR"
trap 'rm -rf "$TMPDIR"' EXIT

failed=0
# run_target NAME BINARY CORPUS SECONDS [libFuzzer options...]
run_target() {
    local name=$1 binary=$2 corpus=$3 time=$4
    shift 4
    say "fuzzing the $name for ${time}s"
    # A crash, hang or leak of the fuzz process ends the run with a reproducer.
    local before log artifact
    before="$(ls "$build/artifacts" | sort)"
    log="$build/fuzz-$name.log"
    log="${log// /-}"
    "$binary" "$corpus" -max_total_time="$time" -rss_limit_mb=2048 -timeout=25 \
        -artifact_prefix="$build/artifacts/" -print_final_stats=1 "$@" >"$log" 2>&1 || true
    grep -E '^#[0-9]+ +(INITED|DONE|REDUCE|NEW)|^INFO: fuzzed|^stat::|deadly|ERROR' "$log" | tail -n 12 >&2 || true
    for artifact in $(comm -13 <(echo "$before") <(ls "$build/artifacts" | sort)); do
        say "the $name fuzz process went down: $build/artifacts/$artifact"
        "$binary" "$build/artifacts/$artifact" 2>&1 |
            grep -E '^ +#[0-9]+ |^SUMMARY|ERROR' | head -n 30 >&2 || true
        failed=1
    done
}

run_target "package reader" "$build/bin/brisalen_fuzz_package" "$package_corpus" "$package_seconds"
say "$(grep -c 'the package check reading it' "$build/fuzz-package-reader.log" || true) inputs were answered 1620" \
    "because the package check process failed on them (libmsi faulted there, not here)"
# Inputs up to 64 KiB: enough for every structure of both forms.
run_target "plist reader" "$build/bin/brisalen_fuzz_plist" "$plist_corpus" "$plist_seconds" -max_len=65536
exit "$failed"
