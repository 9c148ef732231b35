// Which packages the service installs: the trust decision and the version order judged on
// data, then the readers on real files under Wine (the sample's version 2 package, unsigned and
// signed at build time by the build folder's test publishers, and one installed package).
// Wine does not check revocation and passes a changed MSI (docs/wine.md): those rules show in
// the data rows only.
#include <gtest/gtest.h>
#include <msiquery.h>
#include <wincrypt.h>
#include <windows.h>

#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "package/installed_version.h"
#include "package/package_properties.h"
#include "package/product_version.h"
#include "package/publisher_pins.h"
#include "package/signature.h"
#include "package/trust_decision.h"
#include "service/package_check.h"
#include "support/windows_cases.h"

namespace {

TEST(RoadPackageTrust, VersionsReadAsTheWindowsInstallerReadsThem) {
  const struct {
    const wchar_t* text;
    const char* read_as;
  } cases[] = {
      {L"2.0.0", "2.0.0"},
      {L"2", "2.0.0"},
      {L"2.1", "2.1.0"},
      {L"1.2.3.4", "1.2.3"},
      {L"255.255.65535", "255.255.65535"},
      {L"007.01.0", "7.1.0"},
  };
  for (const auto& c : cases) {
    const std::optional<road::ProductVersion> version = road::ParseProductVersion(c.text);
    EXPECT_EQ(version ? road::VersionText(*version) : "(none)", c.read_as) << Narrow(c.text);
  }
  for (const wchar_t* text :
       {L"256.0.0", L"1.256.0", L"1.0.65536", L"1.0.0.65536", L"1.2.3.4.5", L"", L"1..2", L"1.2.",
        L".1", L" 1.2", L"+1.2", L"2.0.0-beta", L"99999999999.0.0"}) {
    EXPECT_FALSE(road::ParseProductVersion(text).has_value()) << Narrow(text);
  }
}

// Two pinned publishers, as across a key rollover, and a release place left empty.
constexpr wchar_t kPinned[] = L"73AE22D78D89F8AB8369A0CC6E3D9402A7BDAB42";
constexpr wchar_t kIncoming[] = L"A92D025073C096BF3B71B99446FD7D66BC88A4DA";
constexpr wchar_t kPinnedLower[] = L"73ae22d78d89f8ab8369a0cc6e3d9402a7bdab42";
// The product's UpgradeCode as wixl writes it into the package, and another product's.
constexpr wchar_t kOurs[] = L"{77a23d80-ed3f-4739-86ae-f6c16c6e4ac1}";
constexpr wchar_t kForeign[] = L"{0B0D6A52-4C55-4F4E-9A51-8F2F0D3E6C21}";

// A package's facts: those of a good package of the product, signed by the pinned publisher
// and not installed yet, but for the fields a row names.
struct TrustRow {
  const char* what;
  const char* reason = "";  // empty: accepted
  LONG verdict = 0;
  DWORD chain = 0;
  const wchar_t* signer = kPinned;
  const wchar_t* upgrade_code = kOurs;
  const wchar_t* version = L"2.0.0";
  std::optional<std::wstring> installed;  // nothing: not installed
  bool warned = false;
  bool revocation_required = false;  // the policy's RequireRevocationCheck
};

TEST(RoadPackageTrust, EachRuleRefusesAlone) {
  const road::ProductPins pins{{kPinned, kIncoming, L""}, road::kProductUpgradeCode};
  constexpr char kNoTrustedRoot[] = "package signature does not chain to a trusted root";
  constexpr char kNotOurPublisher[] = "package is not signed by the product's publisher";
  constexpr char kRevocationRequired[] =
      "the package's certificate revocation status could not be checked, and the policy requires "
      "it";
  constexpr DWORD kUntrustedRoot = CERT_TRUST_IS_UNTRUSTED_ROOT;
  // clang-format off
  const TrustRow cases[] = {
      {"good, not installed"},
      {"the incoming key, newer than installed", "", 0, 0, kIncoming, road::kProductUpgradeCode,
       L"2.0.1", L"2.0.0"},
      {"thumbprint in lower case", "", 0, 0, kPinnedLower, kOurs, L"2.0.0", L"1.0.0"},
      {"offline: revocation not known", "", CERT_E_REVOCATION_FAILURE, kOffline, kPinned, kOurs,
       L"2.0.0", L"1.0.0", true},
      {"offline, where the policy requires the check", kRevocationRequired,
       CERT_E_REVOCATION_FAILURE, kOffline, kPinned, kOurs, L"2.0.0", L"1.0.0", false, true},
      {"unknown in the chain alone, where the policy requires the check", kRevocationRequired, 0,
       CERT_TRUST_REVOCATION_STATUS_UNKNOWN, kPinned, kOurs, L"2.0.0", L"1.0.0", false, true},
      {"offline and another publisher, where the policy requires the check", kRevocationRequired,
       CERT_E_REVOCATION_FAILURE, kOffline, kStrangerThumbprint, kOurs, L"2.0.0", L"1.0.0", false,
       true},
      {"checked, where the policy requires the check", "", 0, 0, kPinned, kOurs, L"2.0.0",
       L"1.0.0", false, true},
      {"revoked, where the policy requires the check", "package signer's certificate is revoked",
       CERT_E_REVOKED, CERT_TRUST_IS_REVOKED, kPinned, kOurs, L"2.0.0", L"1.0.0", false, true},
      {"unsigned", "package is not signed", TRUST_E_NOSIGNATURE, 0, L""},
      {"changed after signing", "package was changed after it was signed", TRUST_E_BAD_DIGEST},
      {"revoked", "package signer's certificate is revoked", CERT_E_REVOKED, CERT_TRUST_IS_REVOKED},
      {"untrusted root, which Wine's WinVerifyTrust passes", kNoTrustedRoot, 0, kUntrustedRoot},
      {"untrusted root, as Windows reports it", kNoTrustedRoot, CERT_E_UNTRUSTEDROOT,
       kUntrustedRoot},
      {"offline under an untrusted root", kNoTrustedRoot, CERT_E_REVOCATION_FAILURE,
       kOffline | kUntrustedRoot},
      {"offline with a bad chain signature", "package signature is not valid (error 0x800B010E)",
       CERT_E_REVOCATION_FAILURE, kOffline | CERT_TRUST_IS_NOT_SIGNATURE_VALID},
      {"expired, without a time stamp", "package signature is not valid (error 0x800B0101)",
       CERT_E_EXPIRED, CERT_TRUST_IS_NOT_TIME_VALID},
      {"a chain fault WinVerifyTrust passed",
       "package signer's certificate chain is not valid (status 0x00000008)", 0,
       CERT_TRUST_IS_NOT_SIGNATURE_VALID},
      {"another publisher", kNotOurPublisher, 0, 0, kStrangerThumbprint},
      {"no signer, against an empty pin place", kNotOurPublisher, 0, 0, L""},
      {"another product", "package is not of this product", 0, 0, kPinned, kForeign},
      {"the installed version", "package version 2.0.0 is not newer than installed 2.0.0", 0, 0,
       kPinned, kOurs, L"2.0.0", L"2.0.0"},
      {"an older version", "package version 1.0.0 is not newer than installed 2.0.0", 0, 0,
       kPinned, kOurs, L"1.0.0", L"2.0.0"},
      {"newer in the fourth field only", "package version 2.0.0 is not newer than installed 2.0.0",
       0, 0, kPinned, kOurs, L"2.0.0.7", L"2.0.0"},
      {"no version, not installed", "package version is unreadable", 0, 0, kPinned, kOurs,
       L"2.0.0-beta"},
      {"installed version not known", "installed version is unreadable", 0, 0, kPinned, kOurs,
       L"2.0.0", L""},
      // Later by the first three fields as numbers, not as text.
      {"1.10.0 over 1.9.0", "", 0, 0, kPinned, kOurs, L"1.10.0", L"1.9.0"},
      {"1.0.10 over 1.0.9", "", 0, 0, kPinned, kOurs, L"1.0.10", L"1.0.9"},
      {"2.1 over 2.0.9", "", 0, 0, kPinned, kOurs, L"2.1", L"2.0.9"},
      {"3.0.0 over 2.255.65535", "", 0, 0, kPinned, kOurs, L"3.0.0", L"2.255.65535"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const road::SignatureFacts signature{c.verdict, c.chain, c.signer, L"Corvanta"};
    const road::PackageTrustFacts found{signature, c.upgrade_code, c.version, c.installed,
                                        c.revocation_required};
    const road::TrustDecision decision = road::DecidePackageTrust(found, pins);
    EXPECT_EQ(decision.accepted, c.reason[0] == '\0');
    EXPECT_EQ(decision.reason, c.reason);
    EXPECT_EQ(!decision.warning.empty(), c.warned) << decision.warning;
  }
}

// The Windows Installer's answers for one row: its related products, each a status and a
// version (nullptr: the version cannot be read), then ERROR_NO_MORE_ITEMS.
using Answers = std::vector<std::pair<UINT, const wchar_t*>>;
const Answers* g_answers = nullptr;

UINT FakeEnumerate(const wchar_t* /*upgrade_code*/, DWORD index, wchar_t* product_code) {
  if (index >= g_answers->size()) return ERROR_NO_MORE_ITEMS;
  (void)wcscpy(product_code, std::to_wstring(index).c_str());
  return (*g_answers)[index].first;
}

bool FakeReadVersion(const wchar_t* product_code, std::wstring* version) {
  const wchar_t* text = (*g_answers)[std::stoul(product_code)].second;
  if (text != nullptr) *version = text;
  return text != nullptr;
}

// A query that fails never reads as "not installed", which would let an older package in.
TEST(RoadPackageTrust, InstalledVersionQueryErrorsAreNeverNotInstalled) {
  // clang-format off
  const struct {
    const char* what;
    Answers answers;
    bool read;
    std::optional<std::wstring> installed;
  } cases[] = {
      {"nothing installed", {}, true, std::nullopt},
      {"one product", {{ERROR_SUCCESS, L"1.0.0"}}, true, L"1.0.0"},
      {"two, during an upgrade: the higher", {{ERROR_SUCCESS, L"1.0.0"}, {ERROR_SUCCESS, L"2.0.0"}},
       true, L"2.0.0"},
      {"the enumeration fails", {{ERROR_BAD_CONFIGURATION, L"1.0.0"}}, false, std::nullopt},
      {"it fails after a product",
       {{ERROR_SUCCESS, L"2.0.0"}, {ERROR_INSTALL_SERVICE_FAILURE, L""}}, false, std::nullopt},
      {"a version cannot be read", {{ERROR_SUCCESS, nullptr}}, false, std::nullopt},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g_answers = &c.answers;
    std::optional<std::wstring> installed = L"unread";
    EXPECT_EQ(road::ReadInstalledVersionWith(FakeEnumerate, FakeReadVersion, kOurs, &installed),
              c.read);
    if (c.read) EXPECT_EQ(installed, c.installed);
  }
  g_answers = nullptr;
}

// Revocation is asked for over the whole chain, the root aside, and no window is ever shown.
TEST(RoadPackageTrust, SignatureCheckAsksForRevocationWithoutAWindow) {
  WINTRUST_FILE_INFO file{};
  const WINTRUST_DATA request = road::SignatureCheckRequest(&file);
  EXPECT_EQ(request.fdwRevocationChecks, static_cast<DWORD>(WTD_REVOKE_WHOLECHAIN));
  EXPECT_EQ(request.dwProvFlags, static_cast<DWORD>(WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT));
  EXPECT_EQ(request.dwUIChoice, static_cast<DWORD>(WTD_UI_NONE));
  EXPECT_EQ(request.pFile, &file);
}

TEST(RoadPackageFiles, PropertiesOfTheSamplePackage) {
  road::PackageProperties found;
  ASSERT_TRUE(road::ReadPackageProperties(SamplePackage(L"CorvantaRemote-2.0.0.msi"), &found))
      << "the sample's packages are missing; CORVANTA_SAMPLE_DIR must name the sample build";
  EXPECT_EQ(found.product_version, L"2.0.0");
  EXPECT_EQ(found.product_code, L"{E84CF117-BD5D-4B54-9ADC-112B71764DE2}");
  EXPECT_EQ(Upper(found.upgrade_code), Upper(road::kProductUpgradeCode));
  EXPECT_FALSE(road::ReadPackageProperties(SamplePackage(L"corrupt.msi"), &found));
  // Nothing of either package is left open.
  EXPECT_EQ(::MsiCloseAllHandles(), 0u);
}

// Wine's chain engine reads the Root store once in a process, at its first check: a root
// added later counts only in processes started afterwards. The root is therefore trusted
// first, and the untrusted chain is one under a root of its own.
TEST(RoadPackageFiles, SignaturesCountOnlyFromThePinnedPublisherUnderATrustedRoot) {
  ASSERT_TRUE(TrustTestRoot()) << "the build makes " << Narrow(TestPublisherFile(L""));
  // The sample's build signs its packages as the pinned publisher and keeps them unsigned too.
  const struct {
    const char* signer;  // the test publisher that signed the package
    std::wstring package;
    const char* reason;  // empty: accepted
  } cases[] = {
      {"none", SamplePackage(L"unsigned\\CorvantaRemote-2.0.0.msi"), "package is not signed"},
      {"publisher", SamplePackage(L"CorvantaRemote-2.0.0.msi"), ""},
      {"other-publisher", TestPublisherFile(L"signed\\CorvantaRemote-2.0.0-other-publisher.msi"),
       "package is not signed by the product's publisher"},
      {"stranger", TestPublisherFile(L"signed\\CorvantaRemote-2.0.0-stranger.msi"),
       "package signature does not chain to a trusted root"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signer);
    const road::PackageCheck check = road::CheckPackage(c.package);
    EXPECT_EQ(check.found.product_version, L"2.0.0");
    EXPECT_EQ(check.decision.reason, c.reason);
    EXPECT_EQ(check.decision.accepted, c.reason[0] == '\0');
  }
}

// Wine finds a changed executable, though not a changed package (which Windows refuses too):
// the updater, signed by the pinned publisher, passes the signature and the pin and is refused
// as no package of the product; with one byte of its code changed, by its signature.
TEST(RoadPackageFiles, ChangedSignedFileIsRefusedByItsSignature) {
  ASSERT_TRUE(TrustTestRoot());
  const std::wstring signed_updater =
      CopyInto(TestPublisherFile(L"signed\\RemoteUpdater.exe"), MakeScratchFolder(L"Signed"));
  const std::wstring changed = CopyInto(signed_updater, MakeScratchFolder(L"Changed"));
  ASSERT_FALSE(changed.empty());
  {
    std::fstream file(Narrow(changed), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(4096);
    file.put('\xcc');
  }
  EXPECT_EQ(road::CheckPackage(signed_updater).decision.reason, "package is not of this product");
  EXPECT_EQ(road::CheckPackage(changed).decision.reason, "package was changed after it was signed");
}

TEST(RoadPackageFiles, InstalledVersionComesFromTheWindowsInstaller) {
  std::optional<std::wstring> installed = L"unread";
  ASSERT_TRUE(road::ReadInstalledVersion(road::kProductUpgradeCode, &installed));
  EXPECT_FALSE(installed.has_value());

  const std::wstring arguments =
      L" /i \"" + SamplePackage(L"CorvantaRemote-1.0.0.msi") + L"\" /qn LAUNCH_TRAY_APP=N";
  ASSERT_EQ(RunToExit(SystemProgram(L"msiexec.exe"), arguments, 120000), 0u);

  ASSERT_TRUE(road::ReadInstalledVersion(road::kProductUpgradeCode, &installed));
  EXPECT_EQ(installed, L"1.0.0");
  // Asked by the UpgradeCode in the letter case wixl writes into the package.
  ASSERT_TRUE(road::ReadInstalledVersion(kOurs, &installed));
  EXPECT_EQ(installed, L"1.0.0");
}

}  // namespace
