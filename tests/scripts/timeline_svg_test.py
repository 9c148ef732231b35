#!/usr/bin/env python3
"""Checks scripts/timeline-svg on the committed demo timeline (docs/timeline.out): each
process's bar lies in its lane and both marks are drawn; a note line it does not know, put
anywhere, changes nothing; and updaters found only in the process list (started by another
program than the launcher) still land in the installer and watcher lanes."""
import re
import sys

from testing import ROOT, report, run_script

LANE_ROWS = {"service": 0, "old": 1, "installer": 2, "msiexec": 3, "watcher": 4, "new": 5}
TOP, LANE_HEIGHT = 46, 34  # as scripts/timeline-svg lays the lanes out


def draw(text):
    return run_script("scripts/timeline-svg", "/dev/stdin", "/dev/stdout", input=text,
                      check=True).stdout


def misplaced(svg, expected, label):
    """One line for each process of `expected` ({pid: row}) that the picture draws elsewhere."""
    rows = {}
    for y, pid in re.findall(r'<rect x="[^"]*" y="(\d+)"[^>]*><title>[^<]* pid (\d+)</title>', svg):
        rows.setdefault(int(pid), (int(y) - TOP) // LANE_HEIGHT)
    return [f"{label}pid {p} drawn in row {rows.get(p)}, not {r}"
            for p, r in expected.items() if rows.get(p) != r]


def expected_rows(lines):
    def pid(pattern):
        return int(next(m.group(1) for m in map(re.compile(pattern).search, lines) if m))

    return {pid(r"started: installer mode pid (\d+)"): LANE_ROWS["installer"],
            pid(r"started: relaunch watcher pid (\d+)"): LANE_ROWS["watcher"],
            pid(r"started: msiexec\.exe pid (\d+) by installer"): LANE_ROWS["msiexec"],
            pid(r"running: Corvanta Remote\.exe pid (\d+)"): LANE_ROWS["old"],
            pid(r"started: Corvanta Remote\.exe pid (\d+)"): LANE_ROWS["new"]}


def main():
    lines = (ROOT / "docs/timeline.out").read_text().splitlines(keepends=True)
    base = draw("".join(lines))
    expected = expected_rows(lines)
    failures = misplaced(base, expected, "")
    failures += [f"no mark {m!r}" for m in ("record: completed", "relaunch") if m not in base]

    notes = ["+0.500 s   pipe: a note this drawing does not know\n", "not a timeline line\n"]
    for at in range(len(lines) + 1):
        if draw("".join(lines[:at] + notes + lines[at:])) != base:
            failures.append(f"notes before line {at + 1} change the picture")

    # The updaters as the process list names them, started by the service and the old UI.
    renamed = "".join(lines)
    for updater, parent in (("installer mode", "CorvantaRemoteService.exe pid 1"),
                            ("relaunch watcher", "Corvanta Remote.exe pid 2")):
        renamed = re.sub(rf"started: {updater} pid (\d+) by [^,]*, .*",
                         rf"started: RemoteUpdater.exe pid \1 by {parent}, "
                         r"C:\\ProgramData\\RemoteUpdater.exe", renamed)
        renamed = renamed.replace(f"by {updater} pid", "by RemoteUpdater.exe pid")
    if re.search(r"(started|by) (installer mode|relaunch watcher) pid", renamed):
        failures.append("the updaters keep their modes' names: the timeline's format changed")
    failures += misplaced(draw(renamed), expected, "found in the process list: ")

    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
