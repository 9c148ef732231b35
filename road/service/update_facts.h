// Finding out, through Win32, what DecideWhetherUpdateMayRun decides on.
#pragma once

#include <windows.h>

#include <string>

#include "service/update_preflight.h"

namespace road {

// The Windows Installer holds this mutex while an installation runs; msiexec ends with 1618
// when it exists.
inline constexpr wchar_t kInstallerMutexName[] = L"Global\\_MSIExecute";

// Looks, now, at the Windows Installer's mutex; at the running copies of
// "%ProgramFiles%\Corvanta Remote\Corvanta Remote.exe" (file name and path compared with
// only ASCII letters folded, as installer mode does when it ends them) and their sessions;
// and at the free space of the system drive (that of GetSystemDirectoryW) and the size of
// `package`. `client_session` is the session of the client that asks. Whatever cannot be
// read is left as unknown. Every handle it opens is closed before it returns.
[[nodiscard]] UpdateFacts GatherUpdateFacts(ULONG client_session, const std::wstring& package);

}  // namespace road
