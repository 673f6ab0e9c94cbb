# Wine builds: i686 x86_64
# ITunesLibrary.dll on the real file functions: itl_probe.exe links it
# through its import library and loads it by its factory pair, reads a
# library written by Python's plistlib, removes a track, and writes with the
# previous file kept as .bak; the player's binary form and targets such as
# C:\ and C:\windows are refused with everything left as it was.
itunes_library() {
    local data="$app/itl-data"
    rm -rf "$data" && mkdir -p "$data"
    python3 "$here/../../companions/ITunesLibrary/tests/make_library.py" "$data/iTunes Library.itl" || return 1
    (cd "$app" && wine 'C:\Tarnwick\itl_probe.exe' 'C:\Tarnwick\itl-data') | tr -d '\r' | tail -3 | sed 's/^/  /'
}
scenario "ITunesLibrary.dll: read, remove, replace with .bak; binary form and hostile targets refused" itunes_library
