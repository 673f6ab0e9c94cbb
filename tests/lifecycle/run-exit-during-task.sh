#!/usr/bin/env bash
# Runs exit_during_task many times on one simulated machine with a fixture
# product installed, leaving by exit and by unload, and fails on the first
# run that dies, hangs or loses the check's last log line. One product keeps
# a run short (the sanitizer build is slow) while the check still runs well
# past the moment the host leaves.
#
#   run-exit-during-task.sh BIN_DIR FIXTURES_DIR RUNS
set -euo pipefail
bin="$1" fixtures="$2" runs="$3"
machine="$(mktemp -d)"
trap 'rm -rf "$machine"' EXIT
export BRISALEN_MACHINE="$machine"
"$bin/brisalen" machine install "$fixtures/Bonjour64.msi" >/dev/null
log="$machine/drives/C/Tarnwick/Log/Tarnwick.log"

for mode in exit unload; do
    for ((i = 1; i <= runs; i++)); do
        rm -f "$log"
        rc=0
        timeout 60 "$bin/exit_during_task" "$bin/libBrisalen.so" "$mode" || rc=$?
        if [ "$rc" -ne 0 ]; then
            echo "run $i ($mode): exit code $rc" >&2
            exit 1
        fi
        if ! grep -q 'CheckItunesImp end' "$log"; then
            echo "run $i ($mode): the check's last log line is missing" >&2
            tail -n 5 "$log" >&2 || true
            exit 1
        fi
    done
    echo "$runs runs ($mode): clean"
done
