// The sample service's rules for the folders of its update road, judged on
// descriptors built from SDDL strings: Wine keeps no access list on disk and
// enforces none, but it builds and reads descriptors as Windows does.
#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <string>

#include "contract/access_lists.h"
#include "contract/road_contract.h"
#include "service/folder_rules.h"
#include "win/security_descriptor.h"

namespace {

// What Wine reads back for every folder, whatever it was made with
// (docs/wine.md): the prefix's user owns it.
constexpr wchar_t kWineUser[] = L"S-1-5-21-0-0-0-1000";
constexpr wchar_t kWineReadBack[] =
    L"O:S-1-5-21-0-0-0-1000D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-0-0-0-1000)";

constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

UniqueLocal<void> Sid(const wchar_t* text) {
  PSID sid = nullptr;
  EXPECT_TRUE(::ConvertStringSidToSidW(text, &sid)) << text;
  return UniqueLocal<void>(sid);
}

TEST(RoadFolderRules, OnlyFoldersThatNoUserCanChangeAreTrusted) {
  constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
  const std::wstring ti = kTrustedInstaller;
  constexpr wchar_t kUsersMay[] = L"S-1-5-32-545 may change it";
  // clang-format off
  const struct {
    const char* what;
    DWORD attributes;
    std::wstring sddl;
    const wchar_t* reason;  // empty: trusted; otherwise the start of the reason
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
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const UniqueLocal<void> descriptor = road::DescriptorFromSddl(c.sddl.c_str());
    ASSERT_TRUE(descriptor);
    const UniqueLocal<void> account = Sid(c.service_account);
    const road::FolderVerdict verdict = c.judge(c.attributes, descriptor.get(), account.get());
    EXPECT_EQ(verdict.trusted, c.reason[0] == L'\0');
    EXPECT_EQ(verdict.reason.substr(0, wcslen(c.reason)), c.reason);
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
