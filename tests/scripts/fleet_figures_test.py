#!/usr/bin/env python3
"""Checks scripts/fleet-figures against figures worked out by hand for two fleets, row by row
as the Markdown tables print them, that its picture is well-formed SVG with a line for each
series, and that docs/fleet.md and docs/fleet.svg hold what it makes with its defaults."""
import sys
import xml.etree.ElementTree as ElementTree

from testing import ROOT, report, run_script

SVG = "{http://www.w3.org/2000/svg}"

# (arguments, rows the output must hold, lines drawn: two for the checks, one per stage)
CASES = [
    # The defaults, 10^6 machines, a check every 4 h +/- 1 h:
    #   checks: 10^6 / 14,400 s = 69.4/s; peak 10^6 / 7,200 s (the 2 h spread) = 139/s;
    #   feed: 69.4/s x 6,144 B x 8 = 3.41 Mbit/s; a 304 of 300 B: 0.167 Mbit/s;
    #   40 MiB = 41,943,040 B; stage 1 % adds 10^4 machines:
    #   10^4 x 41,943,040 x 8 / 14,400 s = 0.233 Gbit/s; 10 % adds 9 x 10^4: 2.10;
    #   50 % adds 4 x 10^5: 9.32; 100 % adds 5 x 10^5: 11.7 Gbit/s;
    #   whole rollout 10^6 x 40 MiB = 4 x 10^7 MiB / 2^20 = 38.1 TiB.
    (["--machines", "1000000"],
     ["| 1,000,000 | 69.4 | 139 | 3.41 | 0.167 |",
      "| 1,000,000 | 0.233 | 2.10 | 9.32 | 11.7 | 38.1 |"], 6),
    # 10^3 machines every 1 h +/- 15 min, stages 20 % then 100 %, a 100 MiB package:
    #   checks: 1,000 / 3,600 s = 0.278/s; peak 1,000 / 1,800 s = 0.556/s;
    #   feed: 0.278/s x 4,096 B x 8 = 0.00910 Mbit/s; 304s of 0 B: 0;
    #   stage 20 %: 200 x 104,857,600 B x 8 / 3,600 s = 0.0466 Gbit/s; 100 % adds 800: 0.186;
    #   whole rollout 10^5 MiB / 2^20 = 0.0954 TiB.
    (["--machines", "1000", "--interval-hours", "1", "--spread-hours", "0.25", "--stages",
      "20,100", "--package-mib", "100", "--feed-bytes", "4096", "--not-modified-bytes", "0"],
     ["| 1,000 | 0.278 | 0.556 | 0.00910 | 0 |",
      "| 1,000 | 0.0466 | 0.186 | 0.0954 |"], 4),
]


def figures(*arguments):
    """scripts/fleet-figures run with `arguments`: the tables on stdout, and the picture drawn
    on stderr, where nothing else goes unless it fails."""
    return run_script("scripts/fleet-figures", *arguments, "--svg", "/dev/stderr")


def committed_figures():
    """A line for each of docs/fleet.svg and the tables of docs/fleet.md that the script's
    defaults no longer make."""
    result = figures()
    result.check_returncode()
    stale = [] if result.stdout in (ROOT / "docs/fleet.md").read_text() else ["docs/fleet.md"]
    stale += [] if result.stderr == (ROOT / "docs/fleet.svg").read_text() else ["docs/fleet.svg"]
    return [f"{name} is not what scripts/fleet-figures makes: make it again" for name in stale]


def main():
    failures = committed_figures()
    for arguments, rows, lines in CASES:
        result = figures(*arguments)
        name = " ".join(arguments)
        if result.returncode != 0:
            failures.append(f"{name}: exit {result.returncode}, {result.stderr!r}")
            continue
        printed = result.stdout.splitlines()
        failures += [f"{name}: no row {row!r}" for row in rows if row not in printed]
        try:
            drawn = len(ElementTree.fromstring(result.stderr).findall(f"{SVG}polyline"))
        except ElementTree.ParseError as error:
            failures.append(f"{name}: the picture is not well-formed XML: {error}")
            continue
        if drawn != lines:
            failures.append(f"{name}: {drawn} lines drawn, not {lines}")
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
