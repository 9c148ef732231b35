// The administrator's update policy: the values under HKLM\SOFTWARE\Policies\Corvanta\Remote\Update
// that Group Policy writes (docs/policy/), read in one place and judged as data, so that a
// wrong value costs one log line and its default, never the service.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "package/product_version.h"

namespace road {

class ServiceLog;

// Where the policy lives, in the 64-bit view; only administrators may write there.
inline constexpr wchar_t kUpdatePolicyKey[] = L"SOFTWARE\\Policies\\Corvanta\\Remote\\Update";
// REG_SZ: the feed's address; must pass IsAllowedFeedUrl. Missing: the built-in one.
inline constexpr wchar_t kPolicyFeedUrl[] = L"FeedUrl";
// REG_SZ: the feed's channel, letters, digits, '-', '_' and '.'. Missing: "stable".
inline constexpr wchar_t kPolicyChannel[] = L"Channel";
// REG_DWORD: 0 off, 1 download and let the user apply, 2 apply automatically. Missing: 1.
inline constexpr wchar_t kPolicyUpdateMode[] = L"UpdateMode";
// REG_SZ: only versions that begin with these fields ("2.0." or "2.0"). Missing: any version.
inline constexpr wchar_t kPolicyTargetVersionPrefix[] = L"TargetVersionPrefix";
// REG_SZ: "HH:MM-HH:MM", local time, for automatic updates. Missing: at any hour.
inline constexpr wchar_t kPolicyApplyWindow[] = L"ApplyWindow";
// REG_DWORD: 1 refuses a package whose certificate's revocation cannot be checked. Missing: 0.
inline constexpr wchar_t kPolicyRequireRevocationCheck[] = L"RequireRevocationCheck";
// Every value the service reads, and so every value the Group Policy template may write.
inline constexpr const wchar_t* kUpdatePolicyValueNames[] = {
    kPolicyFeedUrl,     kPolicyChannel,
    kPolicyUpdateMode,  kPolicyTargetVersionPrefix,
    kPolicyApplyWindow, kPolicyRequireRevocationCheck};

// A value longer than this is ignored unread: no address or window is near it.
inline constexpr DWORD kMaxPolicyTextChars = 2047;

enum class UpdateMode : DWORD {
  kOff = 0,        // no check, no download
  kDownload = 1,   // download, and the user applies
  kAutomatic = 2,  // the service applies a ready package when DecideAutomaticApply allows
};

// Local time, in minutes after midnight (0 to 1439). The window holds its start and not its
// end; a start after the end runs across midnight. Never empty: start != end.
struct ApplyWindow {
  unsigned start_minute = 0;
  unsigned end_minute = 0;
};

struct UpdatePolicy {
  std::wstring feed_url;  // empty: the built-in one, BuiltInFeedUrl()
  std::string channel = "stable";
  UpdateMode mode = UpdateMode::kDownload;
  // Empty: any version. Else one to three fields of digits, without a final dot ("2", "2.0",
  // "2.0.1"): "2.0." is kept as "2.0", since both mean the releases 2.0.x, and the feed's
  // verdict (feed/feed_verdict.h) reads a prefix by its fields and would match nothing with a
  // text that ends in a dot.
  std::string version_prefix;
  std::optional<ApplyWindow> window;  // nothing: at any hour
  bool require_revocation_check = false;
};

// A value as the registry holds it.
struct RawPolicyValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
  bool too_long = false;  // over kMaxPolicyTextChars characters: `bytes` left empty
};
// The values found under the key, by name; a value not there is not in the map.
using RawPolicyValues = std::map<std::wstring, RawPolicyValue>;

struct PolicyJudgement {
  UpdatePolicy policy;
  // One line per value ignored, for the service log: "Policy value UpdateMode ignored: 7 is
  // not 0, 1 or 2; the default applies". Printable ASCII; a quoted value is cut at 80
  // characters and its other characters shown as '?'.
  std::vector<std::string> notes;
};

// The policy that `found` sets. A value of the wrong type, of the wrong size or out of range is
// ignored with a note, and its default applies; an empty text is taken as not set. Pure.
[[nodiscard]] PolicyJudgement JudgePolicyValues(const RawPolicyValues& found);

// The values of kUpdatePolicyValueNames under kUpdatePolicyKey in the 64-bit view; empty when
// the key is missing. A value that cannot be read is left out, as if missing.
[[nodiscard]] RawPolicyValues ReadPolicyValues();

// The policy in force now: ReadPolicyValues judged, each note written to `log`.
[[nodiscard]] UpdatePolicy ReadUpdatePolicy(const ServiceLog& log);

// The feed's address when the policy names none: a release setting (CORVANTA_FEED_URL at
// configure time), an https address.
[[nodiscard]] std::wstring BuiltInFeedUrl();

// "HH:MM" of a local time in minutes after midnight.
[[nodiscard]] std::string MinuteOfDayText(unsigned minute_of_day);

// "HH:MM-HH:MM", as the policy spells the window.
[[nodiscard]] std::string ApplyWindowText(const ApplyWindow& window);

}  // namespace road
