// The simulated Windows: command-line splitting.
#pragma once

#include <windows.h>

// Splits a command line by the shell's rules into one LocalAlloc'd block.
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR command_line, int* count);
