#!/usr/bin/env python3
"""The README's tour, run as written on a throw-away machine: every command
of its shell blocks must exit with 0, or with the code its comment names
("(exit code 1)"). `scripts/demo.sh` stands for the built host and
`build/linux/fixtures` for the fixture folder of this build; HOME is a
temporary folder, so the tour's default machine is a fresh one.

usage: readme_tour_test.py README BRISALEN FIXTURES_DIR
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile


def tour_commands(readme):
    text = open(readme, encoding="utf-8").read()
    start = text.index("## A tour on the simulated machine")
    end = text.index("\n## ", start + 1)
    commands = []
    for block in re.findall(r"```sh\n(.*?)```", text[start:end], re.S):
        for line in block.splitlines():
            if line.strip() and not line.lstrip().startswith("#"):
                expected = re.search(r"\(exit code (\d+)\)", line)
                commands.append((line, int(expected.group(1)) if expected else 0))
    return commands


def main():
    readme, host, fixtures = (os.path.abspath(arg) for arg in sys.argv[1:4])
    commands = tour_commands(readme)
    if len(commands) < 20:
        print("FAIL: only %d tour commands found" % len(commands))
        return 1
    problems = []
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as outputs:
        script = ["cd %s" % shlex.quote(os.path.dirname(os.path.abspath(readme)))]
        for number, (line, _) in enumerate(commands):
            line = line.replace("scripts/demo.sh", shlex.quote(host)).replace("build/linux-demo/fixtures",
                                                                               shlex.quote(fixtures))
            # Braces, not a subshell: the tour's variables carry on to later lines.
            output = shlex.quote(os.path.join(outputs, str(number)))
            script.append("{ %s\n} >%s 2>&1 </dev/null; echo \"RC %d $?\"" % (line, output, number))
        env = dict(os.environ, HOME=home)
        env.pop("BRISALEN_MACHINE", None)
        run = subprocess.run(["bash", "-c", "\n".join(script)], capture_output=True, text=True, env=env, timeout=600)
        codes = dict(re.findall(r"^RC (\d+) (\d+)$", run.stdout, re.M))
        for number, (line, expected) in enumerate(commands):
            got = codes.get(str(number))
            if got is None or int(got) != expected:
                with open(os.path.join(outputs, str(number)), encoding="utf-8", errors="replace") as said:
                    tail = said.read().splitlines()[-8:]
                problems.append("%s\n    exit %s, expected %d\n      | %s" % (line, got, expected,
                                                                            "\n      | ".join(tail)))
    for problem in problems:
        print("FAIL:", problem)
    print("%d tour commands run" % len(commands))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
