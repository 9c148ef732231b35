// Where the product's application executable is installed.
#pragma once

#include <string>

// The product executable's file name, as process entries report it.
inline constexpr wchar_t kProductExecutableName[] = L"Corvanta Remote.exe";

// Returns %ProgramFiles%\Corvanta Remote\Corvanta Remote.exe, formed from the
// environment on every call and used exactly as the variable holds it (a
// trailing backslash stays, giving a doubled separator). Returns an empty
// string when ProgramFiles is unset or cannot be read. Touches no file.
[[nodiscard]] std::wstring ProductExecutablePath();
