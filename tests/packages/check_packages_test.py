#!/usr/bin/env python3
"""The packaging rules of check_packages.py on table rows as msiinfo exports them: for each
rule a package that keeps it and one that breaks it."""
import unittest

from check_packages import removal_faults, service_start_faults, system_program_faults


def sequence(*pairs):
    return [{"Action": action, "Condition": "", "Sequence": str(number)}
            for action, number in pairs]


def custom_action(name, kind, source, target):
    return {"Action": name, "Type": str(kind), "Source": source, "Target": target}


def service(start_type):
    return {"Name": "Corvanta Remote", "StartType": str(start_type)}


# (rule, the rows of its table, what it finds)
CASES = [
    (removal_faults, sequence(("InstallInitialize", 1500), ("RemoveExistingProducts", 1501),
                              ("ProcessComponents", 1600)), []),
    (removal_faults, sequence(("RemoveExistingProducts", 1401), ("InstallInitialize", 1500)),
     ["RemoveExistingProducts at 1401 runs before InstallInitialize at 1500, "
      "outside the transaction"]),
    # The sample's own actions: a DLL run as LocalSystem, a program run as the user.
    (system_program_faults,
     [custom_action("StartServiceAfterRepair", 3137, "ServiceActions", "StartRemoteService"),
      custom_action("LaunchTrayApp", 2258, "UiExe", "")], []),
    # The package before: sc.exe through a property, deferred, no impersonation.
    (system_program_faults,
     [custom_action("StartServiceAfterRepair", 3186, "SCEXE", 'start "Corvanta Remote"')],
     ['custom action StartServiceAfterRepair (type 3186) runs SCEXE start "Corvanta '
      "Remote\" as LocalSystem: a repair opens its window on the user's desktop"]),
    (service_start_faults, [service(2)], []),
    (service_start_faults, [service(3)],
     ["service Corvanta Remote has StartType 3, not 2 (auto start): "
      "it stays stopped after a restart"]),
    (service_start_faults, [], ["installs no service"]),
]


class PackagingRules(unittest.TestCase):
    def test_rules(self):
        for rule, rows, found in CASES:
            with self.subTest(rule.__name__, rows=rows):
                self.assertEqual(rule(rows), found)


if __name__ == "__main__":
    unittest.main()
