#!/usr/bin/env bash
# The Windows-side benchmarks, run under Wine with the x86_64 build (the
# one this kind of machine can run; the i686 build needs a kernel that
# starts 32-bit programs):
#
#   scripts/bench-wine.sh [--rounds N] [--entries N] [--reinstall] [check|walk|scan|delete ...]
#
#   check   the package file check of the installed 20,000-file package
#           against bare GetFileAttributesExW and CreateFileW loops
#   walk    the folder walker over a generated tree of --entries entries
#           (default 330,000) against a bare FindFirstFileExW loop
#   scan    the user-data scan of a seeded 100,000-file profile: the quick
#           pass over its roots, and the deep pass over drive C with a
#           300,000-entry tree outside the roots, each against a bare
#           FindFirstFileExW walk of the same folders; then the peak working
#           set of each scan in a fresh process, for profiles of 10,000 and
#           100,000 files
#   delete  the deletion of the music category and of a backup of that
#           profile against a bare DeleteFileW / RemoveDirectoryW loop over
#           the same files; then the peak working set of each, as above
#
# Everything happens in Wine prefixes of its own (BRISALEN_BENCH_WINEPREFIX,
# default /tmp/brisalen-bench-wine, and beside it one per profile size for
# scan and delete, whose drive Z: is taken away so that the deep pass walks
# drive C alone), never the test suite's. The package is installed with
# Wine's msiexec, timed, the first time only (--reinstall removes and
# installs it again); trees and profiles are made once.
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
        check | walk | scan | delete) parts+=("$1"); shift ;;
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
[[ " ${parts[*]} " == *" scan "* || " ${parts[*]} " == *" delete "* ]] && targets+=(brisalen Brisalen ITunesLibrary RemovePackage)
cmake --build "$build" --target "${targets[@]}" -- -j2 >&2

bench_prefix="${BRISALEN_BENCH_WINEPREFIX:-/tmp/brisalen-bench-wine}"

# Makes (once) and enters a bench prefix, with the programs in C:\bench.
use_prefix() {
    export BRISALEN_WINEPREFIX="$1"
    wine_env
    bench="$WINEPREFIX/drive_c/bench"
    mkdir -p "$bench"
    cp "$build/bin/wine_bench.exe" "$bench/"
}

run_bench() {
    (cd "$bench" && wine 'C:\bench\wine_bench.exe' "$@") | tr -d '\r'
}

load_line() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"; }

use_prefix "$bench_prefix"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'),"\
     "$(awk '/^MemTotal:/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(load_line)"
echo "wine: $(wine --version 2>/dev/null), build $preset (x86_64), prefixes $WINEPREFIX*"

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

# ---- user data -------------------------------------------------------------
# A prefix with a seeded profile of $1 media and junk files and the deep
# pass's tree at C:\Tree, made once, and entered; `library` is then its
# library file's path.
deep_entries=300000
userdata_prefix() {
    local files="$1" stamp
    use_prefix "$bench_prefix-userdata-$files"
    # Drive Z: is the whole host file system; the deep pass walks every
    # fixed drive.
    rm -f -- "$WINEPREFIX/dosdevices/z:"
    cp "$build/bin/brisalen.exe" "$build/bin/Brisalen.dll" "$build/bin/ITunesLibrary.dll" \
       "$build/bin/RemovePackage.dll" "$bench/"
    stamp="files=$files tree=$deep_entries $(sha1sum "$BRISALEN_ROOT/tests/e2e/lib/make_tree.py" | cut -c1-12)"
    if [ "$(cat "$WINEPREFIX/userdata.stamp" 2>/dev/null)" != "$stamp" ]; then
        [ ! -e "$WINEPREFIX/userdata.stamp.started" ] || die "$WINEPREFIX holds a half-seeded profile: remove the prefix"
        touch "$WINEPREFIX/userdata.stamp.started"
        say "seeding a profile of $files files in $WINEPREFIX"
        local started=$(date +%s.%N)
        (cd "$bench" && wine 'C:\bench\brisalen.exe' machine seed-user-data --files "$files" \
            --manifest 'C:\bench\manifest.json' </dev/null) | tr -d '\r' >&2 || die "seed-user-data failed"
        echo "seed-user-data --files $files under Wine: $(echo "$(date +%s.%N) - $started" | bc) s" >&2
        say "generating a tree of $deep_entries entries in C:\\Tree"
        python3 "$BRISALEN_ROOT/tests/e2e/lib/make_tree.py" "$WINEPREFIX/drive_c/Tree" --entries "$deep_entries" \
            --fanout 10 --depth 4 >&2
        echo "$stamp" >"$WINEPREFIX/userdata.stamp"
        rm -f -- "$WINEPREFIX/userdata.stamp.started"
    fi
    # The seeded backups hold a few files; a device's holds thousands, in
    # 256 folders named by the first byte of each file's hash.
    if [ ! -e "$WINEPREFIX/userdata.backup-grown" ]; then
        python3 - "$bench/manifest.json" "$WINEPREFIX/drive_c" <<'PY'
import json, os, sys, hashlib
manifest = json.load(open(sys.argv[1]))
backup = next(b for b in manifest["backups"] if b["found_by"] == "quick")
folder = os.path.join(sys.argv[2], *backup["path"].split("\\")[1:])
for i in range(10240):
    name = hashlib.sha1(b"%d" % i).hexdigest()
    os.makedirs(os.path.join(folder, name[:2]), exist_ok=True)
    with open(os.path.join(folder, name[:2], name), "wb") as f:
        f.write(os.urandom(64) * (1 + i % 64))
PY
        touch "$WINEPREFIX/userdata.backup-grown"
    fi
    library="$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["library"]["path"])' "$bench/manifest.json")"
}

# The peak working set of one piece of work, each in a fresh process, on
# both profile sizes.
peaks() {
    local files what line
    echo "peak working set, each in a fresh process (files handled, peak before the work, peak after):"
    for files in 10000 100000; do
        userdata_prefix "$files"
        for what in "$@"; do
            line="$(run_bench peak "$what" "$library")" || { echo "  peak $what failed"; return 1; }
            read -r handled before after <<<"$line"
            printf '  %-7s %6d-file profile: %7d files, %7d KiB before, %7d KiB peak, +%d KiB\n' \
                "$what" "$files" "$handled" "$before" "$after" "$((after - before))"
        done
    done
}

bench_scan() {
    userdata_prefix 100000
    echo "profile: $(python3 -c 'import json,sys; m=json.load(open(sys.argv[1])); print(m["written"]["files"], "files,", m["written"]["bytes"], "bytes")' "$bench/manifest.json"); $(load_line)"
    run_bench scan "$rounds" || return 1
    echo "$(load_line)"
    run_bench deep "$rounds" || return 1
    echo "$(load_line)"
    peaks quick deep
}

bench_delete() {
    userdata_prefix 100000
    echo "$(load_line)"
    run_bench delete "$library" "$rounds" || return 1
    echo "$(load_line)"
    peaks music backup
}

status=0
for part in "${parts[@]}"; do
    "bench_$part" || status=1
done
wineserver -w || true
exit "$status"
