# Wine builds: i686 x86_64
# The process listing of the real back end finds the host itself, its
# executable first among its modules.
processes() {
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' processes --json) | tr -d '\r' >"$app/processes.json" || return 1
    python3 - "$app/processes.json" "$bits" <<'PY'
import json, sys
text = open(sys.argv[1]).read()
wow64 = sys.argv[2] == "32"
data = json.loads(text)
entries = data if isinstance(data, list) else next((v for v in data.values() if isinstance(v, list)), [])
def modules(e):
    return [m.lower() for m in e.get("modules", [])]
host = [e for e in entries if "brisalen.exe" in json.dumps(e).lower()]
ok = any(modules(e) and modules(e)[0].endswith("\\tarnwick\\brisalen.exe") and len(modules(e)) > 3 for e in host)
# Wine's WOW64 refuses a 32-bit process the module list of any process,
# its own included (error 998), where Windows refuses only 64-bit ones
# (299); the image path is what the library then goes by.
if not ok and wow64:
    ok = any(e.get("error") == 998 and e.get("image", "").lower().endswith("\\tarnwick\\brisalen.exe") for e in host)
if not ok: print("  brisalen.exe with its modules not listed:", text[:400])
sys.exit(0 if ok else 1)
PY
}
scenario "processes: the host is listed with its modules" processes
