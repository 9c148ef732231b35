#include "contract/road_paths.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include "win/road_handles.h"

namespace road {

namespace {

// A known folder as the shell knows it; empty when unknown.
[[nodiscard]] std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  wchar_t* raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(id, /*flags=*/0, /*token=*/nullptr, &raw);
  const UniqueCoTaskString folder(raw);
  return SUCCEEDED(result) && folder ? std::wstring(folder.get()) : std::wstring();
}

// `folder` + `rest`, or empty when `folder` is unknown.
[[nodiscard]] std::wstring Below(const std::wstring& folder, const std::wstring& rest) {
  return folder.empty() ? folder : folder + rest;
}

}  // namespace

std::wstring ProgramDataFolder() { return KnownFolder(FOLDERID_ProgramData); }

std::wstring ProgramFilesFolder() { return KnownFolder(FOLDERID_ProgramFiles); }

std::wstring UpdatesFolder() { return Below(ProgramDataFolder(), L"\\Corvanta\\Updates"); }

std::wstring IncomingFolder() { return Below(UpdatesFolder(), L"\\Incoming"); }

std::wstring StagingRoot() { return Below(UpdatesFolder(), L"\\Staging"); }

std::wstring StagingFolder(const std::wstring& token) {
  return Below(StagingRoot(), L"\\" + token);
}

std::wstring ServiceLogPath() { return Below(UpdatesFolder(), L"\\CorvantaRemoteService.log"); }

std::wstring UiLogFolder() { return Below(KnownFolder(FOLDERID_LocalAppData), L"\\Corvanta"); }

std::wstring UiLogPath() { return Below(UiLogFolder(), L"\\Corvanta Remote.log"); }

}  // namespace road
