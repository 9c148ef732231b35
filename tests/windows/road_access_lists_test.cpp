// The access lists the road gives the pipe, its folders and the watcher log, judged on the
// descriptors Wine builds from the road's SDDL strings. Wine 8 reads back a default list for
// files (SYSTEM and the user), not the one set, so the files' own lists cannot be read back
// (docs/wine.md).
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <string>

#include "contract/access_lists.h"
#include "contract/road_contract.h"
#include "service/update_pipe.h"
#include "support/wine_helpers.h"
#include "ui/update_client.h"
#include "win/security_descriptor.h"

namespace {

// What an access list gives `who`: the rights its allow entries grant, with generic rights
// mapped as for files, whether it is protected from the lists above, and whether every one of
// its entries reaches the files and folders below.
struct Grant {
  ACCESS_MASK rights = 0;
  bool is_protected = false;
  bool inherited = true;
};

Grant GrantedTo(const wchar_t* sddl, WELL_KNOWN_SID_TYPE who) {
  const UniqueLocal<void> descriptor = road::DescriptorFromSddl(sddl);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  Grant grant;
  if (!descriptor || !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
      !::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !dacl) {
    ADD_FAILURE() << "not a descriptor with an access list: " << Narrow(sddl);
    return grant;
  }
  grant.is_protected = (control & SE_DACL_PROTECTED) != 0;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* allowed = nullptr;
    EXPECT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&allowed)));
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << Narrow(sddl);
    grant.inherited = grant.inherited && (allowed->Header.AceFlags & kBelow) == kBelow;
    if (!::IsWellKnownSid(&allowed->SidStart, who)) continue;
    ACCESS_MASK mask = allowed->Mask;
    ::MapGenericMask(&mask, &mapping);
    grant.rights |= mask;
  }
  return grant;
}

TEST(RoadAccessLists, EachTrusteeGetsOnlyItsRights) {
  const std::wstring watcher_log = road::WatcherLogSddl(L"S-1-5-21-1-2-3-1001");
  constexpr ACCESS_MASK kNone = 0, kAll = FILE_ALL_ACCESS;
  constexpr ACCESS_MASK kChanges = DELETE | WRITE_DAC | WRITE_OWNER;
  const wchar_t* const kServiceOnly = road::kServiceOnlyFolderSddl;
  // clang-format off
  const struct {
    const char* what;
    const wchar_t* sddl;
    WELL_KNOWN_SID_TYPE who;
    ACCESS_MASK granted;  // all of these
    ACCESS_MASK denied;   // none of these
  } cases[] = {
      {"pipe", road::kPipeSddl, WinLocalSystemSid, kAll, kNone},
      {"pipe", road::kPipeSddl, WinBuiltinAdministratorsSid, kAll, kNone},
      // All that a client asks for: GENERIC_READ | FILE_WRITE_DATA.
      {"pipe", road::kPipeSddl, WinInteractiveSid, FILE_GENERIC_READ | FILE_WRITE_DATA,
       FILE_CREATE_PIPE_INSTANCE | kChanges},
      {"pipe", road::kPipeSddl, WinWorldSid, kNone, kAll},
      {"pipe", road::kPipeSddl, WinNetworkSid, kNone, kAll},
      {"folders", road::kFolderSddl, WinLocalSystemSid, kAll, kNone},
      {"folders", road::kFolderSddl, WinBuiltinAdministratorsSid, kAll, kNone},
      {"folders", road::kFolderSddl, WinBuiltinUsersSid,
       FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_DATA | FILE_EXECUTE,
       FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
           kChanges},
      {"folders", road::kFolderSddl, WinWorldSid, kNone, kAll},
      {"Incoming, Logs, Quarantine", kServiceOnly, WinLocalSystemSid, kAll, kNone},
      {"Incoming, Logs, Quarantine", kServiceOnly, WinBuiltinUsersSid, kNone, kAll},
      {"service log", road::kServiceLogSddl, WinBuiltinAdministratorsSid, kAll, kNone},
      {"service log", road::kServiceLogSddl, WinBuiltinUsersSid, kNone, kAll},
      {"service log", road::kServiceLogSddl, WinAuthenticatedUserSid, kNone, kAll},
      {"watcher log", watcher_log.c_str(), WinLocalSystemSid, kAll, kNone},
      // Its owner, and nobody else: owning it gives no right to change its list.
      {"watcher log", watcher_log.c_str(), WinCreatorOwnerRightsSid,
       FILE_READ_DATA | FILE_APPEND_DATA,
       FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | kChanges},
      {"watcher log", watcher_log.c_str(), WinBuiltinUsersSid, kNone, kAll},
      {"watcher log", watcher_log.c_str(), WinWorldSid, kNone, kAll},
      {"sealed watcher log", road::kSealedWatcherLogSddl, WinCreatorOwnerRightsSid, FILE_READ_DATA,
       FILE_APPEND_DATA | FILE_WRITE_DATA | kChanges},
      {"sealed watcher log", road::kSealedWatcherLogSddl, WinBuiltinUsersSid, kNone, kAll},
      {"staged package", road::kStagedPackageSddl, WinLocalSystemSid, kAll, kNone},
      {"staged package", road::kStagedPackageSddl, WinBuiltinUsersSid, kNone, kAll},
      {"staged package", road::kStagedPackageSddl, WinInteractiveSid, kNone, kAll},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ", trustee type " + std::to_string(c.who));
    const Grant grant = GrantedTo(c.sddl, c.who);
    EXPECT_EQ(grant.rights & c.granted, c.granted) << std::hex << grant.rights;
    EXPECT_EQ(grant.rights & c.denied, 0u) << std::hex << grant.rights;
    EXPECT_TRUE(grant.is_protected) << "inherits from above";
    // What is made in a folder of the road carries its list; files have lists of their own.
    if (c.sddl == road::kFolderSddl || c.sddl == kServiceOnly) EXPECT_TRUE(grant.inherited);
  }
}

// The UI asks for no more than the pipe grants interactive users, and the service makes the
// first and only instance of its pipe's name.
TEST(RoadAccessLists, TheUiAsksForWhatThePipeGrantsAndNobodyAddsAnInstance) {
  ACCESS_MASK asked = road::kUpdatePipeAccess;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  ::MapGenericMask(&asked, &mapping);
  EXPECT_EQ(asked & FILE_CREATE_PIPE_INSTANCE, 0u) << std::hex << asked;
  const ACCESS_MASK granted = GrantedTo(road::kPipeSddl, WinInteractiveSid).rights;
  EXPECT_EQ(asked & ~granted, 0u) << std::hex << asked << " of " << granted;
  EXPECT_NE(road::kUpdatePipeOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE, 0u);
  EXPECT_EQ(road::kUpdatePipeInstances, 1u);
}

// The watcher log belongs to the user who asked for the update: that user's quota pays for
// what the watcher, or the user, writes to it.
TEST(RoadAccessLists, TheWatcherLogIsOwnedByTheUserWhoAsked) {
  const wchar_t user[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  const UniqueLocal<void> descriptor = road::DescriptorFromSddl(road::WatcherLogSddl(user).c_str());
  ASSERT_TRUE(descriptor);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted));
  wchar_t* text = nullptr;
  ASSERT_TRUE(owner && ::ConvertSidToStringSidW(owner, &text));
  const UniqueLocal<wchar_t> owner_text(text);
  EXPECT_EQ(std::wstring(owner_text.get()), user);
}

}  // namespace
