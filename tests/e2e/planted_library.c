/* A library planted beside RemoteUpdater.exe under the name of a system
 * library. Whichever process loads it, it leaves a mark beside itself: an
 * empty file named after it with ".loaded" appended. It then lets the load
 * go on, so a load shows as the mark, not as a failure to start. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t mark[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameW(instance, mark, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(mark, L".loaded");
  HANDLE file =
      CreateFileW(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
