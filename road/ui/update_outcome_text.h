// What the UI program tells its user about an update, in the user's words: each state of its
// exchange with the service, and the outcome of the last update as the updater's record gives
// it. Pure: every text is chosen from what it is handed.
#pragma once

#include <windows.h>

#include <string>

#include "contract/pipe_protocol.h"
#include "contract/road_contract.h"

namespace road {

// While the service stages and checks the package, and until installer mode is started.
inline constexpr wchar_t kPreparingUpdateText[] =
    L"Preparing the update: the service checks the package";
// Once the service started installer mode, which closes this program.
inline constexpr wchar_t kUpdateStartedText[] =
    L"The update has started: this program closes now and opens again once it is installed";

// The words for the service's answer (or the client's own "no answer"): preparing for
// "staged", started for "started", and for a refusal or no answer what happened and what to
// do. A reason that says what to do ("...; try again when ...") is shown as it is; any other
// is followed by advice.
[[nodiscard]] std::wstring AnswerText(const Answer& answer);

// The words when the relaunch watcher could not be started (`error` from CreateProcessW): the
// update is not started.
[[nodiscard]] std::wstring WatcherNotStartedText(DWORD error);

// The words for the outcome text of the updater's record, after its bar, shown by the program
// that runs as `running_version` once the update has ended:
//   - "completed": the update completed, with the version now running;
//   - a restart required (installer exit 3010), or the service not running again: "Restart
//     Windows to finish the update";
//   - a busy Windows Installer (exit 1618): "Try again later";
//   - any other failure: its reason, and the path of the installer's log when it has one;
//     "Try again later" when it has none.
// Empty for a text that is no outcome.
[[nodiscard]] std::wstring UpdateOutcomeText(const std::wstring& outcome,
                                             const std::wstring& running_version);

}  // namespace road
