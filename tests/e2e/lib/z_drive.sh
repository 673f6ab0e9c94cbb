# Wine maps Z: to the Linux root, a fixed drive to a program that asks for
# them: a deep user-data scan would walk the whole build machine. Scenarios
# that scan every drive set it aside for their run and put it back after;
# a run that died half-way leaves it aside, and the next restore mends that.
z_drive="$WINEPREFIX/dosdevices/z:"
z_drive_aside="$WINEPREFIX/.brisalen-z-aside"

z_drive_set_aside() {
    if [ -L "$z_drive" ]; then mv -- "$z_drive" "$z_drive_aside"; fi
}

z_drive_restore() {
    if [ -L "$z_drive_aside" ] && [ ! -e "$z_drive" ] && [ ! -L "$z_drive" ]; then mv -- "$z_drive_aside" "$z_drive"; fi
}
