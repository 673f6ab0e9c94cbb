# Wine builds: i686 x86_64
# The iTunes registry values written with reg.exe into the 64-bit view come
# back through the library, which reads that view from either build, and
# the known folders resolve as Windows gives them to a program of the
# build's bitness: a WOW64 process is told Program Files (x86) for both.
registry_and_folders() {
    local key='HKLM\SOFTWARE\Apple Computer, Inc.\iTunes'
    wine reg add "$key" /v InstallDir /t REG_SZ /d 'C:\Program Files\iTunes\' /f /reg:64 >/dev/null 2>&1 || return 1
    wine reg add "$key" /v Version /t REG_SZ /d 12.13.2.3 /f /reg:64 >/dev/null 2>&1 || return 1
    # A decoy in the 32-bit view, which is where a WOW64 process lands
    # unless it asks for the 64-bit one.
    wine reg add "$key" /v Version /t REG_SZ /d 1.0.0.32 /f /reg:32 >/dev/null 2>&1 || return 1
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' info --json) | tr -d '\r' >"$app/info.json" || return 1
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' open-itunes --json) | tr -d '\r' >"$app/open.json"
    wine reg delete "$key" /f /reg:64 >/dev/null 2>&1 || true
    wine reg delete "$key" /f /reg:32 >/dev/null 2>&1 || true
    python3 - "$app/info.json" "$app/open.json" "$app/Log/Tarnwick.log" "$bits" <<'PY'
import json, sys
info = json.load(open(sys.argv[1]))
opened = json.load(open(sys.argv[2]))
log = open(sys.argv[3], "rb").read().decode("latin-1").replace("\r\n", "\n")
wow64 = sys.argv[4] == "32"
problems = []
if info["repair_manager"]["GetItunesVersion"] != "12.13.2.3":
    problems.append("version read back as %r" % info["repair_manager"]["GetItunesVersion"])
folders = info["machine"]["known_folders"]
expected = {"Program Files": "C:\\Program Files (x86)" if wow64 else "C:\\Program Files",
            "Program Files (x86)": "C:\\Program Files (x86)", "ProgramData": "C:\\ProgramData",
            "Common Files": "C:\\Program Files%s\\Common Files" % (" (x86)" if wow64 else "")}
if info["machine"]["windows_64bit"] is not True: problems.append("windows_64bit is not true")
if info["repair_manager"]["IsOs64Bit"] is not True: problems.append("IsOs64Bit is not true")
for name, path in expected.items():
    if folders.get(name, "").lower() != path.lower(): problems.append("%s is %r" % (name, folders.get(name)))
for name in ("AppData", "Local AppData", "My Music"):
    if not folders.get(name, "").startswith("C:\\"): problems.append("%s unresolved: %r" % (name, folders.get(name)))
if opened.get("OpenItunes") is not False: problems.append("OpenItunes started a program that is not there")
for line in (" Reg:InstallDir = [C:\\Program Files\\iTunes\\],version = [12.13.2.3]\n",
             " open itunes[C:\\Program Files\\iTunes\\\\iTunes.exe]...\n", " itunes not exist!\n"):
    if line not in log: problems.append("log lacks %r" % line)
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}
scenario "registry values and known folders" registry_and_folders
