// The simulated Windows: command line, environment, module name, system
// directory.
#include <cstdlib>
#include <cstring>

#include <shellapi.h>

#include "state.h"

using namespace winsim::detail;

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Splits a command line the way the shell does. The program name ends at the
// first blank, or at the closing quote when it starts with one, and knows no
// escapes. In the other elements, 2n backslashes before a quote give n
// backslashes and the quote toggles quoting; 2n+1 give n backslashes and a
// literal quote.
std::vector<std::wstring> Split(const wchar_t* s) {
  std::vector<std::wstring> elements;
  std::wstring first;
  if (*s == L'"') {
    ++s;
    while (*s != L'\0' && *s != L'"') first += *s++;
    if (*s == L'"') ++s;
  } else {
    while (*s != L'\0' && !IsBlank(*s)) first += *s++;
  }
  elements.push_back(first);
  while (IsBlank(*s)) ++s;
  if (*s == L'\0') return elements;

  std::wstring current;
  int quotes = 0;  // 1 while inside quotes
  size_t backslashes = 0;
  while (*s != L'\0') {
    if (IsBlank(*s) && quotes == 0) {
      current.append(backslashes, L'\\');
      backslashes = 0;
      elements.push_back(current);
      current.clear();
      while (IsBlank(*s)) ++s;
      if (*s == L'\0') return elements;
      continue;
    }
    if (*s == L'\\') {
      ++backslashes;
      ++s;
      continue;
    }
    if (*s == L'"') {
      current.append(backslashes / 2, L'\\');
      if (backslashes % 2 == 1) {
        current += L'"';  // an escaped quote
      } else {
        ++quotes;
      }
      backslashes = 0;
      ++s;
      // Three quotes in a row make a literal quote; a closing quote that
      // directly follows an opening one ends the quoting.
      while (*s == L'"') {
        if (++quotes == 3) {
          current += L'"';
          quotes = 0;
        }
        ++s;
      }
      if (quotes == 2) quotes = 0;
      continue;
    }
    current.append(backslashes, L'\\');
    backslashes = 0;
    current += *s++;
  }
  current.append(backslashes, L'\\');
  elements.push_back(current);
  return elements;
}

}  // namespace

namespace winsim {

void SetCommandLine(const std::wstring& command_line) { TheWorld().command_line = command_line; }

void SetEnvironment(const std::wstring& name, const std::wstring& value) {
  TheWorld().environment[Fold(name)] = {name, value};
}

void UnsetEnvironment(const std::wstring& name) { TheWorld().environment.erase(Fold(name)); }

void SetModuleFileName(const std::wstring& path) { TheWorld().module_file_name = path; }

void SetSystemDirectory(const std::wstring& path) { TheWorld().system_directory = path; }

}  // namespace winsim

LPWSTR WINAPI GetCommandLineW() {
  const CallStart call = BeginCall("GetCommandLineW", L"");
  LPWSTR command_line = TheWorld().command_line.data();
  EndCall(call.entry, AsNumber(command_line), TheWorld().last_error);
  return command_line;
}

namespace {

// One block, like the shell's: the pointer array, then the strings.
LPWSTR* NewArgumentBlock(const std::vector<std::wstring>& elements) {
  size_t bytes = (elements.size() + 1) * sizeof(LPWSTR);
  for (const std::wstring& e : elements) bytes += (e.size() + 1) * sizeof(wchar_t);
  void* block = std::calloc(1, bytes);
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  TheWorld().local_blocks.insert(block);
  auto** pointers = static_cast<LPWSTR*>(block);
  auto* text = reinterpret_cast<wchar_t*>(pointers + elements.size() + 1);
  for (size_t i = 0; i < elements.size(); ++i) {
    pointers[i] = text;
    std::memcpy(text, elements[i].c_str(), (elements[i].size() + 1) * sizeof(wchar_t));
    text += elements[i].size() + 1;
  }
  return pointers;
}

}  // namespace

LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR command_line, int* count) {
  return CallSettingLastError("CommandLineToArgvW", Quote(command_line), static_cast<LPWSTR*>(nullptr),
                              [&](size_t) -> LPWSTR* {
    if (command_line == nullptr || count == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    // An empty command line names the running program alone.
    const std::vector<std::wstring> elements =
        *command_line == L'\0' ? std::vector<std::wstring>{TheWorld().module_file_name}
                               : Split(command_line);
    LPWSTR* pointers = NewArgumentBlock(elements);
    if (pointers != nullptr) *count = static_cast<int>(elements.size());
    return pointers;
  });
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  return CallSettingLastError("LocalFree", L"", memory, [&](size_t) -> HLOCAL {
    if (memory == nullptr) return nullptr;
    World& w = TheWorld();
    if (w.local_blocks.erase(memory) == 0) {
      Problem("LocalFree of memory that is not a live LocalAlloc block");
      SetLastError(ERROR_INVALID_HANDLE);
      return memory;
    }
    std::free(memory);
    return nullptr;
  });
}

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  const std::wstring detail = Quote(name) + L" size=" + std::to_wstring(size);
  return CallSettingLastError("GetEnvironmentVariableW", detail, DWORD{0}, [&](size_t) -> DWORD {
    const auto& environment = TheWorld().environment;
    auto found = environment.find(Fold(name));
    if (found == environment.end()) {
      SetLastError(ERROR_ENVVAR_NOT_FOUND);
      return 0;
    }
    const std::wstring& value = found->second.second;
    const auto needed = static_cast<DWORD>(value.size() + 1);
    if (buffer == nullptr || size < needed) return needed;
    std::memcpy(buffer, value.c_str(), needed * sizeof(wchar_t));
    return needed - 1;
  });
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
  return CallSettingLastError("GetModuleFileNameW", L"size=" + std::to_wstring(size), DWORD{0},
                              [&](size_t) -> DWORD {
    if (module != nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    const std::wstring& path = TheWorld().module_file_name;
    if (size == 0) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    if (path.size() >= size) {  // truncated and terminated, as Windows does
      std::memcpy(filename, path.c_str(), (size - 1) * sizeof(wchar_t));
      filename[size - 1] = L'\0';
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    std::memcpy(filename, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(path.size());
  });
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  return CallSettingLastError("GetSystemDirectoryW", L"size=" + std::to_wstring(size), UINT{0},
                              [&](size_t) -> UINT {
    const std::wstring& path = TheWorld().system_directory;
    // Too small a buffer gets nothing and learns the size it needs.
    if (buffer == nullptr || size < path.size() + 1) return static_cast<UINT>(path.size() + 1);
    std::memcpy(buffer, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return static_cast<UINT>(path.size());
  });
}
