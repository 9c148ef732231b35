// The updater's contract with the product that starts it: every name and text that the
// updater, the product's update road, the tools and the tests share. Each is written here
// once; the updater forms its texts from these, and nothing outside it types them again.
// ContractWordsTest (tests/unit/contract_words_test.cpp) holds each one as literal text: a
// change here is a change of the contract and must be made there too.
#pragma once

namespace updater_contract {

// The two modes' switches, each followed by two arguments:
//   RemoteUpdater.exe --edk-remote-install-msi <msi path> <token>
//   RemoteUpdater.exe --edk-remote-relaunch <old UI process id> <token>
inline constexpr wchar_t kInstallSwitch[] = L"--edk-remote-install-msi";
inline constexpr wchar_t kRelaunchSwitch[] = L"--edk-remote-relaunch";

// The update status record: a REG_SZ value under HKEY_LOCAL_MACHINE in the 64-bit view,
// "<token>|<outcome>", replaced whole by each write.
inline constexpr wchar_t kStatusKeyPath[] = L"SOFTWARE\\Corvanta\\RemoteUpdater";
inline constexpr wchar_t kStatusValueName[] = L"Status";
inline constexpr wchar_t kRecordSeparator[] = L"|";

// The outcome texts: "completed", or "failed:" directly followed by the reason.
inline constexpr wchar_t kCompletedOutcome[] = L"completed";
inline constexpr wchar_t kFailedKeyword[] = L"failed:";
// The outcome when the service did not run again: this prefix, then the installation's own
// outcome text.
inline constexpr wchar_t kRestartFailedPrefix[] =
    L"failed:Remote service could not restart; installation result: ";
// The reasons for the Windows Installer's exit codes: 3010, and any other code after this text.
inline constexpr wchar_t kRestartRequiredReason[] = L"Windows restart required";
inline constexpr wchar_t kInstallerExitReason[] = L"MSI exit ";
// Placed before the path of the Windows Installer's log inside an outcome text.
inline constexpr wchar_t kLogPathSeparator[] = L"; log: ";

// The product: its folder below %ProgramFiles%, its application and its service.
inline constexpr wchar_t kProductFolderName[] = L"Corvanta Remote";
inline constexpr wchar_t kProductExecutableName[] = L"Corvanta Remote.exe";
inline constexpr wchar_t kServiceName[] = L"Corvanta Remote";
// The updater's own file name, and the suffixes of the files it writes beside its inputs:
// the watcher log beside the updater, the Windows Installer's log beside the package.
inline constexpr wchar_t kUpdaterFileName[] = L"RemoteUpdater.exe";
inline constexpr wchar_t kLogSuffix[] = L".log";

// The watcher log's lines (ASCII, each ended by CR LF). The launch line reads
// "Launch PID=<pid> exit=<code>"; a failed creation "CreateProcess failed: <error>".
inline constexpr char kWatcherWaiting[] = "Waiting for update completion and old UI exit";
inline constexpr char kWatcherFailedEarly[] = "Update failed before old UI exited";
inline constexpr char kWatcherLaunchPid[] = "Launch PID=";
inline constexpr char kWatcherLaunchExit[] = " exit=";
inline constexpr char kWatcherCreateFailed[] = "CreateProcess failed: ";
inline constexpr char kWatcherGaveUp[] = "Relaunch watcher ended without launching the application";

}  // namespace updater_contract
