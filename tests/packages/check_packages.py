#!/usr/bin/env python3
"""Checks every package in a folder against the packaging rules of docs/integration.md, read
from the package itself with msiinfo.

Usage: check_packages.py <msiinfo> <folder of .msi packages>

Every *.msi in the folder but corrupt.msi (not a package) is read, so a package variant the
build adds later is checked too. The rules, each a function of the rows of one table:

- removal_faults (InstallExecuteSequence): RemoveExistingProducts is the action right after
  InstallInitialize, each at a sequence number no other action shares. Before
  InstallInitialize the Windows Installer removes the old version at once, outside the
  transaction, and a later failure leaves neither version; any action placed between the two
  would run before the removal is in the script.
- system_program_faults (CustomAction): no action runs a program deferred without
  impersonation, that is, as LocalSystem. In a repair, which a standard user may start for a
  per-machine product, a console program's window opens on that user's desktop. An action in
  the table counts whether a sequence schedules it or not: a transform or a later edit can.
- service_start_faults (ServiceInstall): the package installs the service, to start
  automatically. One installed to start on demand stays stopped after Windows restarts.
"""
import subprocess
import sys
from pathlib import Path

NOT_A_PACKAGE = "corrupt.msi"

# CustomAction.Type: the low six bits name the action's kind; these four run a program (from
# the Binary table, an installed file, a directory, a property).
PROGRAM_TYPES = {2, 18, 34, 50}
IN_SCRIPT = 0x400  # deferred, rollback or commit: runs from the script, not at once
NO_IMPERSONATION = 0x800  # as LocalSystem, not as the user who installs
AUTO_START = 2  # ServiceInstall.StartType: SERVICE_AUTO_START


def read_table(msiinfo, package, table):
    """The rows of one table of the package, each a dict from column name to text; None when
    msiinfo cannot read it."""
    run = subprocess.run([msiinfo, "export", str(package), table],
                         capture_output=True, text=True)
    if run.returncode != 0:
        return None
    lines = [line.rstrip("\r") for line in run.stdout.splitlines()]
    # Three header lines: the column names, their types, the table's name and key.
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line.strip()]


def removal_faults(sequence_rows):
    """What is wrong with the place of the old version's removal, as one line, or nothing."""
    sequence = sorted((int(row["Sequence"]), row["Action"]) for row in sequence_rows)
    numbers = {action: number for number, action in sequence}
    for action in ("InstallInitialize", "RemoveExistingProducts"):
        if action not in numbers:
            return [f"no {action}"]
        shared = [other for number, other in sequence
                  if number == numbers[action] and other != action]
        if shared:
            return [f"{action} shares {numbers[action]} with {', '.join(shared)}"]
    initialize, removal = numbers["InstallInitialize"], numbers["RemoveExistingProducts"]
    if removal < initialize:
        return [f"RemoveExistingProducts at {removal} runs before InstallInitialize at "
                f"{initialize}, outside the transaction"]
    between = [f"{action} at {number}" for number, action in sequence
               if initialize < number < removal]
    return [f"{', '.join(between)} between InstallInitialize at {initialize} and "
            f"RemoveExistingProducts at {removal}"] if between else []


def system_program_faults(custom_action_rows):
    """One line for each custom action that runs a program as LocalSystem."""
    return [f"custom action {row['Action']} (type {kind}) runs {row['Source']} {row['Target']}"
            .rstrip() + " as LocalSystem: a repair opens its window on the user's desktop"
            for row in custom_action_rows if (kind := int(row["Type"])) & 0x3F in PROGRAM_TYPES
            and kind & IN_SCRIPT and kind & NO_IMPERSONATION]


def service_start_faults(service_rows):
    """One line for each installed service that does not start with Windows; one when the
    package installs no service."""
    if not service_rows:
        return ["installs no service"]
    return [f"service {row['Name']} has StartType {row['StartType']}, not {AUTO_START} "
            f"(auto start): it stays stopped after a restart"
            for row in service_rows if int(row["StartType"]) != AUTO_START]


def package_faults(msiinfo, package):
    """Every broken rule of one package, as lines."""
    rules = {"InstallExecuteSequence": removal_faults, "CustomAction": system_program_faults,
             "ServiceInstall": service_start_faults}
    tables = {name: read_table(msiinfo, package, name) for name in rules}
    unreadable = [name for name, rows in tables.items() if rows is None]
    if unreadable:
        return [f"msiinfo cannot read {', '.join(unreadable)}"]
    return [fault for name, rule in rules.items() for fault in rule(tables[name])]


def main():
    if len(sys.argv) != 3 or any(argument.startswith("-") for argument in sys.argv[1:]):
        print("usage: check_packages.py <msiinfo> <folder of .msi packages>", file=sys.stderr)
        return 2
    msiinfo, folder = sys.argv[1], Path(sys.argv[2])
    packages = sorted(path for path in folder.glob("*.msi") if path.name != NOT_A_PACKAGE)
    if not packages:
        print(f"FAIL  no package in {folder}: build the target sample_msi")
        return 1
    failures = 0
    for package in packages:
        faults = [f"FAIL  {package.name}: {fault}" for fault in package_faults(msiinfo, package)]
        failures += bool(faults)
        print("\n".join(faults) or f"ok    {package.name}")
    print(f"{len(packages)} package(s) read, {failures} breaking a packaging rule")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
