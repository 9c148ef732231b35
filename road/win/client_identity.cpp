#include "win/client_identity.h"

#include <sddl.h>

#include <vector>

#include "win/road_handles.h"
#include "win/security_descriptor.h"

namespace road {

namespace {

// The SID string of the user of `token`; empty when it cannot be read.
[[nodiscard]] std::wstring UserSidOf(HANDLE token) {
  std::vector<BYTE> sid = TokenUserSid(token);
  wchar_t* text = nullptr;
  if (sid.empty() || !::ConvertSidToStringSidW(sid.data(), &text)) return L"";
  const UniqueLocal<wchar_t> owned(text);
  return owned.get();
}

// Enables the restore privilege on this thread's own token, which the caller has made with
// ImpersonateSelf.
[[nodiscard]] bool EnableRestorePrivilegeOnThread() {
  HANDLE raw = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                         /*open_as_self=*/TRUE, &raw)) {
    return false;
  }
  const UniqueHandle token(raw);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  return ::LookupPrivilegeValueW(/*system=*/nullptr, SE_RESTORE_NAME,
                                 &privileges.Privileges[0].Luid) &&
         ::AdjustTokenPrivileges(token.get(), /*disable_all=*/FALSE, &privileges,
                                 sizeof(privileges), /*previous=*/nullptr, /*size=*/nullptr) &&
         ::GetLastError() == ERROR_SUCCESS;
}

}  // namespace

std::vector<BYTE> TokenUserSid(HANDLE token) {
  std::vector<BYTE> user(sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE);
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                             &size)) {
    return {};
  }
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

std::wstring PipeClientSid(HANDLE pipe) {
  if (!::ImpersonateNamedPipeClient(pipe)) return L"";
  HANDLE raw = nullptr;
  const bool opened = ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY,
                                        /*open_as_self=*/TRUE, &raw) != FALSE;
  // Back to the service's own account before anything else runs on this thread.
  if (!::RevertToSelf()) ::ExitProcess(ERROR_CANNOT_IMPERSONATE);
  const UniqueHandle token(opened ? raw : nullptr);
  return token ? UserSidOf(token.get()) : std::wstring();
}

UniqueHandle CreateFileForOwner(const std::wstring& path, const std::wstring& sddl) {
  const UniqueLocal<void> descriptor = DescriptorFromSddl(sddl.c_str());
  if (!descriptor || !::ImpersonateSelf(SecurityImpersonation)) return nullptr;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.get(),
                                    /*bInheritHandle=*/FALSE};
  UniqueHandle file;
  if (EnableRestorePrivilegeOnThread()) {
    file = OwnHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, /*share=*/0, &attributes,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, /*template_file=*/nullptr));
  }
  const DWORD error = ::GetLastError();
  if (!::RevertToSelf()) ::ExitProcess(ERROR_CANNOT_IMPERSONATE);
  ::SetLastError(error);
  return file;
}

}  // namespace road
