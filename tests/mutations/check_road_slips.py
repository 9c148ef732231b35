#!/usr/bin/env python3
"""Applies, one at a time, slips in the road's decisions that its tests must catch, rebuilds
the Windows build and runs the tests named for each slip; every slip must make one of them
fail. Each file is put back as it was after its slip, whatever happened. Not part of the test
command: a run takes about ten minutes on two cores.

    tests/mutations/check_road_slips.py [--only <path text>] [<windows-build-dir>]

Exits with 0 when every slip was caught, 1 when one survived or did not build."""
import argparse
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# (file, text, slipped text, tests that must catch it): the text must stand in the file once.
SLIPS = [
    ("road/service/folder_rules.cpp",
     "(service_account != nullptr && ::EqualSid(sid, service_account)) ||",
     "(service_account != nullptr && ::EqualSid(sid, service_account)) ||"
     " IsWellKnown(sid, WinBuiltinUsersSid) ||", "windows.RoadFolderRules"),
    ("road/service/folder_rules.cpp",
     "if (IsWellKnown(trustee, WinCreatorOwnerSid) && (header->AceFlags & INHERIT_ONLY_ACE) != 0) {",
     "if (IsWellKnown(trustee, WinCreatorOwnerSid)) {", "windows.RoadFolderRules"),
    ("road/service/folder_rules.cpp",
     "  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {",
     "  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {\n    if (header->AceType != 0xFF) return L\"\";",
     "windows.RoadFolderRules"),
    ("road/service/update_requests.cpp",
     "if (found == state.staged.end() || token != found->second.token) {",
     "if (found == state.staged.end()) {", "windows.RoadRequests"),
    ("road/service/update_requests.cpp", "  state.staged.erase(found);", "", "windows.RoadRequests"),
    ("road/contract/road_contract.cpp",
     "if (dash_place ? text[i] != L'-' : !IsHexDigit(text[i])) return false;",
     "if (dash_place ? text[i] != L'-' : !IsHexDigit(text[i]) && text[i] != L'-') return false;",
     "windows.RoadLines"),
    ("road/contract/road_contract.cpp", "  return name.compare(0, prefix, kUpdatePipePrefix) == 0 &&",
     "  return name.find(L\"pipe\\\\CorvantaRemoteUpdate-\") != std::wstring::npos &&",
     "windows.RoadLines"),
    ("road/service/update_pipe.cpp",
     "  if (WaitForHangUp(channel.pipe, channel.io_event, /*stop=*/nullptr, deadline) ==",
     "  if (WaitForHangUp(channel.pipe, channel.io_event, channel.stop, deadline) ==",
     "e2e.StopEndsWhateverHoldsThePipe"),
    ("road/contract/road_contract.cpp", "    if (IsWellFormedToken(token)) return {kind, token, \"\"};",
     "    if (!token.empty()) return {kind, token, \"\"};", "windows.RoadLines"),
    ("road/service/package_hash.cpp", "return hex && ends ? hash : \"\";",
     "return hex || ends ? hash : \"\";", "windows.RoadLines"),
    ("road/service/staging.cpp", "const bool matches = !expected.empty() && actual == expected;",
     "const bool matches = !expected.empty() || actual == expected;",
     "e2e.PackagesThatFailARule"),
    ("road/service/staging.cpp", "for (size_t i = kStagingFoldersKept; i < folders.size(); ++i) {",
     "for (size_t i = kStagingFoldersKept - 1; i < folders.size(); ++i) {", "e2e.SoakOfUpdates"),
    ("road/service/staged_package_check.cpp",
     "  return check.decision.accepted ? std::string() : check.decision.reason;",
     "  return std::string();", "e2e.PackagesThatFailARule"),
    ("sample/service/service_main.cpp",
     "road::ServiceLog log(folders.trusted, own_files.trusted);",
     "road::ServiceLog log(true, own_files.trusted);", "e2e.LevelsTheServiceMustRefuse"),
    ("road/ui/update_client.cpp",
     "  const DWORD service = status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;",
     "  if (status.dwCurrentState != SERVICE_RUNNING) return \"\";\n"
     "  const DWORD service = status.dwProcessId;", "e2e.SquattedPipe"),
    ("sample/ui/apply_update.cpp",
     "    if (!text.empty()) Show(status, text);",
     "    if (!text.empty() && outcome.empty()) Show(status, text);",
     "e2e.FailurePublishedWhileTheUiWaits"),
    ("road/ui/last_update_text.cpp", "  } else if (facts.service_running) {", "  } else {",
     "windows.UpdateOutcomeText"),
    ("road/ui/update_client.h", "FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;",
     "FILE_FLAG_OVERLAPPED | SECURITY_IMPERSONATION;", "windows.RoadLines"),
    ("road/service/watcher_logs.cpp",
     "      static_cast<ULONGLONG>(size.QuadPart) <= kWatcherLogLimitBytes) {",
     "      static_cast<ULONGLONG>(size.QuadPart) <= 16 * kWatcherLogLimitBytes) {",
     "e2e.WatcherLogThatAUserFills"),
    ("sample/msi/product.wxs",
     '<Custom Action="StartServiceAfterRepair" Sequence="6595">REINSTALL AND NOT REMOVE</Custom>',
     '<Custom Action="StartServiceAfterRepair" Sequence="6595">0</Custom>', "e2e.RepairOfThePackage"),
]


def quiet(command):
    return subprocess.run(command, cwd=ROOT, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def caught(build, path, text, slipped, tests):
    """Whether the slip fails the tests; None when it does not build."""
    original = path.read_text()
    if original.count(text) != 1:
        sys.exit(f"{path.relative_to(ROOT)}: the text of a slip stands there "
                 f"{original.count(text)} times, not once: {text}")
    try:
        path.write_text(original.replace(text, slipped))
        if not quiet(["cmake", "--build", build, "--parallel", "2"]):
            return None
        return not quiet(["ctest", "--test-dir", build, "-R", tests])
    finally:
        path.write_text(original)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default=str(ROOT / "build/windows"))
    parser.add_argument("--only", default="",
                        help="apply only the slips in files whose path holds this text")
    arguments = parser.parse_args()
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
