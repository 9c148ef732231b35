#!/usr/bin/env python3
"""Traces which libraries RemoteUpdater.exe, and the sample's service, load before they lock
the library search.

Usage: check_load_order.py <source-dir> <RemoteUpdater.exe> <sample-build-dir> <wine-template>

Runs the executable twice under a Wine relay and load trace, in one prefix with
version 1 of the sample product installed: with an empty command line, and as
a whole installer-mode run that installs version 2. In the updater's own
process, everything before its first SetDefaultDllDirectories call must load
nothing but its load-time imports and the libraries those import in turn (read
from the prefix's own system32), and call no LoadLibrary*, LdrLoadDll,
CryptAcquireContext* or COM function. Wine loads the crypto provider and its
libraries as builtins even when a copy lies beside the executable, so only the
trace, not a planted library, shows when they load. What this relies on of
the trace is described in docs/wine.md.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "scripts", "lib")]
from check_pe import Image, check, failures, verdict  # noqa: E402
from updater_contract import text as contract_text  # noqa: E402
from wine_layout import with_fixed_address_layout  # noqa: E402

LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at ')
CALL = re.compile(r"^([0-9a-f]+):[0-9a-f]+:Call ([\w.]+)\.(\w+)\((.*)")
LOADING_CALLS = re.compile(r"LoadLibrary\w*|LoadPackagedLibrary|LdrLoadDll|CryptAcquireContext\w*"
                           r"|Co[A-Z]\w*|OleInitialize")
TOKEN = "{6c1c5f2a-4b8e-4d07-9a55-load0order01}"


def allowed_before_lock(program, system32):
    """The program itself, its load-time imports and, in turn, theirs, as the prefix holds
    them."""
    found, pending = {os.path.basename(program).lower()}, [program]
    while pending:
        path = pending.pop()
        if os.path.exists(path):
            with open(path, "rb") as library:
                imports = set(Image(library.read()).imports()) - found
            found |= imports
            pending.extend(os.path.join(system32, name) for name in imports)
    return found


def before_lock(trace_path, exe_name):
    """Returns (libraries loaded, calls made, lock call or None) in the updater's
    process before its first SetDefaultDllDirectories call."""
    process, loaded, calls = None, [], []
    with open(trace_path, encoding="utf-8", errors="replace") as trace:
        for line in trace:
            match = LOADED.match(line)
            if match and process is None and match[2].lower().endswith("\\" + exe_name.lower()):
                process = match[1]
                continue
            if process is None or not line.startswith(process + ":"):
                continue
            if match:
                loaded.append(match[2])
                continue
            match = CALL.match(line)
            if match and match[3] == "SetDefaultDllDirectories":
                return loaded, calls, match[4].split(")", 1)[0]
            if match:
                calls.append(f"{match[2]}.{match[3]}")
    return loaded, calls, None


# Libraries that Windows takes only from System32, whatever the search order (KnownDLLs), and
# that Wine's user32 loads by name as it starts.
KNOWN_DLLS = {"imm32.dll"}


def traced_run(label, environment, arguments, trace_path, allowed, known_dlls=frozenset()):
    """Runs `arguments` under Wine with a relay and load trace into `trace_path`, checks what the
    program loads and calls before it locks the library search, and returns its exit status.
    `known_dlls`: libraries that may load by name before the lock, since Windows takes them
    from System32 alone."""
    traced = dict(environment, WINEDEBUG="+pid,+relay,+loaddll")
    with open(trace_path, "w") as trace:
        status = subprocess.run(["wine", *arguments], env=traced, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=trace).returncode
    loaded, calls, lock = before_lock(trace_path, os.path.basename(arguments[0]))
    check(lock == "00000800",
          f"{label}: locks the search to System32: SetDefaultDllDirectories({lock})")
    stray = [path for path in loaded
             if path.lower().rsplit("\\", 1)[-1] not in allowed | known_dlls
             or not path.lower().startswith("c:\\\\windows\\\\system32\\\\")]
    check(loaded and not stray,
          f"{label}: before the lock only load-time imports from system32 load: "
          + ", ".join(stray or [path.rsplit("\\", 1)[-1] for path in loaded]))
    loading = sorted({call for call in calls if LOADING_CALLS.fullmatch(call.split(".", 1)[1])
                      and not (known_dlls and call == "ntdll.LdrLoadDll")})
    check(not loading, f"{label}: nothing before the lock loads a library or starts COM"
          + "".join(": " + ", ".join(loading) for _ in loading[:1]))
    return status


def main():
    with_fixed_address_layout()
    source, exe, sample_build, template = (os.path.realpath(a) for a in sys.argv[1:5])
    work = tempfile.mkdtemp(prefix="load-order.")
    prefix = os.path.join(work, "prefix")
    environment = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
    environment.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        # Tests started side by side make the template once.
        subprocess.run(["flock", template + ".lock",
                        os.path.join(source, "scripts", "wine-prefix-template"), template],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run([os.path.join(source, "scripts", "sample-prefix"), template, prefix,
                        sample_build], env=environment, check=True, stdout=subprocess.DEVNULL)
        # A folder of its own, as the product's staging folder would be.
        folder = os.path.join(prefix, "drive_c", "Staging")
        os.makedirs(folder)
        copy = shutil.copy(exe, folder)
        system32 = os.path.join(prefix, "drive_c", "windows", "system32")
        allowed = allowed_before_lock(copy, system32)

        status = traced_run("empty command line", environment, [copy],
                            os.path.join(work, "empty.trace"), allowed)
        check(status == 1, f"an empty command line ends with 1: {status}")

        status = traced_run("installer mode", environment,
                            [copy, contract_text("kInstallSwitch"),
                             "C:\\packages\\CorvantaRemote-2.0.0.msi", TOKEN],
                            os.path.join(work, "install.trace"), allowed)
        status_key = "HKLM\\" + contract_text("kStatusKeyPath")
        record = subprocess.run(
            ["wine", "reg", "query", status_key, "/v", contract_text("kStatusValueName")],
            env=environment, capture_output=True, text=True).stdout
        completed = TOKEN + contract_text("kRecordSeparator") + contract_text("kCompletedOutcome")
        check(status == 0 and completed in record,
              f"installer mode completes the update: exit {status}, {record.split()[-1:]}")

        # The service runs as LocalSystem from the product's folder, beside which nothing of
        # bcrypt, crypt32, msi, winhttp or wintrust may load: its wmain locks the search before
        # anything of the road runs. Started outside the service manager it ends at once with 1,
        # its lock made. It imports shell32 at load time, whose user32 loads imm32 by name as it
        # starts: a known DLL, which Windows takes from System32 alone.
        service = os.path.join(prefix, "drive_c", "Program Files", "Corvanta Remote",
                               "CorvantaRemoteService.exe")
        status = traced_run("the service", environment, [service],
                            os.path.join(work, "service.trace"),
                            allowed_before_lock(service, system32), KNOWN_DLLS)
        check(status == 1, f"the service outside the service manager ends with 1: {status}")
    finally:
        subprocess.run(["wineserver", "-k"], env=environment, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=environment, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)
        if failures:
            print(f"traces kept in {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    return verdict()


if __name__ == "__main__":
    sys.exit(main())
