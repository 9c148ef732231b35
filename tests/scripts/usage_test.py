#!/usr/bin/env python3
"""Every script, given an unknown option, an argument too few or a number that is not one,
refuses before doing anything: it prints its usage line on stderr and exits with 2."""
import os
import signal
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# (script, arguments): each must be refused.
REFUSED = [
    ("scripts/bench", ["--no-such-option"]),
    ("scripts/bench", ["--rounds", "abc"]),
    ("scripts/bench", ["--rounds", "0"]),
    ("scripts/check-reproducible", []),
    ("scripts/check-reproducible", ["--no-such-option", "RemoteUpdater.exe"]),
    ("scripts/demo", ["--no-such-option"]),
    ("scripts/demo", ["build/one", "build/two"]),
    ("scripts/fleet-figures", ["--no-such-option"]),
    ("scripts/fleet-figures", ["--machines", "abc"]),
    ("scripts/fleet-figures", ["--stages", "50,10"]),
    ("scripts/fuzz", ["abc"]),
    ("scripts/fuzz", ["0"]),
    ("scripts/fuzz", ["--no-such-option"]),
    ("scripts/publish", ["CorvantaRemote-2.0.0.msi"]),
    ("scripts/publish", ["CorvantaRemote-2.0.0.msi", "feed", "--rollout", "101"]),
    ("scripts/publish", ["--verify", "feed", "roots.pem"]),
    ("scripts/sample-prefix", ["--with-ui", "template", "prefix"]),
    ("scripts/screenshots", ["a", "b", "c"]),
    ("scripts/setup-debian", ["--no-such-option"]),
    ("scripts/sign", []),
    ("scripts/sign", ["--no-such-option"]),
    ("scripts/sign", ["--verify", "RemoteUpdater.exe"]),
    ("scripts/static-analysis", ["--no-such-option"]),
    ("scripts/test", ["--no-such-option"]),
    ("scripts/timeline-svg", ["timeline.out"]),
    ("scripts/wine-prefix-template", []),
    ("scripts/wine-run", ["--sample"]),
    ("scripts/wine-run", ["--no-such-option", "template", "program.exe"]),
    ("tests/windows/check_signing", []),
    ("tests/windows/check_feed_server", ["feed_fetch.exe", "build"]),
]


def main():
    failures = []
    for script, arguments in REFUSED:
        command = " ".join([script, *arguments])
        # A script that does not refuse would start its work: stop it, and what it started.
        process = subprocess.Popen([str(ROOT / script), *arguments], cwd=ROOT,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            _, err = process.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
            failures.append(f"{command}: still running after 60 s")
            continue
        if process.returncode != 2 or "usage: " not in err:
            failures.append(f"{command}: exit {process.returncode}, stderr {err!r}")
    for failure in failures:
        print("FAIL ", failure)
    print(f"{len(REFUSED) - len(failures)} of {len(REFUSED)} refused with their usage line")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
