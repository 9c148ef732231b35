#!/usr/bin/env python3
"""Every script, given an unknown option, an argument too few or a number that is not one,
refuses before doing anything: it prints its usage line on stderr and exits with 2."""
import os
import signal
import subprocess
import sys

from testing import ROOT, report

# Each script, and the command lines it must refuse (arguments split at spaces).
REFUSED = {
    "scripts/bench": ["--no-such-option", "--rounds abc", "--rounds 0"],
    "scripts/check-reproducible": ["", "--no-such-option RemoteUpdater.exe"],
    "scripts/demo": ["--no-such-option", "build/one build/two"],
    "scripts/fleet-figures": ["--no-such-option", "--machines abc", "--stages 50,10"],
    "scripts/fuzz": ["abc", "0", "--no-such-option"],
    "scripts/publish": ["CorvantaRemote-2.0.0.msi", "CorvantaRemote-2.0.0.msi feed --rollout 101",
                        "--verify feed roots.pem"],
    "scripts/sample-prefix": ["--with-ui template prefix", "--keep",
                              "--with-ui --keep kept template prefix build",
                              "--trust no-such.der template prefix build"],
    "scripts/screenshots": ["a b c"],
    "scripts/setup-debian": ["--no-such-option"],
    "scripts/sign": ["", "--no-such-option", "--verify RemoteUpdater.exe"],
    "scripts/static-analysis": ["--no-such-option"],
    "scripts/test": ["--no-such-option"],
    "scripts/timeline-svg": ["timeline.out"],
    "scripts/wine-prefix-template": [""],
    "scripts/wine-run": ["--sample", "--no-such-option template program.exe"],
    "tests/windows/check_signing": [""],
    "tests/windows/check_feed_server": ["feed_fetch.exe build"],
}


def main():
    commands = [(script, line.split()) for script, lines in REFUSED.items() for line in lines]
    failures = []
    for script, arguments in commands:
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
            failures.append(f"FAIL  {command}: still running after 60 s")
            continue
        if process.returncode != 2 or "usage: " not in err:
            failures.append(f"FAIL  {command}: exit {process.returncode}, stderr {err!r}")
    return report(failures, f"{len(commands) - len(failures)} of {len(commands)} refused with "
                  "their usage line")


if __name__ == "__main__":
    sys.exit(main())
