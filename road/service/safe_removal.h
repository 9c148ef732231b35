// Removal of what the service finds in its own folders, never following a link.
#pragma once

#include <windows.h>

#include <string>

namespace road {

// Removes what was found at `path` with `attributes` (as a listing or GetFileAttributesW gave
// them): a file, or a folder with all it holds. A junction or link is removed itself, and what
// it points to is not touched (HowToRemove). True when `path` itself was removed. Best effort:
// what is left, a later update tries again.
bool RemoveEntry(const std::wstring& path, DWORD attributes);

}  // namespace road
