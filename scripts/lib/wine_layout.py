"""For the Python scripts that start Wine programs: what fixed_address_layout in common.sh does
for the shell scripts, and why."""
import os
import sys

ADDR_NO_RANDOMIZE = 0x0040000


def with_fixed_address_layout():
    """Runs this program again with the kernel's address randomization off, unless it already
    is; every program it starts, Wine's included, inherits that. Call it first."""
    with open("/proc/self/personality") as personality:
        if not int(personality.read(), 16) & ADDR_NO_RANDOMIZE:
            os.execvp("setarch", ["setarch", "--addr-no-randomize", sys.executable, *sys.argv])
