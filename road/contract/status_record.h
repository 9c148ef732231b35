// The one reader of the updater's status record outside the updater itself, for the road's
// drivers and tests: "<token>|<outcome>" under HKLM\SOFTWARE\Corvanta\RemoteUpdater.
#pragma once

#include <string>

namespace road {

// The record split into the token it was written for and its outcome text.
struct StatusRecord {
  // kCompleted: the outcome is exactly "completed"; kFailed: it begins with "failed:"; kNone:
  // anything else, a text without the bar, or no record at all.
  enum class Kind { kCompleted, kFailed, kNone } kind = Kind::kNone;
  std::wstring token;
  std::wstring outcome;  // the whole text after the bar
};

// The record's whole text, read as a standard user may (read access only, the 64-bit view);
// empty when there is none.
[[nodiscard]] std::wstring ReadStatusRecord();

// Takes a record's text apart by the updater's own rules (shared/status_record_text.h), the
// token being the text before its first bar, as the road's tokens hold none. A text without
// a bar has no token, and its outcome is the whole text, of kind kNone.
[[nodiscard]] StatusRecord SplitStatusRecord(const std::wstring& text);

}  // namespace road
