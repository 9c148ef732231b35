#!/usr/bin/env python3
"""Applies, one at a time, slips in the road's decisions that its tests must catch, rebuilds
the Windows build and runs the tests named for each slip; every slip must make one of them
fail. Each file is put back as it was after its slip, whatever happened. Not part of the test
command: a run takes about an hour on two cores; --only runs the slips of some files.

    tests/mutations/check_road_slips.py [--only <path text>] [--texts] [<windows-build-dir>]

Exits with 0 when every slip was caught, 1 when one survived or did not build."""
import argparse
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]

# (file, text, slipped text, tests that must catch it): the text must stand in the file once.
SLIPS = [
    # contract
    ("road/contract/road_contract.cpp",
     "if (dash_place ? token[i] != L'-' : !IsHexDigit(token[i])) return false;",
     "if (dash_place ? token[i] != L'-' : !IsHexDigit(token[i]) && token[i] != L'-') return false;",
     "windows.RoadLines"),
    ("road/contract/pipe_protocol.cpp", '    if (IsWellFormedToken(token)) return {kind, token, ""};',
     '    if (!token.empty()) return {kind, token, ""};', "windows.RoadLines"),
    ("road/contract/pipe_protocol.cpp",
     "return name.compare(0, prefix, kUpdatePipePrefix) == 0 && IsWellFormedToken(name.substr(prefix));",
     "return name.compare(0, prefix, kUpdatePipePrefix) == 0;", "windows.RoadLines"),
    ("road/contract/access_lists.h", 'L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x00120089;;;OW)";',
     'L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x0012008d;;;OW)";', "windows.RoadAccessLists"),
    ("road/contract/access_lists.h",
     'inline constexpr wchar_t kStagedPackageSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)";',
     'inline constexpr wchar_t kStagedPackageSddl[] = L"O:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";',
     "windows.RoadAccessLists"),
    ("road/contract/access_lists.cpp", '(A;;0x0012008d;;;OW)";', '(A;;0x0012008d;;;BU)";',
     "windows.RoadAccessLists"),
    # package
    ("road/package/signature.cpp", "data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;",
     "data.fdwRevocationChecks = WTD_REVOKE_NONE;", "windows.RoadPackageTrust"),
    ("road/package/installed_version.cpp", "    if (status != ERROR_SUCCESS) return false;",
     "    if (status != ERROR_SUCCESS) return true;", "windows.RoadPackageTrust"),
    ("road/package/trust_decision.cpp",
     "  if (!SameTextIgnoringCase(found.upgrade_code, pins.upgrade_code)) {",
     "  if (found.upgrade_code.empty()) {", "windows.RoadPackageTrust"),
    # service: folders and own files
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
    ("road/service/folder_rules.cpp", "FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |",
     "FILE_WRITE_ATTRIBUTES | DELETE |", "windows.RoadFolderRules"),
    ("road/service/road_folders.cpp", "  verdict = CheckEntry(updater, service_account, JudgeFile);",
     "  verdict = {true, L\"\"};", "e2e.UpdaterBesideTheServiceIsJudgedAtEachStart"),
    ("road/service/road_folders.cpp",
     "  std::wstring own = MakeOwnTopLevel(program_data, service_account);",
     "  std::wstring own = false ? MakeOwnTopLevel(program_data, service_account) : L\"\";", "e2e.LevelsTheServiceMustRefuse"),
    ("sample/service/service_main.cpp", "  return {folders.trusted, found->own_files.trusted};",
     "  return {true, found->own_files.trusted};", "e2e.LevelsTheServiceMustRefuse"),
    # service: deliveries and staging
    ("road/service/package_hash.cpp", 'return hex && ends ? hash : "";',
     'return hex || ends ? hash : "";', "windows.RoadLines"),
    ("road/service/package_hash.cpp", "const bool matches = !expected.empty() && actual == expected;",
     "const bool matches = !expected.empty() || actual == expected;",
     "e2e.PackagesThatFailARule"),
    ("road/service/package_check.cpp",
     "  return check.decision.accepted ? std::string() : check.decision.reason;",
     "  return std::string();", "windows.RoadRequests"),
    ("road/service/delivery_verdict.cpp",
     '  if (!hash_matches) return {Fate::kQuarantine, "package hash mismatch"};',
     '  if (false && !hash_matches) return {Fate::kQuarantine, "package hash mismatch"};',
     "windows.RoadCleanUp"),
    ("road/service/delivery_verdict.cpp", '  if (installed && installed->empty()) return {Fate::kOffer, ""};',
     "", "windows.RoadCleanUp"),
    ("road/service/pending_package.cpp",
     "    if (version && (!highest || IsLaterVersion(*version, *highest))) {",
     "    if (version && !highest) {", "e2e.BadDeliveriesAreSetAside"),
    ("road/service/quarantine.cpp", "  for (size_t i = kQuarantineKept; i < folders.size(); ++i) {",
     "  for (size_t i = kQuarantineKept + 1; i < folders.size(); ++i) {",
     "e2e.BadDeliveriesAreSetAside"),
    ("road/service/staging_ledger.cpp",
     "    if (dropped_now || (!waits && ++finished > kept)) remove.push_back(folder.token);",
     "    if (dropped_now || ((waits || !waits) && ++finished > kept)) remove.push_back(folder.token);",
     "windows.RoadCleanUp"),
    # service: requests and the pipe
    ("road/service/update_requests.cpp",
     "if (found == state.staged.end() || token != found->second.token) {",
     "if (found == state.staged.end()) {", "windows.RoadRequests"),
    ("road/service/update_requests.cpp", "  state.staged.erase(found);", "", "windows.RoadRequests"),
    ("road/service/update_requests.cpp",
     "  if (cannot_run.empty()) cannot_run = WhyStagedPackageIsRefused(staged, log);", "",
     "windows.RoadRequests"),
    ("road/service/update_requests.cpp", "  if (!trust.own_files) return",
     "  if (false) return", "e2e.UpdaterBesideTheServiceIsJudgedAtEachStart"),
    ("road/service/repeated_lines.cpp", "found = seen_.emplace(kind, Seen{now_ms, 0, 0}).first;",
     "found = seen_.emplace(line, Seen{now_ms, 0, 0}).first;", "windows.RoadRepeatedLines"),
    ("road/service/update_pipe.h",
     "    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;",
     "    PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;", "windows.RoadAccessLists"),
    ("road/service/update_pipe.cpp",
     "  if (WaitForHangUp(channel.pipe, channel.io_event, /*stop=*/nullptr, deadline) ==",
     "  if (WaitForHangUp(channel.pipe, channel.io_event, channel.stop, deadline) ==",
     "e2e.StopEndsWhateverHoldsThePipe"),
    # service: watcher logs, the guardian, bounded work
    ("road/service/watcher_logs.cpp",
     "      static_cast<ULONGLONG>(size.QuadPart) <= kWatcherLogLimitBytes) {",
     "      static_cast<ULONGLONG>(size.QuadPart) <= 16 * kWatcherLogLimitBytes) {",
     "e2e.WatcherLogThatAUserFills"),
    ("road/service/watcher_logs.h", "inline constexpr DWORD kWatcherLogCheckMs = 5000;",
     "inline constexpr DWORD kWatcherLogCheckMs = 60000;", "e2e.WatcherLogThatAUserFills"),
    ("road/service/guardian_decision.cpp",
     "  if (facts.installation_runs) return WaitFor(kGuardianPollMs);", "",
     "windows.GuardianDecision"),
    ("road/service/update_guardian.cpp", "  } else if (!watch.started_it) {",
     "  } else if (watch.started_it) {", "e2e.NewUpdateCompletesAfterInstallerModeWasKilled"),
    ("road/win/work_thread.cpp",
     "    if (::WaitForSingleObject(thread.get(), step) != WAIT_TIMEOUT) return true;",
     "    if (::WaitForSingleObject(thread.get(), step) != WAIT_TIMEOUT) return false;",
     "e2e.ProductRunsAgainAndTellsTheOutcome/Road_Completed"),
    # the UI
    ("road/ui/update_client.cpp",
     "  const DWORD service = status.dwCurrentState == SERVICE_RUNNING ? status.dwProcessId : 0;",
     "  if (status.dwCurrentState != SERVICE_RUNNING) return \"\";\n"
     "  const DWORD service = status.dwProcessId;", "e2e.SquattedPipeNames"),
    ("road/ui/update_client.h", "FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;",
     "FILE_FLAG_OVERLAPPED | SECURITY_IMPERSONATION;", "windows.RoadLines"),
    ("road/ui/update_client.h", "inline constexpr DWORD kUpdatePipeAccess = GENERIC_READ | FILE_WRITE_DATA;",
     "inline constexpr DWORD kUpdatePipeAccess = GENERIC_READ | GENERIC_WRITE;",
     "windows.RoadAccessLists"),
    ("road/ui/last_update_text.cpp", "  } else if (facts.service_running) {",
     "  } else {", "windows.UpdateOutcomeText"),
    ("sample/ui/apply_update.cpp", "    if (!text.empty()) Show(status, text);",
     "    if (text.empty()) Show(status, text);",
     "e2e.FailurePublishedWhileTheUiWaits"),
    ("sample/ui/apply_update.cpp", "  (void)::TerminateProcess(watcher.process.get(), 1);", "",
     "e2e.StartRefusedOnceTheWatcherRunsEndsTheWatcher"),
    # the service's program and its package
    ("sample/service/service_main.cpp",
     "  (void)::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);", "", "e2e.LibraryLoadOrder"),
    ("sample/msi/product.wxs",
     '<Custom Action="StartServiceAfterRepair" Sequence="6595">REINSTALL AND NOT REMOVE</Custom>',
     '<Custom Action="StartServiceAfterRepair" Sequence="6595">0</Custom>', "e2e.RepairOfThePackage"),
    ("sample/msi/product.wxs", 'Type="ownProcess" Start="auto"', 'Type="ownProcess" Start="demand"',
     "windows.PackagesKeepThePackagingRules"),
    # the feed
    ("road/feed/feed_url.cpp", "  return rest.empty() || rest.front() == ':' || rest.front() == '/';",
     "  return rest.empty() || rest.front() != '@';", "windows.RoadFeed"),
    ("road/feed/utc_time.cpp", "civil.day > DaysInMonth(civil.year, civil.month)",
     "civil.day > DaysInMonth(civil.year + 1, civil.month)", "windows.RoadFeed"),
    ("road/feed/feed_document.cpp", "if (rollout > kFullRollout)",
     "if (rollout > kFullRollout + 1)", "windows.RoadFeed"),
    ("road/feed/feed_verdict.cpp", "if (feed.serial < facts.highest_serial)",
     "if (feed.serial <= facts.highest_serial)", "windows.RoadFeed"),
    ("road/feed/feed_verdict.cpp", "if (facts.now >= feed.expires)",
     "if (facts.now > feed.expires)", "windows.RoadFeed"),
    ("road/feed/feed_verdict.cpp", "(dots < 1 || version.minor == fields->minor)",
     "(dots < 1 || version.minor >= fields->minor)", "windows.RoadFeed"),
    ("road/feed/rollout_slice.cpp", "return RolloutBucket(install_id, version) < percent;",
     "return RolloutBucket(install_id, version) <= percent;", "windows.RoadFeed"),
    ("road/feed/rollout_slice.cpp", "install_id + '\\0' + VersionText(version)",
     "install_id + '\\0' + std::to_string(version.major)", "windows.RoadFeed"),
    ("road/feed/retry_backoff.cpp", "std::max(jittered, asked)", "std::min(jittered, asked)",
     "windows.RoadFeed"),
    ("road/feed/release_download.cpp",
     "  if (size == release.size && Sha256OfFile(path) == release.sha256) {",
     "  if (size == release.size) {", "windows.RoadDownload"),
    ("road/feed/http_fetch.cpp",
     "    if (NarrowPrintable(location, target)) target = ResolveRedirectUrl(current, target);",
     "    if (NarrowPrintable(location, target)) target = target;", "windows.RoadDownload"),
    ("road/feed/feed_signature.cpp",
     "  if (!IsPinnedPublisher(facts.signer_thumbprint, ThisProductsPins().publisher_thumbprints)) {",
     "  if (facts.signer_thumbprint.empty()) {", "windows.RoadFeedSignature"),
    # service: the feed's checks, the policy and automatic updates
    ("road/service/update_check.cpp", "  if (!verdict.accepted) {", "  if (false) {",
     "e2e.InstallNothingAndSayWhy/OtherPublisher"),
    ("road/service/check_schedule.cpp",
     "  if (result.kind == CheckResult::Kind::kRetry && failures > 0) {", "  if (false) {",
     "windows.RoadFeed"),
    ("road/service/update_policy.cpp",
     'JudgePolicyDword(found, kPolicyUpdateMode, 2, "0, 1 or 2", notes)',
     'JudgePolicyDword(found, kPolicyUpdateMode, 3, "0, 1 or 2", notes)', "windows.RoadPolicy"),
    ("road/service/apply_decision.cpp",
     "    return minute >= window.start_minute && minute < window.end_minute;",
     "    return minute >= window.start_minute && minute <= window.end_minute;",
     "windows.RoadPolicy"),
    ("road/ui/update_progress_text.cpp", "    view.may_check = false;\n", "",
     "windows.UpdateOutcomeText"),
]


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
    parser.add_argument("build", nargs="?", default=str(ROOT / "build/windows"))
    parser.add_argument("--only", default="",
                        help="apply only the slips in files whose path holds this text")
    parser.add_argument("--texts", action="store_true",
                        help="only check that each slip's text stands once in its file")
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
