#!/usr/bin/env python3
"""The updater's contract for the scripts: a text constant of src/shared/updater_contract.h,
read from the header itself, so that the scripts never type it again.

    scripts/lib/updater_contract.py <constant>...   prints each constant's text on a line

From Python: `from updater_contract import text` and `text("kServiceName")`.
"""
import re
import sys
from pathlib import Path

HEADER = Path(__file__).resolve().parents[2] / "src/shared/updater_contract.h"


def text(name):
    """The text of the constant `name` (a one-line char or wchar_t string literal)."""
    found = re.search(rf'\b{re.escape(name)}\[\] = L?"((?:[^"\\]|\\.)*)";', HEADER.read_text())
    if not found:
        raise KeyError(f"{HEADER} defines no text constant {name}")
    return re.sub(r"\\(.)", r"\1", found[1])


if __name__ == "__main__":
    try:
        print("\n".join(text(name) for name in sys.argv[1:]))
    except KeyError as error:
        sys.exit(f"{sys.argv[0]}: {error.args[0]}")
