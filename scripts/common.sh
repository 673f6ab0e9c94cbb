# Shared by the project's scripts: paths, logging and the one-time set-up of
# a fresh Debian machine.
set -euo pipefail

BRISALEN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BRISALEN_DEPS_CACHE="${BRISALEN_DEPS_CACHE:-$HOME/.cache/brisalen-deps}"

say() { printf '== %s\n' "$*" >&2; }
die() { say "error: $*"; exit 1; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        die "need root (or sudo) to run: $*"
    fi
}

# Debian packages every build, test and demo needs.
# What scripts/demo.sh needs: the Linux library, its host and the
# installer packages of the simulated machine, made with wixl.
BRISALEN_DEMO_PACKAGES=(
    cmake ninja-build g++ pkg-config python3
    liblog4cpp5-dev libplist-dev libxml2-dev libmsi-dev libglib2.0-dev libfmt-dev nlohmann-json3-dev libcli11-dev
    wixl msitools
)
# Everything the tests need besides: the test frameworks, the sanitizer and
# fuzzing runtimes, the LLVM tools of the MSVC binary interface, the
# Windows cross compilers and Wine.
BRISALEN_APT_PACKAGES=(
    "${BRISALEN_DEMO_PACKAGES[@]}"
    clang libclang-rt-14-dev lld llvm
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
    wine wine64
)

is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

# Another apt run (an unattended upgrade, a second checkout's set-up) may
# hold the lock for a while: apt waits for it rather than fail.
apt_get() {
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

apt_update() { apt_get update -q >/dev/null; }

install_packages() {
    local missing=() p
    for p in "$@"; do
        is_installed "$p" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    apt_update
    apt_get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# True when the kernel starts 32-bit x86 programs. A kernel can be built or
# booted without that (ia32_emulation=off); there the 32-bit Wine loader
# cannot start at all. Asked of a 93-byte i386 program that only exits 0.
kernel_runs_i386() {
    local probe rc=0
    probe="$(mktemp)"
    python3 - "$probe" <<'PY2'
import struct, sys
code = bytes.fromhex("b801000000" "31db" "cd80")  # mov eax,1 (exit); xor ebx,ebx; int 0x80
base, headers = 0x08048000, 52 + 32
size = headers + len(code)
elf = struct.pack("<4sBBB9xHHIIIIIHHHHHH", b"\x7fELF", 1, 1, 1, 2, 3, 1, base + headers, 52, 0, 0, 52, 32, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
PY2
    chmod +x "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    return "$rc"
}

# A kernel without IA-32 emulation starts 32-bit programs through the i386
# user-mode emulator once binfmt_misc hands i386 ELF files to it. The F
# flag opens the emulator at registration, so it serves every mount
# namespace and chroot alike. Any other registration is left as it is.
# The kernel reads the \x escapes itself.
readonly QEMU_I386_BINFMT=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
register_qemu_i386() {
    local binfmt=/proc/sys/fs/binfmt_misc
    install_packages qemu-user-static
    if [ ! -e "$binfmt/register" ]; then
        say "mounting binfmt_misc at $binfmt"
        as_root mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    fi
    if [ -e "$binfmt/qemu-i386" ]; then
        say "binfmt_misc already names an i386 interpreter: $(sed -n 's/^interpreter //p' "$binfmt/qemu-i386")"
    else
        say "registering /usr/bin/qemu-i386-static for i386 ELF programs with binfmt_misc (qemu-i386, flag F)"
        printf '%s' "$QEMU_I386_BINFMT" | as_root tee "$binfmt/register" >/dev/null || return 1
    fi
    [ "$(cat "$binfmt/status")" = enabled ] || say "binfmt_misc is disabled on this machine"
}

# The 32-bit Wine loader, which runs the product build as a WOW64 process.
# Where the kernel starts no 32-bit program, the i386 emulator is
# registered first; where even that fails, the loader is not installed (it
# would take over the `wine` command and no Wine program would start) and
# this returns 1.
install_wine32() {
    if ! kernel_runs_i386; then
        register_qemu_i386 || true
        kernel_runs_i386 || return 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        say "adding the i386 architecture"
        as_root dpkg --add-architecture i386
    fi
    # A new architecture has no package lists yet; install_packages updates
    # them whenever something is missing.
    install_packages wine32:i386
}

# Whether the 32-bit Wine loader is there and can run here.
wine32_usable() {
    [ -x /usr/lib/wine/wine ] && kernel_runs_i386
}

# Configures (once) and builds one preset.
build_preset() {
    local preset="$1"
    (cd "$BRISALEN_ROOT" &&
        { [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null; } &&
        cmake --build --preset "$preset" -- -j2)
}

# The Wine prefix of the test command: our own, outside the source tree,
# kept between runs and made anew whenever it cannot serve the run:
# never finished, made by another Wine or before the 32-bit loader was
# installed (no 32-bit system folder, so WOW64 programs cannot start), or
# wrecked by a scenario (its Windows folder damaged).
wine_env() {
    export WINEPREFIX="${BRISALEN_WINEPREFIX:-$HOME/.cache/brisalen-wine}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    wine_loader_shim
    if [ "$(cat "$WINEPREFIX/.brisalen-prefix" 2>/dev/null)" != "$(wine_prefix_kind)" ] || ! wine_prefix_whole; then
        wine_prefix_remove || return 1
        say "creating the Wine prefix $WINEPREFIX ($(wine_prefix_kind))"
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w || true
        wine_prefix_whole || { say "the new Wine prefix is incomplete: $WINEPREFIX"; return 1; }
        wine_prefix_kind >"$WINEPREFIX/.brisalen-prefix"
    fi
    wine_prefix_unlink_home
}

# Where the 32-bit loader is installed, the `wine` command starts every
# program through it, 64-bit ones too: about 50 s a start under the i386
# emulator, and no start at all where the kernel runs no 32-bit program.
# The 64-bit loader is put first in PATH under the names the wrapper
# scripts call; it hands a 32-bit program on to the 32-bit loader itself.
wine_loader_shim() {
    [ -x /usr/lib/wine/wine ] || return 0
    local shim="${XDG_CACHE_HOME:-$HOME/.cache}/brisalen-wine64-first"
    mkdir -p "$shim"
    local name
    for name in wine wine-stable; do
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$shim/$name"
        chmod +x "$shim/$name"
    done
    case ":$PATH:" in *":$shim:"*) ;; *) export PATH="$shim:$PATH" ;; esac
    export WINELOADER=/usr/lib/wine/wine64
}

# What a prefix must have been made by: the Wine release and whether its
# 32-bit half was there.
wine_prefix_kind() {
    local wow64=no
    wine32_usable && wow64=yes
    printf '%s wow64=%s\n' "$(wine --version 2>/dev/null)" "$wow64"
}

# A 64-bit prefix with the programs the scenarios use, in both halves when
# the 32-bit loader is usable.
wine_prefix_whole() {
    local windows="$WINEPREFIX/drive_c/windows"
    [ -f "$WINEPREFIX/system.reg" ] && grep -qx '#arch=win64' "$WINEPREFIX/system.reg" || return 1
    local dll
    for dll in system32/kernel32.dll system32/msi.dll system32/msiexec.exe system32/reg.exe; do
        [ -f "$windows/$dll" ] || return 1
    done
    if wine32_usable; then
        for dll in syswow64/kernel32.dll syswow64/msi.dll syswow64/reg.exe; do
            [ -f "$windows/$dll" ] || return 1
        done
    fi
}

# Removes the prefix, but only a folder that is one: a mistyped
# BRISALEN_WINEPREFIX must not cost anybody a folder.
wine_prefix_remove() {
    [ -e "$WINEPREFIX" ] || return 0
    local real
    real="$(realpath -m -- "$WINEPREFIX")"
    case "$real" in
        / | "$HOME" | "$(realpath -m -- "$HOME")" | "$BRISALEN_ROOT" | "$BRISALEN_ROOT"/*)
            say "refusing to remove $real as a Wine prefix"; return 1 ;;
    esac
    if [ -n "$(ls -A "$real" 2>/dev/null)" ] && [ ! -e "$real/system.reg" ] && [ ! -e "$real/drive_c" ]; then
        say "$real is not a Wine prefix; set BRISALEN_WINEPREFIX to a folder of its own"; return 1
    fi
    WINEPREFIX="$real" wineserver -k 2>/dev/null || true
    rm -rf -- "$real"
}

# Wine links the user's Documents, Desktop, Music and the like to the home
# folder. The scenarios delete folders on C: through the library, so C:
# must not lead out of the prefix: each such link becomes an empty folder.
wine_prefix_unlink_home() {
    local link
    while IFS= read -r -d '' link; do
        case "$(realpath -m -- "$link")" in
            "$(realpath -m -- "$WINEPREFIX")"/*) continue ;;
        esac
        rm -f -- "$link" && mkdir -p -- "$link"
    done < <(find "$WINEPREFIX/drive_c" -type l -print0 2>/dev/null)
}
