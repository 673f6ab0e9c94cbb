# Shared by the project's scripts: paths, logging and the one-time set-up of
# a fresh Debian machine.
set -euo pipefail

BRISALEN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BRISALEN_DEPS_CACHE="${BRISALEN_DEPS_CACHE:-$HOME/.cache/brisalen-deps}"

say() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Debian packages every build, test and demo needs.
BRISALEN_APT_PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev pkg-config python3
    liblog4cpp5-dev libplist-dev libxml2-dev libmsi-dev libglib2.0-dev libfmt-dev nlohmann-json3-dev libcli11-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
    wine wine64 wixl msitools
)

install_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures (once) and builds one preset.
build_preset() {
    local preset="$1"
    (cd "$BRISALEN_ROOT" &&
        { [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null; } &&
        cmake --build --preset "$preset" -- -j2)
}

# A Wine prefix of our own, outside the source tree, created on first use.
wine_env() {
    export WINEPREFIX="${BRISALEN_WINEPREFIX:-$HOME/.cache/brisalen-wine}"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        say "creating the Wine prefix $WINEPREFIX"
        wineboot --init >/dev/null 2>&1 || true
        wineserver -w || true
    fi
}
