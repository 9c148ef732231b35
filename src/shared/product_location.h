// Where the product's application executable is installed.
#pragma once

#include <string>

#include "shared/updater_contract.h"

// The product executable's file name, as process entries report it.
using updater_contract::kProductExecutableName;

// Returns %ProgramFiles%\Corvanta Remote\Corvanta Remote.exe, formed from the
// environment on every call and used exactly as the variable holds it (a
// trailing backslash stays, giving a doubled separator). Returns an empty
// string when ProgramFiles is unset or cannot be read. Touches no file.
[[nodiscard]] std::wstring ProductExecutablePath();
