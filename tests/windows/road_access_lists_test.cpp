// The access lists the road gives the pipe, its folders and the watcher log, and the sample
// service's rules for the folders of its update road, judged on the descriptors Wine builds
// from SDDL strings. Wine 8 reads back a default list for files (SYSTEM and the user), not the
// one set, so the files' own lists cannot be read back; it keeps no access list on disk and
// enforces none, but it builds and reads descriptors as Windows does (docs/wine.md).
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "contract/access_lists.h"
#include "service/folder_rules.h"
#include "service/update_pipe.h"
#include "support/wine_helpers.h"
#include "ui/update_client.h"
#include "win/security_descriptor.h"

namespace {

// `mask` with its generic rights mapped as for files.
ACCESS_MASK MappedForFiles(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

// A trustee of an access list, with the rights it must hold and those it must not.
struct Trustee {
  WELL_KNOWN_SID_TYPE who;
  ACCESS_MASK granted;  // all of these
  ACCESS_MASK denied;   // none of these
};

// What an access list gives: the rights its allow entries grant each of `trustees`, and anyone
// else, mapped as for files; whether it is protected from the lists above; and whether every
// one of its entries reaches the files and folders below.
struct Grants {
  std::vector<ACCESS_MASK> rights;  // by trustee
  ACCESS_MASK others = 0;
  bool is_protected = false;
  bool inherited = true;
};

Grants GrantsOf(const wchar_t* sddl, const std::vector<Trustee>& trustees) {
  const UniqueLocal<void> descriptor = road::DescriptorFromSddl(sddl);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  Grants grants{std::vector<ACCESS_MASK>(trustees.size())};
  if (!descriptor || !::GetSecurityDescriptorControl(descriptor.get(), &control, &revision) ||
      !::GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !dacl) {
    ADD_FAILURE() << "not a descriptor with an access list: " << Narrow(sddl);
    return grants;
  }
  grants.is_protected = (control & SE_DACL_PROTECTED) != 0;
  constexpr BYTE kBelow = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* allowed = nullptr;
    EXPECT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&allowed)));
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << Narrow(sddl);
    grants.inherited = grants.inherited && (allowed->Header.AceFlags & kBelow) == kBelow;
    std::size_t k = 0;
    while (k < trustees.size() && !::IsWellKnownSid(&allowed->SidStart, trustees[k].who)) ++k;
    (k < trustees.size() ? grants.rights[k] : grants.others) |= MappedForFiles(allowed->Mask);
  }
  return grants;
}

// Each list names its trustees, each with the rights it must hold and those it must not; an
// entry for anyone else (everyone, users, the network...) fails.
TEST(RoadAccessLists, EachTrusteeGetsOnlyItsRights) {
  constexpr ACCESS_MASK kChanges = DELETE | WRITE_DAC | WRITE_OWNER;
  const Trustee kSystem{WinLocalSystemSid, FILE_ALL_ACCESS, 0};
  const Trustee kAdmins{WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, 0};
  const std::wstring watcher_log = road::WatcherLogSddl(L"S-1-5-21-1-2-3-1001");
  // clang-format off
  const struct {
    const char* what;
    const wchar_t* sddl;
    std::vector<Trustee> trustees;
  } lists[] = {
      // All that a client asks for: GENERIC_READ | FILE_WRITE_DATA.
      {"pipe", road::kPipeSddl, {kSystem, kAdmins, {WinInteractiveSid,
       FILE_GENERIC_READ | FILE_WRITE_DATA, FILE_CREATE_PIPE_INSTANCE | kChanges}}},
      {"folders", road::kFolderSddl, {kSystem, kAdmins, {WinBuiltinUsersSid,
       FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_DATA | FILE_EXECUTE,
       FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
       kChanges}}},
      {"Incoming, Logs, Quarantine", road::kServiceOnlyFolderSddl, {kSystem, kAdmins}},
      {"service log", road::kServiceLogSddl, {kSystem, kAdmins}},
      // Its owner, and nobody else: owning it gives no right to change its list.
      {"watcher log", watcher_log.c_str(), {kSystem, kAdmins, {WinCreatorOwnerRightsSid,
       FILE_READ_DATA | FILE_APPEND_DATA,
       FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | kChanges}}},
      {"sealed watcher log", road::kSealedWatcherLogSddl, {kSystem, kAdmins,
       {WinCreatorOwnerRightsSid, FILE_READ_DATA, FILE_APPEND_DATA | FILE_WRITE_DATA | kChanges}}},
      {"staged package", road::kStagedPackageSddl, {kSystem, kAdmins}},
  };
  // clang-format on
  for (const auto& list : lists) {
    SCOPED_TRACE(list.what);
    const Grants grants = GrantsOf(list.sddl, list.trustees);
    EXPECT_EQ(grants.others, 0u) << "an entry for another trustee";
    for (std::size_t k = 0; k < list.trustees.size(); ++k) {
      const Trustee& trustee = list.trustees[k];
      SCOPED_TRACE(testing::Message() << "trustee type " << trustee.who);
      EXPECT_EQ(grants.rights[k] & trustee.granted, trustee.granted)
          << std::hex << grants.rights[k];
      EXPECT_EQ(grants.rights[k] & trustee.denied, 0u) << std::hex << grants.rights[k];
    }
    EXPECT_TRUE(grants.is_protected) << "inherits from above";
    // What is made in a folder of the road carries its list; files have lists of their own.
    if (list.sddl == road::kFolderSddl || list.sddl == road::kServiceOnlyFolderSddl) {
      EXPECT_TRUE(grants.inherited);
    }
  }
}

// The UI asks for no more than the pipe grants interactive users, and the service makes the
// first and only instance of its pipe's name.
TEST(RoadAccessLists, TheUiAsksForWhatThePipeGrantsAndNobodyAddsAnInstance) {
  const ACCESS_MASK asked = MappedForFiles(road::kUpdatePipeAccess);
  EXPECT_EQ(asked & FILE_CREATE_PIPE_INSTANCE, 0u) << std::hex << asked;
  const ACCESS_MASK granted = GrantsOf(road::kPipeSddl, {{WinInteractiveSid, 0, 0}}).rights[0];
  EXPECT_EQ(asked & ~granted, 0u) << std::hex << asked << " of " << granted;
  EXPECT_NE(road::kUpdatePipeOpenMode & FILE_FLAG_FIRST_PIPE_INSTANCE, 0u);
  EXPECT_EQ(road::kUpdatePipeInstances, 1u);
}

// What Wine reads back for every folder, whatever it was made with
// (docs/wine.md): the prefix's user owns it.
constexpr wchar_t kWineUser[] = L"S-1-5-21-0-0-0-1000";
constexpr wchar_t kWineReadBack[] =
    L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)";

TEST(RoadFolderRules, OnlyFoldersThatNoUserCanChangeAreTrusted) {
  constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
  // TrustedInstaller, which owns what Windows installs.
  const std::wstring ti = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  constexpr wchar_t kUsersMay[] = L"S-1-5-32-545 may change it";
  constexpr wchar_t kUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  // clang-format off
  const struct {
    const char* what;
    DWORD attributes;
    std::wstring sddl;
    const wchar_t* reason;  // empty: trusted; otherwise the reason, without its details
    decltype(&road::JudgeFolder) judge = road::JudgeFolder;
    const wchar_t* service_account = L"SY";
  } cases[] = {
      {"Corvanta, Updates, Staging as made", kFolder, road::kFolderSddl, L""},
      {"Incoming as made", kFolder, road::kServiceOnlyFolderSddl, L""},
      {"as Wine reads any folder back, service running as that user", kFolder, kWineReadBack, L"",
       road::JudgeFolder, kWineUser},
      {"owned by Administrators, entries inherited from a locked-down parent", kFolder,
       L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;BU)",
       L""},
      {"a deny entry for users", kFolder, std::wstring(road::kFolderSddl) + L"(D;;FA;;;BU)", L""},
      {"owned by a user", kFolder, kWineReadBack, L"owned by S-1-5-21-0-0-0-1000"},
      {"a user may write", kFolder, L"O:SYD:P(A;;FA;;;SY)(A;;FW;;;S-1-5-21-1-2-3-1001)",
       L"S-1-5-21-1-2-3-1001 may change it"},
      {"users may change the access list", kFolder, L"O:SYD:P(A;;FA;;;SY)(A;;WD;;;BU)", kUsersMay},
      {"users may add folders, inherited as under %ProgramData%", kFolder,
       L"O:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;CIID;DCLCRPCR;;;BU)", kUsersMay},
      {"what is made in it is users' to change", kFolder, L"O:SYD:P(A;;FA;;;SY)(A;OICIIO;GA;;;BU)",
       kUsersMay},
      {"everyone may delete", kFolder, L"O:SYD:P(A;;FA;;;SY)(A;;SD;;;WD)",
       L"S-1-1-0 may change it"},
      {"users may delete what is in it", kFolder, L"O:SYD:P(A;;FA;;;SY)(A;;0x00120040;;;BU)",
       kUsersMay},
      {"no access list", kFolder, L"O:SY", L"no access list"},
      {"a junction", kFolder | FILE_ATTRIBUTE_REPARSE_POINT, road::kFolderSddl, L"a reparse point"},
      {"a file", FILE_ATTRIBUTE_NORMAL, road::kFolderSddl, L"not a folder"},
      {"owned by the Users group", kFolder, L"O:BUD:P(A;;FA;;;SY)", L"owned by S-1-5-32-545"},
      {"CREATOR OWNER's entry applies to the folder itself", kFolder,
       L"O:SYD:P(A;;FA;;;SY)(A;OICI;GA;;;CO)", L"S-1-3-0 may change it"},
      {"an entry of a type the check does not read", kFolder, L"O:SYD:P(A;;FA;;;SY)(AU;SA;FA;;;BU)",
       L"an access entry of type 2"},
      // The service's own folder and the updater it stages from there.
      {"%ProgramFiles%\\Corvanta Remote as Windows makes it", kFolder,
       L"O:SYD:AI(A;ID;FA;;;" + ti + L")(A;CIIOID;GA;;;" + ti + L")(A;ID;FA;;;SY)"
       L"(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)"
       L"(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)", L"", road::JudgeFile},
      {"C:\\Corvanta, inheriting Authenticated Users' modify right from C:\\", kFolder,
       L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
       L"(A;OICIIOID;SDGXGWGR;;;AU)", L"S-1-5-11 may change it", road::JudgeFile},
      {"the updater as installed", FILE_ATTRIBUTE_ARCHIVE,
       L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)", L"", road::JudgeFile},
      {"the updater, users may write it", FILE_ATTRIBUTE_ARCHIVE,
       L"O:BAD:(A;;FA;;;SY)(A;;0x1201bf;;;BU)", kUsersMay, road::JudgeFile},
      {"the updater is a link", FILE_ATTRIBUTE_REPARSE_POINT, road::kFolderSddl, L"a reparse point",
       road::JudgeFile},
      // The watcher log belongs to the user who asked for the update: that user's quota pays for
      // what the watcher, or the user, writes to it.
      {"the watcher log", FILE_ATTRIBUTE_ARCHIVE, road::WatcherLogSddl(kUser),
       L"owned by S-1-5-21-1004336348-1177238915-682003330-1001", road::JudgeFile},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const UniqueLocal<void> descriptor = road::DescriptorFromSddl(c.sddl.c_str());
    ASSERT_TRUE(descriptor);
    PSID sid = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(c.service_account, &sid));
    const UniqueLocal<void> account(sid);
    const road::FolderVerdict verdict = c.judge(c.attributes, descriptor.get(), account.get());
    EXPECT_EQ(verdict.trusted, c.reason[0] == L'\0');
    // The details follow a parenthesis, a colon or a comma.
    std::wstring stated = verdict.reason.substr(0, verdict.reason.find_first_of(L"(:,"));
    while (!stated.empty() && stated.back() == L' ') stated.pop_back();
    EXPECT_EQ(stated, c.reason);
  }
}

TEST(RoadFolderRules, CleanupRemovesLinksWithoutFollowingThem) {
  const struct {
    DWORD attributes;
    road::Removal removal;
  } cases[] = {
      {FILE_ATTRIBUTE_ARCHIVE, road::Removal::kDeleteFile},
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, road::Removal::kDeleteFile},
      {FILE_ATTRIBUTE_DIRECTORY, road::Removal::kEmptyAndRemove},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, road::Removal::kRemoveLink},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(road::HowToRemove(c.attributes), c.removal) << std::hex << c.attributes;
  }
}

}  // namespace
