#!/usr/bin/env python3
"""The bookworm-backports source that scripts/setup-debian writes, found from apt folders in
both formats (scripts/lib/apt_sources.sh): the mirror and keyring of the machine's own
bookworm source, nothing when backports is there already, a failure when no mirror is named."""
import subprocess
import sys
import tempfile
from pathlib import Path

from testing import ROOT, report

LIBRARY = ROOT / "scripts" / "lib" / "apt_sources.sh"
OWN = "sources.list.d/bookworm-backports.list"
FROM_MIRROR = ("deb [signed-by=/usr/share/keyrings/mirror.gpg] http://mirror.example/debian "
               "bookworm-backports main")

ONE_LINE = """\
# deb cdrom:[Debian GNU/Linux 12]/ bookworm main
deb-src http://source.example/debian bookworm main
deb [ arch=amd64 signed-by=/usr/share/keyrings/mirror.gpg ] http://mirror.example/debian bookworm main
deb http://mirror.example/debian-security bookworm-security main
"""
DEB822 = """\
Types: deb
# a note inside the stanza
URIs: http://disabled.example/debian
Suites: bookworm
Enabled: no

Types: deb deb-src
URIs: https://mirror.example/debian
  https://second.example/debian
Suites: bookworm-updates bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""
INLINE_KEY = """\
Types: deb
URIs: http://mirror.example/debian
Suites: bookworm
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 -----END PGP PUBLIC KEY BLOCK-----
"""

# (files of the apt folder, exit code, line written)
CASES = [
    ({"sources.list": ONE_LINE}, 0, FROM_MIRROR),
    ({"sources.list.d/debian.sources": DEB822}, 0,
     "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
     "https://mirror.example/debian bookworm-backports main"),
    ({"sources.list.d/debian.sources": INLINE_KEY}, 0,
     "deb http://mirror.example/debian bookworm-backports main"),
    # Backports from another file: nothing to add. Our own file, with an old mirror, is read
    # through: the line is written again with the mirror of today.
    ({"sources.list": ONE_LINE,
      "sources.list.d/extra.list": "deb http://mirror.example/debian bookworm-backports main\n"},
     0, ""),
    ({"sources.list": ONE_LINE, OWN: "deb http://old.example/debian bookworm-backports main\n"},
     0, FROM_MIRROR),
    ({"sources.list": "deb http://mirror.example/debian-security bookworm-security main\n"},
     1, ""),
]


def backports_line(files):
    with tempfile.TemporaryDirectory() as folder:
        (Path(folder) / "sources.list.d").mkdir()
        for name, text in files.items():
            (Path(folder) / name).write_text(text)
        run = subprocess.run(
            ["bash", "-c", 'set -euo pipefail; source "$0"; '
             'apt_binary_sources "$1" "$1/$2" | backports_source_line',
             str(LIBRARY), folder, OWN], capture_output=True, text=True)
        return run.returncode, run.stdout.strip()


def main():
    failures = [f"FAIL  {sorted(files)}: {found}, expected {(code, line)}"
                for files, code, line in CASES if (found := backports_line(files)) != (code, line)]
    return report(failures, f"{len(CASES) - len(failures)} of {len(CASES)} apt folders gave the "
                  "expected source")


if __name__ == "__main__":
    sys.exit(main())
