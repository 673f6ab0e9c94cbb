#!/usr/bin/env bash
# build-windows-deps.sh - build the third-party libraries the Windows DLL links
# against (libplist, libxml2, fmt) as static MinGW-w64 libraries, from Debian's
# own source packages, into a cache folder outside the source tree.
#
# Usage: scripts/build-windows-deps.sh [--cache DIR] [--target TRIPLET]... [--no-wine]
#
#   --cache DIR        cache folder (default: ${BRISALEN_DEPS_CACHE:-$HOME/.cache/brisalen-deps})
#   --target TRIPLET   i686-w64-mingw32 or x86_64-w64-mingw32; may be repeated
#                      (default: both)
#   --no-wine          do not run the x86_64 check program under wine (link only)
#
# Layout of the cache:
#   $CACHE/<triplet>/                 install prefix for one target
#       include/ lib/*.a lib/pkgconfig/ lib/cmake/ toolchain.cmake
#       .brisalen-deps.stamp          written last, after the check program passed
#   $CACHE/src/<pkg>_<version>/       Debian source packages (shared by both targets)
#   $CACHE/build/<triplet>/           out-of-tree build dirs (removed after success)
#   $CACHE/logs/<triplet>/            configure/build logs of the last build
#
# A target whose stamp matches (build recipe, prefix, Debian source versions) and
# whose files are all present is not rebuilt; if every requested target is up to
# date the script only prints the layout and exits 0.  Builds need root (or sudo)
# only for apt: adding a deb-src entry, apt-get update, installing missing tools.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

readonly TRIPLETS_KNOWN=(i686-w64-mingw32 x86_64-w64-mingw32)
readonly SRC_PACKAGES=(libplist libxml2 fmtlib)
readonly DEB_SRC_FILE=/etc/apt/sources.list.d/brisalen-deb-src.sources
readonly STAMP_NAME=.brisalen-deps.stamp
SCRIPT_PATH=$(readlink -f "${BASH_SOURCE[0]}")
readonly SCRIPT_PATH
readonly CHECK_PROGRAM="$BRISALEN_ROOT/scripts/windows-deps-check.cpp"

JOBS=$(nproc 2>/dev/null || echo 1)
if [ "$JOBS" -gt 2 ]; then JOBS=2; fi

usage() {
    sed -n '2,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$SCRIPT_PATH"
}

# ---------------------------------------------------------------- arguments
CACHE=$BRISALEN_DEPS_CACHE
TARGETS=()
RUN_WINE=1

parse_args() {
    while [ $# -gt 0 ]; do
        case "$1" in
            --cache) [ $# -ge 2 ] || die "--cache needs a directory"; CACHE=$2; shift 2 ;;
            --cache=*) CACHE=${1#--cache=}; shift ;;
            --target) [ $# -ge 2 ] || die "--target needs a triplet"; TARGETS+=("$2"); shift 2 ;;
            --target=*) TARGETS+=("${1#--target=}"); shift ;;
            --no-wine) RUN_WINE=0; shift ;;
            -h|--help) usage; exit 0 ;;
            *) die "unknown argument: $1 (see --help)" ;;
        esac
    done
    if [ ${#TARGETS[@]} -eq 0 ]; then TARGETS=("${TRIPLETS_KNOWN[@]}"); fi

    # Validate and de-duplicate the targets, keeping the order given.
    local -A seen=()
    local uniq_targets=() t
    for t in "${TARGETS[@]}"; do
        case " ${TRIPLETS_KNOWN[*]} " in
            *" $t "*) ;;
            *) die "unsupported target '$t' (known: ${TRIPLETS_KNOWN[*]})" ;;
        esac
        if [ -z "${seen[$t]:-}" ]; then seen[$t]=1; uniq_targets+=("$t"); fi
    done
    TARGETS=("${uniq_targets[@]}")

    [ -n "$CACHE" ] || die "empty cache directory"
    # Resolve the path (symlinks included) before creating anything.
    CACHE=$(realpath -m -- "$CACHE")
    case "$CACHE/" in
        "$(realpath -- "$BRISALEN_ROOT")"/*)
            die "cache $CACHE is inside the source tree $BRISALEN_ROOT; pick a folder outside it" ;;
    esac
}

# ------------------------------------------------------------- version query
# Newest version of a Debian source package that apt knows about (empty when
# there is no deb-src index for it).
src_version() {
    local pkg=$1 best="" v
    while read -r v; do
        [ -n "$v" ] || continue
        if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
    done < <(apt-cache showsrc "$pkg" 2>/dev/null |
             awk -v p="$pkg" '/^Package:/{cur=$2} /^Version:/{if (cur==p) print $2}')
    printf '%s' "$best"
}

declare -A VERSION=()
resolve_versions() {  # returns non-zero when some version is unknown
    local p ok=0
    for p in "${SRC_PACKAGES[@]}"; do
        VERSION[$p]=$(src_version "$p")
        [ -n "${VERSION[$p]}" ] || ok=1
    done
    return $ok
}

# ------------------------------------------------------------- cache checks
prefix_of() { printf '%s/%s' "$CACHE" "$1"; }

required_files() {
    local p=$1
    printf '%s\n' \
        "$p/lib/libplist-2.0.a" "$p/lib/libxml2.a" "$p/lib/libfmt.a" \
        "$p/include/plist/plist.h" "$p/include/libxml2/libxml/parser.h" \
        "$p/include/fmt/format.h" "$p/lib/cmake/fmt/fmt-config.cmake" \
        "$p/lib/pkgconfig/libplist-2.0.pc" "$p/lib/pkgconfig/libxml-2.0.pc" \
        "$p/lib/pkgconfig/fmt.pc" "$p/toolchain.cmake"
}

# What the built files depend on besides the source versions: the steps that
# fetch, patch and build them, as bash prints them back (comments dropped),
# so changes elsewhere in the scripts do not cost a rebuild.
recipe_hash() {
    {
        declare -p SRC_PACKAGES
        declare -f required_files fetch_source write_toolchain build_fmt autotools_env build_libxml2 \
            build_libplist build_target
    } | sha256sum | cut -d' ' -f1
}

stamp_text() {  # expected stamp content for a target
    local t=$1 p
    printf 'recipe-sha256=%s\n' "$RECIPE_HASH"
    printf 'target=%s\n' "$t"
    printf 'prefix=%s\n' "$(prefix_of "$t")"
    for p in "${SRC_PACKAGES[@]}"; do printf '%s=%s\n' "$p" "${VERSION[$p]}"; done
}

# A target is complete when every file is there and the stamp matches.  When
# apt has no source index (e.g. a cache copied to another machine) the versions
# recorded in the stamp are trusted.
target_complete() {
    local t=$1 prefix stamp f
    prefix=$(prefix_of "$t")
    stamp="$prefix/$STAMP_NAME"
    [ -f "$stamp" ] || return 1
    while read -r f; do [ -f "$f" ] || return 1; done < <(required_files "$prefix")
    if [ "$VERSIONS_KNOWN" = 1 ]; then
        [ "$(cat "$stamp")" = "$(stamp_text "$t")" ] || return 1
    else
        grep -qx "recipe-sha256=$RECIPE_HASH" "$stamp" || return 1
        grep -qx "prefix=$prefix" "$stamp" || return 1
    fi
}

# The targets among the arguments whose cache is not complete, one a line.
targets_to_build() {
    local t
    for t in "$@"; do
        if target_complete "$t"; then
            say "$t: cache is up to date ($(prefix_of "$t"))"
        else
            printf '%s\n' "$t"
        fi
    done
}

print_layout() {
    local t p
    for t in "${TARGETS[@]}"; do
        p=$(prefix_of "$t")
        cat <<EOF
[deps] $t -> $p
         static libs : $p/lib/libplist-2.0.a $p/lib/libplist++-2.0.a $p/lib/libxml2.a $p/lib/libfmt.a
         include dirs: $p/include  $p/include/libxml2
         fmt cmake   : $p/lib/cmake/fmt   (find_package(fmt CONFIG), target fmt::fmt)
         libxml2 cmake: $p/lib/cmake/libxml2
         pkg-config  : PKG_CONFIG_LIBDIR=$p/lib/pkgconfig  (fmt libxml-2.0 libplist-2.0 libplist++-2.0; use --static)
         toolchain   : $p/toolchain.cmake
         defines     : LIBXML_STATIC LIBPLIST_STATIC ; link also -lws2_32
EOF
    done
}

# ---------------------------------------------------------- host preparation
needed_packages() {
    local t
    printf '%s\n' dpkg-dev cmake make autoconf automake libtool pkg-config \
        xz-utils bzip2 patch
    for t in "${TARGETS[@]}"; do
        case "$t" in
            i686-w64-mingw32) echo g++-mingw-w64-i686-posix ;;
            x86_64-w64-mingw32)
                echo g++-mingw-w64-x86-64-posix
                if [ "$RUN_WINE" = 1 ]; then echo wine; echo wine64; fi ;;
        esac
    done
}

# Any deb-src entry configured at all?
have_deb_src() {
    grep -Eqs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list && return 0
    grep -Eqis '^Types:.*(^|[[:space:]:])deb-src([[:space:]]|$)' /etc/apt/sources.list.d/*.sources && return 0
    return 1
}

# Mirror the Debian archive entries with Types: deb-src.  deb822 stanzas are
# copied with their Types line replaced; one-line "deb ..." entries become
# deb822 stanzas too.  Only entries whose URI mentions "debian" are mirrored,
# so third-party repositories without source indexes don't break apt-get update.
add_deb_src() {
    local tmp f
    tmp=$(mktemp)
    for f in /etc/apt/sources.list.d/*.sources; do
        if [ ! -f "$f" ] || [ "$f" = "$DEB_SRC_FILE" ]; then continue; fi
        awk '
            function flush() {
                if (n && isdeb && uri ~ /debian/ && !disabled) {
                    for (i = 1; i <= n; i++) print lines[i]
                    print ""
                }
                n = 0; isdeb = 0; uri = ""; disabled = 0
            }
            /^[ \t]*$/ { flush(); next }
            {
                line = $0; low = tolower(line)
                if (low ~ /^types:/) {
                    t = line; sub(/^[^:]*:/, "", t)
                    if (t ~ /(^|[ \t])deb([ \t]|$)/) isdeb = 1
                    line = "Types: deb-src"
                } else if (low ~ /^uris:/) {
                    uri = line
                } else if (low ~ /^enabled:[ \t]*no/) {
                    disabled = 1
                }
                lines[++n] = line
            }
            END { flush() }' "$f" >>"$tmp"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        # deb [opts] URI SUITE COMPONENT...
        awk '$1 == "deb" && /debian/ {
                 i = 2; opts = ""
                 if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
                 uri = $i; suite = $(i + 1); comps = ""
                 for (j = i + 2; j <= NF; j++) comps = comps " " $j
                 print "Types: deb-src"; print "URIs: " uri; print "Suites: " suite
                 print "Components:" comps
                 if (opts ~ /signed-by=/) { s = opts; sub(/.*signed-by=/, "", s); sub(/[ \]].*/, "", s); print "Signed-By: " s }
                 print ""
             }' "$f" >>"$tmp"
    done
    [ -s "$tmp" ] || { rm -f "$tmp"; die "no Debian apt source found to mirror as deb-src"; }
    say "adding deb-src entries in $DEB_SRC_FILE"
    as_root install -m 0644 "$tmp" "$DEB_SRC_FILE"
    rm -f "$tmp"
}

# The build tools, and the Debian source versions (which need a deb-src entry
# for the Debian archive and fresh package lists).
prepare_host() {
    local needed=()
    mapfile -t needed < <(needed_packages)
    install_packages "${needed[@]}"
    [ "$VERSIONS_KNOWN" = 0 ] || return 0
    have_deb_src || add_deb_src
    say "apt-get update"
    apt_update
    if ! resolve_versions && [ ! -f "$DEB_SRC_FILE" ]; then
        # Some deb-src entry existed, but not for the Debian archive.
        add_deb_src
        apt_update
    fi
    resolve_versions || die "apt knows no source for: $(for p in "${SRC_PACKAGES[@]}"; do [ -n "${VERSION[$p]}" ] || printf '%s ' "$p"; done)"
    VERSIONS_KNOWN=1
}

# ------------------------------------------------------------------ sources
# run_logged LOGFILE CMD... : run quietly, show the log tail on failure.
run_logged() {
    local logf=$1; shift
    if ! "$@" >>"$logf" 2>&1; then
        say "command failed: $*"
        say "last lines of $logf:"
        tail -n 40 "$logf" >&2
        exit 1
    fi
}

declare -A SRCDIR=()
fetch_source() {
    local pkg=$1 ver=${VERSION[$1]} work dir logf
    work="$CACHE/src/${pkg}_${ver}"
    logf="$CACHE/logs/src-${pkg}.log"
    if [ -f "$work/.ready" ]; then
        SRCDIR[$pkg]=$(cat "$work/.ready")
        say "source $pkg $ver: reusing $work"
        return
    fi
    # Drop older versions and any half-finished attempt.
    rm -rf "$CACHE/src/${pkg}_"*
    mkdir -p "$work"
    : >"$logf"
    say "source $pkg $ver: apt-get source into $work"
    (cd "$work" && run_logged "$logf" apt-get -o APT::Sandbox::User="$(id -un)" \
        source -q --only-source "$pkg=$ver")
    dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    [ -n "$dir" ] || die "apt-get source $pkg produced no directory"

    case "$pkg" in
        libplist)
            # The private header marks the API dllexport on Windows, which in a
            # static archive would make every DLL linking it re-export plist_*.
            # Let LIBPLIST_STATIC turn that off (newer libplist spells it so).
            if ! grep -q LIBPLIST_STATIC "$dir/src/plist.h"; then
                sed -i '/^#ifdef WIN32$/{N;s/^#ifdef WIN32\n\(  #define PLIST_API __declspec( dllexport )\)/#if defined(LIBPLIST_STATIC)\n  #define PLIST_API\n#elif defined(WIN32)\n\1/}' \
                    "$dir/src/plist.h"
                grep -q LIBPLIST_STATIC "$dir/src/plist.h" || die "could not adjust libplist src/plist.h"
            fi
            say "source $pkg: autoreconf"
            (cd "$dir" && run_logged "$logf" autoreconf -fi) ;;
        libxml2)
            # Debian's patches touch Makefile.am; regenerate with the local autotools.
            say "source $pkg: autoreconf"
            (cd "$dir" && run_logged "$logf" autoreconf -fi) ;;
    esac
    printf '%s\n' "$dir" >"$work/.ready"
    SRCDIR[$pkg]=$dir
}

# ------------------------------------------------------------------- builds
write_toolchain() {  # write_toolchain TRIPLET PREFIX
    local t=$1 prefix=$2 proc=${1%%-*}
    cat >"$prefix/toolchain.cmake" <<EOF
# CMake toolchain for $t (MinGW-w64, posix thread model); generated by
# scripts/build-windows-deps.sh.  Dependencies are found in this prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $proc)
set(CMAKE_C_COMPILER $(command -v "$t-gcc-posix"))
set(CMAKE_CXX_COMPILER $(command -v "$t-g++-posix"))
set(CMAKE_RC_COMPILER $(command -v "$t-windres"))
set(CMAKE_AR $(command -v "$t-ar") CACHE FILEPATH "")
set(CMAKE_RANLIB $(command -v "$t-ranlib") CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/$t $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

build_fmt() {  # TRIPLET PREFIX BUILDROOT LOGDIR
    local t=$1 prefix=$2 b="$3/fmt" logf="$4/fmt.log"
    say "$t: fmt (cmake)"
    run_logged "$logf" cmake -S "${SRCDIR[fmtlib]}" -B "$b" -G "Unix Makefiles" \
        -DCMAKE_TOOLCHAIN_FILE="$prefix/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR=lib \
        -DFMT_TEST=OFF -DFMT_DOC=OFF -DBUILD_SHARED_LIBS=OFF
    run_logged "$logf" cmake --build "$b" -j "$JOBS"
    run_logged "$logf" cmake --install "$b"
}

# Common environment for the autotools cross builds.
autotools_env() {  # TRIPLET PREFIX -> prints VAR=value words for env
    local t=$1 prefix=$2
    printf '%s\n' "CC=$t-gcc-posix" "CXX=$t-g++-posix" \
        "AR=$t-ar" "RANLIB=$t-ranlib" "NM=$t-nm" "STRIP=$t-strip" \
        "CFLAGS=-O2" "CXXFLAGS=-O2" "LDFLAGS=" "LIBS=" \
        "PKG_CONFIG=pkg-config" "PKG_CONFIG_PATH=" \
        "PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig"
}

build_libxml2() {  # TRIPLET PREFIX BUILDROOT LOGDIR
    local t=$1 prefix=$2 b="$3/libxml2" logf="$4/libxml2.log" envv=()
    mapfile -t envv < <(autotools_env "$t" "$prefix")
    mkdir -p "$b"
    say "$t: libxml2 (configure)"
    # configure adds -DLIBXML_STATIC itself for a --disable-shared Windows build
    # (also to libxml-2.0.pc and the CMake config).
    (cd "$b" && run_logged "$logf" env "${envv[@]}" CPPFLAGS= \
        "${SRCDIR[libxml2]}/configure" --host="$t" --build="$BUILD_TRIPLET" \
        --prefix="$prefix" --enable-static --disable-shared \
        --without-python --without-zlib --without-lzma --without-iconv \
        --without-icu --without-http --without-ftp --without-modules \
        --without-readline --without-history)
    say "$t: libxml2 (make)"
    # Only the library, headers and the files describing it; no xmllint/docs.
    (cd "$b" && run_logged "$logf" make -j "$JOBS" libxml2.la &&
        run_logged "$logf" make -C include install &&
        run_logged "$logf" make install-libLTLIBRARIES install-pkgconfigDATA \
            install-cmakeDATA install-binSCRIPTS install-m4dataDATA)
    # The CMake config puts the flags (" -DLIBXML_STATIC") into
    # INTERFACE_COMPILE_OPTIONS as one string, which gcc then takes for an
    # input file name; split it into a proper list.
    # shellcheck disable=SC2016
    sed -i '/^set(LIBXML2_DEFINITIONS /a separate_arguments(LIBXML2_DEFINITIONS UNIX_COMMAND "${LIBXML2_DEFINITIONS}")' \
        "$prefix/lib/cmake/libxml2/libxml2-config.cmake"
}

build_libplist() {  # TRIPLET PREFIX BUILDROOT LOGDIR
    local t=$1 prefix=$2 b="$3/libplist" logf="$4/libplist.log" envv=()
    mapfile -t envv < <(autotools_env "$t" "$prefix")
    mkdir -p "$b"
    say "$t: libplist (configure)"
    (cd "$b" && run_logged "$logf" env "${envv[@]}" CPPFLAGS=-DLIBPLIST_STATIC \
        "${SRCDIR[libplist]}/configure" --host="$t" --build="$BUILD_TRIPLET" \
        --prefix="$prefix" --enable-static --disable-shared --without-cython)
    say "$t: libplist (make)"
    # libcnary is a libtool convenience library that gets folded into
    # libplist-2.0.a; tools/, test/ and docs/ are not built.
    (cd "$b" && run_logged "$logf" make -j "$JOBS" -C libcnary &&
        run_logged "$logf" make -j "$JOBS" -C src &&
        run_logged "$logf" make -C src install &&
        run_logged "$logf" make -C include install)
    # Consumers get the define from pkg-config as well.
    sed -i '/^Cflags:/{/LIBPLIST_STATIC/!s/$/ -DLIBPLIST_STATIC/}' \
        "$prefix/lib/pkgconfig/libplist-2.0.pc" "$prefix/lib/pkgconfig/libplist++-2.0.pc"
}

# Compile and link a small program against all three archives; on x86_64 run it.
verify_target() {  # TRIPLET PREFIX BUILDROOT LOGDIR
    local t=$1 prefix=$2 d="$3/verify" logf="$4/verify.log" flags out wp
    mkdir -p "$d"
    flags=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH='' \
        pkg-config --static --cflags --libs libplist-2.0 libxml-2.0 fmt)
    say "$t: check program (compile + static link)"
    # shellcheck disable=SC2086
    run_logged "$logf" "$t-g++-posix" -std=c++17 -O1 -o "$d/depcheck.exe" "$CHECK_PROGRAM" \
        $flags -static
    if [ "$t" != x86_64-w64-mingw32 ] || [ "$RUN_WINE" = 0 ]; then
        say "$t: check program links (not run: no way to execute it here)"
        return 0
    fi
    command -v wine >/dev/null || die "wine not found (use --no-wine to skip running the check)"
    wp=$(mktemp -d "$CACHE/wineprefix.XXXXXX")
    say "$t: running the check program under wine"
    if out=$(cd "$d" && WINEPREFIX="$wp" WINEARCH=win64 WINEDEBUG=-all \
            WINEDLLOVERRIDES="mscoree,mshtml=" timeout 600 wine ./depcheck.exe 2>>"$logf"); then
        :
    else
        printf '%s\n' "$out" >>"$logf"
        WINEPREFIX="$wp" wineserver -k 2>/dev/null || true
        rm -rf "$wp"
        die "check program failed under wine; see $logf"
    fi
    WINEPREFIX="$wp" wineserver -k 2>/dev/null || true
    rm -rf "$wp"
    out=${out//$'\r'/}
    printf '%s\n' "$out" | sed 's/^/         /'
    grep -qx 'depcheck: ok' <<<"$out" || die "check program did not report success"
}

build_target() {
    local t=$1 prefix buildroot logdir t0=$SECONDS
    prefix=$(prefix_of "$t")
    buildroot="$CACHE/build/$t"
    logdir="$CACHE/logs/$t"
    say "$t: building into $prefix"
    rm -rf "$prefix" "$buildroot" "$logdir"
    mkdir -p "$prefix" "$buildroot" "$logdir"
    write_toolchain "$t" "$prefix"
    build_fmt "$t" "$prefix" "$buildroot" "$logdir"
    build_libxml2 "$t" "$prefix" "$buildroot" "$logdir"
    build_libplist "$t" "$prefix" "$buildroot" "$logdir"
    rm -f "$prefix"/lib/*.la
    verify_target "$t" "$prefix" "$buildroot" "$logdir"
    local f
    while read -r f; do [ -f "$f" ] || die "$t: missing $f after the build"; done < <(required_files "$prefix")
    stamp_text "$t" >"$prefix/$STAMP_NAME.tmp"
    mv "$prefix/$STAMP_NAME.tmp" "$prefix/$STAMP_NAME"
    rm -rf "$buildroot"
    say "$t: done in $((SECONDS - t0))s"
}

main() {
    parse_args "$@"
    mkdir -p "$CACHE"
    local start=$SECONDS todo=() t p
    RECIPE_HASH=$(recipe_hash)
    VERSIONS_KNOWN=0
    if command -v apt-cache >/dev/null && command -v dpkg >/dev/null && resolve_versions; then
        VERSIONS_KNOWN=1
    fi
    mapfile -t todo < <(targets_to_build "${TARGETS[@]}")
    if [ ${#todo[@]} -eq 0 ]; then
        print_layout
        say "nothing to build (took $((SECONDS - start))s)"
        exit 0
    fi

    # One build at a time per cache folder.
    exec 9>"$CACHE/.lock"
    if ! flock -n 9; then
        say "another build holds $CACHE/.lock; waiting"
        flock 9
    fi

    prepare_host
    say "Debian sources: $(for p in "${SRC_PACKAGES[@]}"; do printf '%s %s  ' "$p" "${VERSION[$p]}"; done)"
    # Targets whose stamp only looked stale because the versions were unknown
    # (or that another build finished while this one waited for the lock).
    mapfile -t todo < <(targets_to_build "${todo[@]}")
    BUILD_TRIPLET=$(dpkg-architecture -qDEB_BUILD_GNU_TYPE)

    if [ ${#todo[@]} -gt 0 ]; then
        mkdir -p "$CACHE/src" "$CACHE/logs"
        local t0=$SECONDS
        for p in "${SRC_PACKAGES[@]}"; do fetch_source "$p"; done
        say "sources ready in $((SECONDS - t0))s"
        for t in "${todo[@]}"; do build_target "$t"; done
    fi
    print_layout
    say "finished in $((SECONDS - start))s"
}

main "$@"
