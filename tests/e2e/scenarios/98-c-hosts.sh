# Wine builds: i686 x86_64
# The C interface (include/BrisalenC.h) through two hosts of it that link
# no C runtime: brisalen_c_host.exe, built as C89 by MinGW-w64 gcc, and
# brisalen_msvc_host.exe, the same source built for the MSVC binary
# interface by clang and lld-link. On a machine with the family installed
# (Bonjour damaged, Apple Software Update gone), a seeded profile with a
# device backup, and links to the Windows folder inside Bonjour's folder and
# a music folder, each host runs every command once, in one process (a
# 32-bit start costs a minute under the emulator), and what it printed must
# match what brisalen.exe reports for the same machine: versions, products,
# check verdicts, repair, uninstall and deletion previews, scan totals and
# backups. No preview may list the Windows folder, a protected folder or
# anything behind a link, nor find a package in a hostile installer folder,
# and the previews change nothing. Everything is removed at the end.
# shellcheck source=SCRIPTDIR/../lib/installer.sh
source "$here/lib/installer.sh"
# shellcheck source=SCRIPTDIR/../lib/z_drive.sh
source "$here/lib/z_drive.sh"

ch_out="$app/c-hosts"
ch_drive="$WINEPREFIX/drive_c"
# The drive's state before seeding; kept until the clean-up has run, so a
# run that died half-way is cleaned up by the next one.
ch_snapshot="$WINEPREFIX/.brisalen-c-hosts-snapshot.json"
ch_links_file="$WINEPREFIX/.brisalen-c-hosts-links"
# The deep scan, which walks every fixed drive (Z: set aside meanwhile), on
# the x86_64 build only: the i686 session host, which reads the drives once,
# would have to start again on each side of it.
ch_deep=0
[ "$bits" = 64 ] && ch_deep=1

ch_cleanup() {
    local link
    if [ -f "$ch_links_file" ]; then
        while IFS= read -r link; do
            [ -L "$link" ] && rm -f -- "$link"
        done <"$ch_links_file"
        rm -f -- "$ch_links_file"
    fi
    if [ -f "$ch_snapshot" ]; then
        python3 "$here/lib/user_data.py" cleanup "$ch_snapshot" "$ch_drive" && rm -f -- "$ch_snapshot"
    fi
}

# A link to the Windows folder, noted for the clean-up.
ch_link() {
    printf '%s\n' "$2" >>"$ch_links_file"
    ln -sfn -- "$1" "$2"
}

# Every file below the folders the previews must leave alone, with its size.
ch_listing() {
    # Wine's own temporary files come and go with every program start.
    (cd "$ch_drive" && find "Program Files/Bonjour" "Program Files (x86)/Apple Software Update" users \
        -name Temp -prune -o -printf '%y %s %p\n' 2>/dev/null | LC_ALL=C sort) >"$1"
}

ch_prepare() {
    ch_cleanup || return 1
    rm -rf -- "$ch_out"
    mkdir -p "$ch_out"
    local host
    for host in brisalen_c_host.exe brisalen_msvc_host.exe; do
        [ -f "$app/$host" ] ||
            { echo "  no $host in $bin: build the Windows preset with clang, lld and llvm"; return 1; }
    done
    installer_fixtures && installer_remove_all || return 1
    # Seeded before the install: the profile holds files Apple Mobile Device
    # Support's package lays down too, and the seeding writes none that exist.
    python3 "$here/lib/user_data.py" listing "$ch_drive" "$ch_snapshot" || return 1
    local rc=0
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' machine seed-user-data --seed 98 \
        --manifest 'C:\Tarnwick\c-hosts\manifest.json' >"$ch_out/seed.txt" 2>&1) || rc=$?
    [ "$rc" -eq 0 ] || { echo "  seed-user-data exit $rc"; sed 's/^/  /' "$ch_out/seed.txt"; return 1; }
    installer_install || return 1
    local gone music
    gone="$(installer_file Bonjour64.msi mdnsNSP.dll)"
    [ -f "$gone" ] || { echo "  $gone not installed"; return 1; }
    rm -f -- "$gone"
    installer_remove AppleSoftwareUpdate.msi "$(installer_code_of AppleSoftwareUpdate.msi)" x86 || return 1
    music="$(find "$ch_drive/users" -type d -path '*/iTunes Media/Music' | head -n 1)"
    [ -n "$music" ] || { echo "  no seeded music folder"; return 1; }
    ch_link "$ch_drive/windows" "$ch_drive/Program Files/Bonjour/escape"
    ch_link "$ch_drive/windows" "$music/escape"
    ch_link "$ch_drive/windows" "$ch_out/to-windows"
}

# brisalen.exe's answers for the machine.
ch_reference() {
    local rc
    installer_host c-hosts/itunes.json itunes || { echo "  brisalen.exe itunes failed"; return 1; }
    installer_host c-hosts/products.json products || { echo "  brisalen.exe products failed"; return 1; }
    rc=0
    installer_host c-hosts/check.json check || rc=$?
    [ "$rc" -eq 1 ] || { echo "  brisalen.exe check exit $rc, expected 1 (two to repair)"; return 1; }
    installer_host c-hosts/scan.json scan || { echo "  brisalen.exe scan failed"; return 1; }
    [ "$ch_deep" = 1 ] || return 0
    z_drive_set_aside
    rc=0
    installer_host c-hosts/scan-deep.json scan --deep || rc=$?
    z_drive_restore
    [ "$rc" -eq 0 ] || { echo "  brisalen.exe scan --deep failed"; return 1; }
}

ch_run_hosts() {
    local host rc started
    local commands=(version + products + check + preview-repair 'C:\Tarnwick\packages' + preview-repair --bad
                    + preview-repair 'C:\' + preview-repair 'C:\Windows' + preview-repair 'C:\Tarnwick\packages\..'
                    + preview-repair '...' + preview-repair 'C:\Tarnwick\c-hosts\to-windows'
                    + preview-uninstall + preview-uninstall --user-data + scan)
    [ "$ch_deep" = 1 ] && commands+=(+ scan --deep)
    commands+=(+ preview-delete 1 18 --backups)
    ch_listing "$ch_out/before.txt"
    for host in brisalen_c_host brisalen_msvc_host; do
        rc=0
        started=$(date +%s)
        z_drive_set_aside
        (cd "$app" && wine "C:\\Tarnwick\\$host.exe" "${commands[@]}" 2>"$ch_out/$host.err") | tr -d '\r' \
            >"$ch_out/$host.txt" || rc=$?
        z_drive_restore
        echo "  $host: exit $rc after $(($(date +%s) - started)) s, $(wc -l <"$ch_out/$host.txt") records"
        [ "$rc" -eq 0 ] || { sed 's/^/  /' "$ch_out/$host.err"; return 1; }
    done
    ch_listing "$ch_out/after.txt"
    if ! diff -q "$ch_out/before.txt" "$ch_out/after.txt" >/dev/null; then
        echo "  the previews changed the machine:"
        diff "$ch_out/before.txt" "$ch_out/after.txt" | head -n 10
        return 1
    fi
}

ch_compare() {
    local version
    version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$bin/../CMakeCache.txt")"
    local deep=()
    [ "$ch_deep" = 1 ] && deep=(--deep)
    python3 "$here/lib/c_hosts.py" "$ch_out" "$version" "$ch_out/brisalen_c_host.txt" "$ch_out/brisalen_msvc_host.txt" \
        "${deep[@]}"
}

ch_scenarios() {
    local started
    started=$(date +%s)
    if ! ch_prepare || ! ch_reference; then
        echo "FAIL [$label] c-hosts: preparing the machine"; failures=$((failures + 1))
    else
        local failed_before="$failures"
        scenario "c-hosts: both C hosts run every command without a C runtime and change nothing" ch_run_hosts
        # Without both outputs there is nothing to compare.
        if [ "$failures" -eq "$failed_before" ]; then
            scenario "c-hosts: their records match brisalen.exe's and each other's" ch_compare
        fi
    fi
    installer_remove_all >/dev/null || echo "  c-hosts: the products could not be removed"
    ch_cleanup || echo "  c-hosts: the seeded user data could not be removed"
    echo "  c-hosts scenarios took $(($(date +%s) - started)) s"
}
ch_scenarios
