# Wine builds: i686 x86_64
# The library loads, answers the repair manager's queries and logs beside
# the host program.
foundation() {
    wine reg delete 'HKLM\SOFTWARE\Apple Computer, Inc.\iTunes' /f /reg:64 >/dev/null 2>&1 || true
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' info --json) | tr -d '\r' >"$app/info.json" || return 1
    python3 - "$app/info.json" "$app/Log/Tarnwick.log" <<'PY' || return 1
import json, sys
answers = json.load(open(sys.argv[1]))["repair_manager"]
problems = []
if answers["same_instance"] is not True: problems.append("CreateFixItuensMgr gave two pointers")
if answers["IsOs64Bit"] is not True: problems.append("IsOs64Bit is not true")
if answers["GetItunesVersion"] != "": problems.append("GetItunesVersion not empty")
if answers["RepairAllItunesComponent(missing folder)"] is not False: problems.append("missing folder accepted")
try:
    log = open(sys.argv[2], "rb").read().decode("latin-1")
except OSError as e:
    problems.append("no log file: %s" % e); log = ""
for line in (" [$$RepairAllItunesComponent]...\n",
             " package [C:\\Brisalen-no-such-folder]not exist!\n\n",
             " ERR:install package [C:\\Brisalen-no-such-folder] not exist!\n\n"):
    if line not in log.replace("\r\n", "\n"): problems.append("log lacks %r" % line)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}
scenario "foundation: factories, queries and Log\\Tarnwick.log" foundation
