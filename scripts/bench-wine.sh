#!/usr/bin/env bash
# The Windows-side benchmarks, run under Wine with the x86_64 build (the
# one this kind of machine can run; the i686 build needs a kernel that
# starts 32-bit programs):
#
#   scripts/bench-wine.sh [--rounds N] [--entries N] [--reinstall] [check|walk ...]
#
#   check  the package file check of the installed 20,000-file package
#          against bare GetFileAttributesExW and CreateFileW loops
#   walk   the folder walker over a generated tree of --entries entries
#          (default 330,000) against a bare FindFirstFileExW loop
#
# Everything happens in a Wine prefix of its own (BRISALEN_BENCH_WINEPREFIX,
# default /tmp/brisalen-bench-wine), never the test suite's. The package is
# installed with Wine's msiexec, timed, the first time only (--reinstall
# removes and installs it again); the tree is made once per entry count.
# Builds only what it runs, with at most two jobs.
source "$(dirname "$0")/common.sh"

rounds=7
entries=330000
reinstall=no
parts=()
while [ $# -gt 0 ]; do
    case "$1" in
        --rounds) rounds="$2"; shift 2 ;;
        --entries) entries="$2"; shift 2 ;;
        --reinstall) reinstall=yes; shift ;;
        check | walk) parts+=("$1"); shift ;;
        *) die "unknown argument: $1 (see the head of $0)" ;;
    esac
done
[ ${#parts[@]} -gt 0 ] || parts=(check walk)

preset=mingw-x64
build="$BRISALEN_ROOT/build/$preset"
say "building wine_bench and the 20,000-file package ($preset)"
(cd "$BRISALEN_ROOT" && { [ -f "$build/build.ninja" ] || cmake --preset "$preset" >/dev/null; })
targets=(wine_bench)
[[ " ${parts[*]} " == *" check "* ]] && targets+=(fixtures_big)
cmake --build "$build" --target "${targets[@]}" -- -j2 >&2

export BRISALEN_WINEPREFIX="${BRISALEN_BENCH_WINEPREFIX:-/tmp/brisalen-bench-wine}"
wine_env
bench="$WINEPREFIX/drive_c/bench"
mkdir -p "$bench"
cp "$build/bin/wine_bench.exe" "$bench/"

run_bench() {
    (cd "$bench" && wine 'C:\bench\wine_bench.exe' "$@") | tr -d '\r'
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"\
     "$(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "wine: $(wine --version 2>/dev/null), build $preset (x86_64), prefix $WINEPREFIX"

# ---- file check ------------------------------------------------------------
big_field() {
    python3 - "$build/fixtures-big/fixtures.json" "$1" <<'PY'
import json, sys
for p in json.load(open(sys.argv[1]))["packages"]:
    if p["file"] == "Big.msi":
        print(p[sys.argv[2]])
PY
}

big_registered() {
    wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /v DisplayName \
        </dev/null >/dev/null 2>&1
}

bench_check() {
    local code dir count started
    code="$(big_field productCode)"
    dir="$(big_field installDirX64Windows)"
    count="$(big_field fileCount)"
    if [ "$reinstall" = yes ] && big_registered "$code"; then
        say "removing the installed package"
        started=$(date +%s.%N)
        wine msiexec /x "$code" /qn </dev/null >/dev/null 2>&1 || die "msiexec /x failed"
        echo "msiexec /x Big.msi ($count files): $(echo "$(date +%s.%N) - $started" | bc) s"
    fi
    if ! big_registered "$code" || ! cmp -s "$build/fixtures-big/Big.msi" "$bench/Big.msi"; then
        cp "$build/fixtures-big/Big.msi" "$bench/Big.msi"
        say "installing Big.msi with msiexec"
        started=$(date +%s.%N)
        wine msiexec /i 'C:\bench\Big.msi' /qn </dev/null >/dev/null 2>&1 || die "msiexec /i Big.msi failed"
        echo "msiexec /i /qn Big.msi ($count files): $(echo "$(date +%s.%N) - $started" | bc) s"
    else
        echo "Big.msi already installed in this prefix (--reinstall times the install again)"
    fi
    run_bench check 'C:\bench\Big.msi' "$dir" "$count" "$rounds"
}

# ---- walk --------------------------------------------------------------------
bench_walk() {
    local tree="$WINEPREFIX/drive_c/benchtree" stamp
    stamp="entries=$entries $(sha1sum "$BRISALEN_ROOT/tests/e2e/lib/make_tree.py" | cut -c1-12)"
    if [ "$(cat "$WINEPREFIX/drive_c/benchtree.stamp" 2>/dev/null)" != "$stamp" ]; then
        say "generating a tree of $entries entries in C:\\benchtree"
        rm -rf -- "$tree" "$WINEPREFIX/drive_c/benchtree.stamp"
        python3 "$BRISALEN_ROOT/tests/e2e/lib/make_tree.py" "$tree" --entries "$entries"
        echo "$stamp" >"$WINEPREFIX/drive_c/benchtree.stamp"
    fi
    echo "tree C:\\benchtree: $(find "$tree" -type f | wc -l) files, $(find "$tree" -mindepth 1 -type d | wc -l) folders"
    run_bench walk 'C:\benchtree' "$rounds"
}

status=0
for part in "${parts[@]}"; do
    "bench_$part" || status=1
done
wineserver -w || true
exit "$status"
