// ProductVersion texts ("2.0.0") read and ordered as the Windows Installer orders them.
#pragma once

#include <optional>
#include <string>

namespace road {

// A ProductVersion as the Windows Installer holds it: major.minor.build.
struct ProductVersion {
  unsigned major = 0;
  unsigned minor = 0;
  unsigned build = 0;
};

// Reads "major[.minor[.build[.revision]]]": one to four fields of decimal digits only (no sign,
// space or empty field), major and minor at most 255, build and revision at most 65535, as the
// Windows Installer allows. Missing fields are 0. The fourth field is checked and then dropped:
// the Windows Installer ignores it when it compares versions, so 2.0.0.5 is the same version as
// 2.0.0. Returns nothing for any other text.
[[nodiscard]] std::optional<ProductVersion> ParseProductVersion(const std::wstring& text);

// Whether `candidate` is a later version than `installed`: the first field that differs, read
// from major to build, decides; equal versions are not later.
[[nodiscard]] bool IsLaterVersion(const ProductVersion& candidate,
                                  const ProductVersion& installed) noexcept;

// "major.minor.build", for reasons and logs.
[[nodiscard]] std::string VersionText(const ProductVersion& version);

}  // namespace road
