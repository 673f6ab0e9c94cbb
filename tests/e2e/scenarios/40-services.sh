# Wine builds: i686 x86_64
# The service wrapper over the real Service Control Manager: a service Wine
# always registers reports a Windows state name and start type, and a name
# no service has reports the manager's "does not exist" error.
services() {
    (cd "$app" && wine 'C:\Tarnwick\brisalen.exe' services RpcSs msiserver Brisalen-No-Such-Service --json) \
        | tr -d '\r' >"$app/services.json" || return 1
    python3 - "$app/services.json" <<'PY' || return 1
import json, sys
services = json.load(open(sys.argv[1]))["services"]
states = {"STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"}
starts = {"boot", "system", "auto", "demand", "disabled"}
problems = []
for name in ("RpcSs", "msiserver"):
    entry = services.get(name, {})
    if entry.get("state") not in states: problems.append("%s state %r" % (name, entry.get("state")))
    if entry.get("start_type") not in starts: problems.append("%s start type %r" % (name, entry.get("start_type")))
missing = services.get("Brisalen-No-Such-Service", {})
if missing.get("state") != "OPEN_ERR_0x424": problems.append("missing service state %r" % missing.get("state"))
if missing.get("start_type") is not None: problems.append("missing service has a start type")
for p in problems: print("  " + p)
print("  " + json.dumps(services, sort_keys=True))
sys.exit(1 if problems else 0)
PY
}
scenario "services: state texts and start types from the Service Control Manager" services
