"""Running the sample host on a simulated machine from a test, and the
problems the test collects on the way (reported together at its end)."""
import json
import subprocess

problems = []


def check(condition, message):
    if not condition:
        problems.append(message)


def run(host, machine, *args):
    return subprocess.run([host, "--machine", machine, *args], capture_output=True, text=True, timeout=300)


def run_json(host, machine, *args):
    """The finished process and its --json answer ({} when it gave none)."""
    answer = run(host, machine, *args, "--json")
    try:
        return answer, json.loads(answer.stdout)
    except ValueError:
        problems.append("%s: exit %d, no JSON: %r %r" % (args, answer.returncode, answer.stdout[:200],
                                                         answer.stderr[:300]))
        return answer, {}
