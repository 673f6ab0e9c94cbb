# The deletion guard on the real file system: links in the prefix lead to
# the user's Documents, the profile and ProgramData (unix links, which Wine
# follows as Windows follows a junction, and a real junction where this
# Wine makes them), and the stock "Documents and Settings" is added where
# Wine lacks it. Deletions aimed through them, and through other spellings
# of protected folders, must leave the sentinels the probe plants.
links_run() {
    local drive="$WINEPREFIX/drive_c" user links made_dands=0 rc=0
    user="$(basename "$(ls -d "$drive"/users/*/Documents 2>/dev/null | grep -v '/Public/' | head -1 | xargs -r dirname)")"
    [ -n "$user" ] && [ "$user" != . ] || { echo "  no user profile with Documents in the prefix"; return 1; }
    links="$drive/brisalen-links"
    rm -rf "$links"
    mkdir -p "$links" "$drive/ProgramData"
    ln -s "$drive/users/$user/Documents" "$links/Docs"
    ln -s "$drive/users/$user" "$links/Profile"
    ln -s "$drive/ProgramData" "$links/Data"
    if [ ! -e "$drive/Documents and Settings" ]; then
        ln -s "$drive/users" "$drive/Documents and Settings"
        made_dands=1
    fi
    rm -f "$app/Log/guard_probe.log"
    (cd "$app" && wine 'C:\Tarnwick\guard_probe.exe' 'C:\brisalen-links') | tr -d '\r' | sed 's/^/  /' || rc=1
    [ -d "$drive/users/$user/Documents" ] || { echo "  the user's Documents is gone"; rc=1; }
    grep -aqF "WARN:delete refused: [C:\\Documents and Settings\\$user\\Documents] is or holds a known folder" "$app/Log/guard_probe.log" ||
        { echo "  log lacks the refusal of Documents reached through a link"; rc=1; }
    rm -rf "$links"
    [ "$made_dands" -eq 0 ] || rm -f "$drive/Documents and Settings"
    return "$rc"
}
scenario "links: deletions through links and other spellings keep every protected folder" links_run
