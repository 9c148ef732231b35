#include "service/folder_rules.h"

#include <sddl.h>

#include <cwchar>

#include "shared/unique_handles.h"

namespace road {

namespace {

// The rights that change a folder or what is in it: write, add files or folders, delete,
// change the owner or the access list (and attributes or extended attributes).
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER;

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return IsWellKnownSid(sid, type) != FALSE;
}

// SYSTEM, Administrators and the service's own account may change the road.
bool IsTrustedAccount(PSID sid, PSID service_account) {
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
           (service_account != nullptr && EqualSid(sid, service_account));
}

std::wstring SidText(PSID sid) {
    wchar_t* raw = nullptr;
    const BOOL converted = ConvertSidToStringSidW(sid, &raw);
    const UniqueLocal<wchar_t> text(raw);
    return converted ? std::wstring(text.get()) : L"an unreadable account";
}

std::wstring Hex(ACCESS_MASK mask) {
    wchar_t text[16] = {};
    swprintf(text, 16, L"0x%lx", static_cast<unsigned long>(mask));
    return text;
}

FolderVerdict Untrusted(std::wstring reason) { return {false, std::move(reason)}; }

}  // namespace

FolderVerdict JudgeFolder(DWORD attributes, PSECURITY_DESCRIPTOR descriptor,
                          PSID service_account) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Untrusted(L"not a folder");
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Untrusted(L"a reparse point (junction or link)");
    }
    PSID owner = nullptr;
    BOOL owner_defaulted = FALSE;
    if (descriptor == nullptr || !GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
        owner == nullptr) {
        return Untrusted(L"no owner");
    }
    if (!IsTrustedAccount(owner, service_account)) {
        return Untrusted(L"owned by " + SidText(owner));
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
        dacl == nullptr) {
        return Untrusted(L"no access list: everyone may change it");
    }
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) return Untrusted(L"an unreadable access list");
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;  // takes rights away only
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            return Untrusted(L"an access entry of type " + std::to_wstring(header->AceType) +
                             L", which this check does not read");
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID trustee = const_cast<DWORD*>(&allowed->SidStart);
        ACCESS_MASK rights = allowed->Mask;
        MapGenericMask(&rights, &mapping);
        if ((rights & kChangingRights) == 0 || IsTrustedAccount(trustee, service_account)) {
            continue;
        }
        // Only the trusted accounts can make anything in the folder, so what the entry gives
        // the maker of each new file or folder goes to one of them.
        if (IsWellKnown(trustee, WinCreatorOwnerSid) && (header->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        return Untrusted(SidText(trustee) + L" may change it (rights " + Hex(rights) + L")");
    }
    return {true, L""};
}

Removal HowToRemove(DWORD attributes) {
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!folder) return Removal::kDeleteFile;
    return link ? Removal::kRemoveLink : Removal::kEmptyAndRemove;
}

}  // namespace road
