#!/usr/bin/env python3
"""Checks that every package in a folder removes the old version inside the installation's
transaction, read from the package itself with msiinfo.

Usage: check_install_sequence.py <msiinfo> <folder of .msi packages>

Every *.msi in the folder but corrupt.msi (not a package) is read, so a package variant the
build adds later is checked too. In its InstallExecuteSequence, RemoveExistingProducts must
be the action right after InstallInitialize, each at a sequence number no other action shares.
Before InstallInitialize the Windows Installer removes the old version at once, outside the
transaction, and a later failure leaves neither version; any action placed between the two
would run before the removal is in the script.
"""
import subprocess
import sys
from pathlib import Path

NOT_A_PACKAGE = "corrupt.msi"


def install_sequence(msiinfo, package):
    """The package's InstallExecuteSequence as (sequence number, action), in running order;
    None when msiinfo cannot read it."""
    run = subprocess.run([msiinfo, "export", str(package), "InstallExecuteSequence"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None
    table = run.stdout
    # Three header lines: the column names, their types, the table's name and key.
    rows = [line.rstrip("\r").split("\t") for line in table.splitlines()[3:] if line.strip()]
    return sorted((int(sequence), action) for action, _condition, sequence in rows)


def fault(sequence):
    """What is wrong with the order of the removal in a sequence, or None."""
    numbers = {action: number for number, action in sequence}
    for action in ("InstallInitialize", "RemoveExistingProducts"):
        if action not in numbers:
            return f"no {action}"
        shared = [other for number, other in sequence
                  if number == numbers[action] and other != action]
        if shared:
            return f"{action} shares {numbers[action]} with {', '.join(shared)}"
    initialize, removal = numbers["InstallInitialize"], numbers["RemoveExistingProducts"]
    if removal < initialize:
        return (f"RemoveExistingProducts at {removal} runs before InstallInitialize at "
                f"{initialize}, outside the transaction")
    between = [f"{action} at {number}" for number, action in sequence
               if initialize < number < removal]
    if between:
        return (f"{', '.join(between)} between InstallInitialize at {initialize} and "
                f"RemoveExistingProducts at {removal}")
    return None


def main():
    if len(sys.argv) != 3 or any(argument.startswith("-") for argument in sys.argv[1:]):
        print("usage: check_install_sequence.py <msiinfo> <folder of .msi packages>",
              file=sys.stderr)
        return 2
    msiinfo, folder = sys.argv[1], Path(sys.argv[2])
    packages = sorted(path for path in folder.glob("*.msi") if path.name != NOT_A_PACKAGE)
    if not packages:
        print(f"FAIL  no package in {folder}: build the target sample_msi")
        return 1
    failures = 0
    for package in packages:
        sequence = install_sequence(msiinfo, package)
        problem = fault(sequence) if sequence is not None else "msiinfo cannot read it"
        if problem:
            failures += 1
            print(f"FAIL  {package.name}: {problem}")
        else:
            numbers = {action: number for number, action in sequence}
            print(f"ok    {package.name}: InstallInitialize {numbers['InstallInitialize']}, "
                  f"RemoveExistingProducts {numbers['RemoveExistingProducts']}")
    print(f"{len(packages)} package(s) read, {failures} with the removal out of place")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
