# The folder helpers on the real file system: a read-only file survives
# DeleteDir, which says so in the log, and the rest of the tree goes.
deletedir() {
    rm -f "$app/Log/fs_probe.log"
    # run-scenario.sh sets pipefail, so the probe's exit status decides here.
    (cd "$app" && wine 'C:\Tarnwick\fs_probe.exe' 'C:\Tarnwick\fs-work') | tr -d '\r' | sed 's/^/  /' || return 1
    [ ! -e "$app/fs-work/probe" ] || { echo "  probe folder left behind"; return 1; }
    grep -aqF 'ERR:Can not Delete dir = [C:\Tarnwick\fs-work\probe]!' "$app/Log/fs_probe.log" ||
        { echo "  log lacks the DeleteDir error line"; return 1; }
}
scenario "deletedir: read-only file kept and reported, rest removed" deletedir
