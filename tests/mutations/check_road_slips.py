#!/usr/bin/env python3
"""Applies, one at a time, slips in the road's decisions that its tests must catch, rebuilds
the Windows build and runs the tests named for each slip; every slip must make one of them
fail. Each file is put back as it was after its slip, whatever happened. Not part of the test
command: a run takes about an hour on two cores; --only runs the slips of some files.

    tests/mutations/check_road_slips.py [--only <path text>] [--texts] [<windows-build-dir>]

Exits with 0 when every slip was caught, 1 when one survived or did not build."""
import argparse
import json
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# road_slips.json: per part of the road, slips of {file, text, slipped, tests}, where `text`
# must stand in `file` once and `tests` is the ctest regex that must catch the slip.
SLIPS = [(slip["file"], slip["text"], slip["slipped"], slip["tests"])
         for part in json.loads((Path(__file__).parent / "road_slips.json").read_text()).values()
         for slip in part]


def misplaced_texts():
    """The slips whose text does not stand exactly once in its file."""
    return [f"{file}: {(ROOT / file).read_text().count(text)} times: {text.strip()[:70]}"
            for file, text, _, _ in SLIPS if (ROOT / file).read_text().count(text) != 1]


def quiet(command):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def caught(build, path, text, slipped, tests):
    """Whether the slip fails the tests; None when it does not build."""
    original = path.read_text()
    try:
        path.write_text(original.replace(text, slipped))
        if not quiet(["cmake", "--build", build, "--parallel", "2"]):
            return None
        return not quiet(["ctest", "--test-dir", build, "-R", tests])
    finally:
        path.write_text(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    add = parser.add_argument
    add("build", nargs="?", default=str(ROOT / "build/windows"))
    add("--only", default="", help="apply only the slips in files whose path holds this text")
    add("--texts", action="store_true", help="only check that each slip's text is once in its file")
    arguments = parser.parse_args()
    misplaced = misplaced_texts()
    if misplaced or arguments.texts:
        print("\n".join(misplaced) or f"the texts of all {len(SLIPS)} slips stand once")
        return 1 if misplaced else 0
    build = arguments.build
    if not quiet(["cmake", "--build", build, "--parallel", "2"]):
        sys.exit(f"the build in {build} fails before any slip")
    survived = 0
    slips = [slip for slip in SLIPS if arguments.only in slip[0]]
    for file, text, slipped, tests in slips:
        verdict = caught(build, ROOT / file, text, slipped, tests)
        word = {True: "caught", False: "SURVIVED", None: "DOES NOT BUILD"}[verdict]
        survived += verdict is not True
        print(f"{word:14} {file}: {text.strip()[:70]}  ({tests})", flush=True)
    quiet(["cmake", "--build", build, "--parallel", "2"])
    print(f"{len(slips) - survived} of {len(slips)} slips caught")
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
