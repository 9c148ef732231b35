#include "service/safe_removal.h"

#include "contract/road_paths.h"
#include "service/folder_rules.h"
#include "win/road_handles.h"

namespace road {

namespace {

// Removes every entry of the plain folder `path`, each as what it is.
void EmptyFolder(const std::wstring& path) {
  WIN32_FIND_DATAW data = {};
  const UniqueFind find = FindFirst(path + L"\\*", data);
  for (bool more = find != nullptr; more; more = ::FindNextFileW(find.get(), &data) != FALSE) {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") (void)RemoveEntry(PathIn(path, name), data.dwFileAttributes);
  }
}

}  // namespace

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  switch (HowToRemove(attributes)) {
    case Removal::kDeleteFile:
      return ::DeleteFileW(path.c_str()) != FALSE;
    case Removal::kRemoveLink:
      return ::RemoveDirectoryW(path.c_str()) != FALSE;
    case Removal::kEmptyAndRemove:
      break;
  }
  // The search is closed before the folder is removed.
  EmptyFolder(path);
  return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

}  // namespace road
