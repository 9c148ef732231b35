"""What the script tests share: the checkout, a run of one of its scripts, and the verdict."""
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def run_script(script, *arguments, **options):
    """Runs `script` (a path in the checkout) with its output captured as text."""
    return subprocess.run([str(ROOT / script), *map(str, arguments)], capture_output=True,
                          text=True, **options)


def report(failures, summary=None):
    """Prints each failure, then the summary if any; the exit status, 1 when any failed."""
    for failure in failures:
        print(failure)
    if summary:
        print(summary)
    return 1 if failures else 0
