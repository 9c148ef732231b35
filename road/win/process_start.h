// Starting processes with command lines that CommandLineToArgvW splits back as given.
#pragma once

#include <windows.h>

#include <string>

#include "shared/unique_handles.h"

namespace road {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
[[nodiscard]] std::wstring QuoteArgument(const std::wstring& arg);

// Starts a process with no inherited handles: `program` by its absolute path, or when null the
// program that `command_line` names, searched for as CreateProcessW does; `folder` is its
// current folder (this one's when null). Empty owners and the error in `error` when it cannot.
[[nodiscard]] ProcessHandles StartProcess(const wchar_t* program, std::wstring command_line,
                                          const wchar_t* folder, DWORD& error) noexcept;

// Starts `program` by its absolute path with `arguments` and `folder` as current folder.
[[nodiscard]] ProcessHandles StartFromFolder(const std::wstring& program,
                                             const std::wstring& arguments,
                                             const std::wstring& folder, DWORD& error);

// Starts `program` by its absolute path with `arguments` and `folder` as current folder, made
// with `flags` (CREATE_SUSPENDED, say), handing it `inherited`, an inheritable handle, and no
// other (none when null): the list of handles to inherit is given explicitly, so that an
// inheritable handle made meanwhile by another thread does not leak into it.
[[nodiscard]] ProcessHandles StartHandingDown(const std::wstring& program,
                                              const std::wstring& arguments,
                                              const std::wstring& folder, DWORD flags,
                                              HANDLE inherited, DWORD& error);

}  // namespace road
