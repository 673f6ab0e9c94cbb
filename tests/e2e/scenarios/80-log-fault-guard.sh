# Wine builds: i686 x86_64
# The log call's fault guard on the real back end: log_probe formats a %s
# whose pointer names a released page, wide and narrow, on two threads. Each
# faulting call must leave the decorated fatal-error line and nothing of its
# own text, the next call its text, and the probe must exit 0.
log_fault_guard() {
    local source="$here/log_probe.cpp" rc=0
    rm -f "$app/Log/log_probe.log"
    (cd "$app" && wine 'C:\Tarnwick\log_probe.exe') | tr -d '\r' >"$app/log_probe.out" || rc=$?
    [ "$rc" -eq 0 ] || { echo "  log_probe exit $rc"; sed 's/^/  /' "$app/log_probe.out"; return 1; }
    python3 - "$app/Log/log_probe.log" "$app/log_probe.out" \
        "$(grep -n '// fault:wide$' "$source" | cut -d: -f1)" "$(grep -n '// fault:narrow$' "$source" | cut -d: -f1)" <<'PY'
import sys
try:
    log = open(sys.argv[1], "rb").read().decode("latin-1").replace("\r\n", "\n").splitlines()
except OSError as e:
    print("  no log: %s" % e); sys.exit(1)
out = open(sys.argv[2]).read()
problems = []
if "log probe reached its end" not in out: problems.append("the probe did not reach its end: %r" % out)
fatal = " [log_probe.cpp:%s][FaultThenGoOn] ***Fatal Error Check,Please Fix it!***"
for line in (sys.argv[3], sys.argv[4]):
    count = sum(1 for got in log if got.endswith(fatal % line))
    if count != 2: problems.append("%d fatal-error lines for line %s, expected one per thread" % (count, line))
for where in ("the main thread", "a second thread"):
    for kind in ("wide", "narrow"):
        if not any(got.endswith(" after the %s fault on %s" % (kind, where)) for got in log):
            problems.append("no line after the %s fault on %s" % (kind, where))
for got in log:
    if "argument on" in got: problems.append("text of a faulting call written: %r" % got[:120])
for p in problems: print("  " + p)
sys.exit(1 if problems else 0)
PY
}
scenario "log call: a faulting %s argument becomes the fatal-error line and the program goes on" log_fault_guard
