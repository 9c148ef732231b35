#include "service/folder_rules.h"

#include <sddl.h>

#include <cwchar>
#include <utility>

#include "shared/unique_handles.h"

namespace road {

namespace {

// The rights that change a folder or what is in it: write, add files or folders, delete,
// change the owner or the access list (and attributes or extended attributes).
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER;

[[nodiscard]] bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) noexcept {
  return ::IsWellKnownSid(sid, type) != FALSE;
}

// The Windows Modules Installer's service account, NT SERVICE\TrustedInstaller, which owns the
// system's files and holds full control of %ProgramFiles% and of the folders made in it.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring SidText(PSID sid) {
  wchar_t* raw = nullptr;
  const BOOL converted = ::ConvertSidToStringSidW(sid, &raw);
  const UniqueLocal<wchar_t> text(raw);
  return converted ? std::wstring(text.get()) : L"an unreadable account";
}

// SYSTEM, Administrators, TrustedInstaller and the service's own account may change the road:
// each of them can replace the service itself.
[[nodiscard]] bool IsTrustedAccount(PSID sid, PSID service_account) {
  return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
         (service_account != nullptr && ::EqualSid(sid, service_account)) ||
         SidText(sid) == kTrustedInstallerSid;
}

std::wstring Hex(ACCESS_MASK mask) {
  wchar_t text[16] = {};
  (void)std::swprintf(text, 16, L"0x%lx", static_cast<unsigned long>(mask));
  return text;
}

FolderVerdict Untrusted(std::wstring reason) { return {false, std::move(reason)}; }

// Why the owner of `descriptor` may not own a level of the road; empty when it may.
std::wstring OwnerFault(PSECURITY_DESCRIPTOR descriptor, PSID service_account) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (descriptor == nullptr || !::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      owner == nullptr) {
    return L"no owner";
  }
  return IsTrustedAccount(owner, service_account) ? L"" : L"owned by " + SidText(owner);
}

// Why the access entry `ace` lets someone untrusted change the folder; empty when it does not.
std::wstring EntryFault(const void* ace, PSID service_account) {
  const auto* header = static_cast<const ACE_HEADER*>(ace);
  if (header->AceType == ACCESS_DENIED_ACE_TYPE) return L"";  // takes rights away only
  if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
    return L"an access entry of type " + std::to_wstring(header->AceType) +
           L", which this check does not read";
  }
  const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
  // The trustee's SID begins at SidStart; the API takes it as a non-const PSID.
  PSID trustee = const_cast<DWORD*>(&allowed->SidStart);
  ACCESS_MASK rights = allowed->Mask;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  ::MapGenericMask(&rights, &mapping);
  if ((rights & kChangingRights) == 0 || IsTrustedAccount(trustee, service_account)) return L"";
  // Only the trusted accounts can make anything in the folder, so what the entry gives the
  // maker of each new file or folder goes to one of them.
  if (IsWellKnown(trustee, WinCreatorOwnerSid) && (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
    return L"";
  }
  return SidText(trustee) + L" may change it (rights " + Hex(rights) + L")";
}

// Why the access list of `descriptor` lets someone untrusted change the folder; empty when
// none of its entries does.
std::wstring AccessListFault(PSECURITY_DESCRIPTOR descriptor, PSID service_account) {
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
      dacl == nullptr) {
    return L"no access list: everyone may change it";
  }
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) return L"an unreadable access list";
    std::wstring fault = EntryFault(ace, service_account);
    if (!fault.empty()) return fault;
  }
  return L"";
}

}  // namespace

FolderVerdict JudgeFolder(DWORD attributes, PSECURITY_DESCRIPTOR descriptor, PSID service_account) {
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Untrusted(L"not a folder");
  }
  return JudgeFile(attributes, descriptor, service_account);
}

FolderVerdict JudgeFile(DWORD attributes, PSECURITY_DESCRIPTOR descriptor, PSID service_account) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return Untrusted(L"not there");
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Untrusted(L"a reparse point (junction or link)");
  }
  std::wstring fault = OwnerFault(descriptor, service_account);
  if (fault.empty()) fault = AccessListFault(descriptor, service_account);
  return fault.empty() ? FolderVerdict{true, L""} : Untrusted(std::move(fault));
}

Removal HowToRemove(DWORD attributes) noexcept {
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!folder) return Removal::kDeleteFile;
  return link ? Removal::kRemoveLink : Removal::kEmptyAndRemove;
}

}  // namespace road
