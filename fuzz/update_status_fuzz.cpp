// The update status record: any stored bytes, type and size, or a record
// written for a token, read back through queries that may fail.
//
// Input: a byte choosing what is stored, a byte choosing one failing
// registry call, then the value's bytes, or "token\noutcome" as text.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "shared/update_status.h"
#include "shared/updater_contract.h"

namespace {

using updater_contract::kStatusKeyPath;
using updater_contract::kStatusValueName;

// The last entry writes the record through WriteUpdateStatus; the one
// before stores nothing.
constexpr DWORD kStoredTypes[] = {
    REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE, 0, 0};
constexpr size_t kNothingStored = 6;
constexpr size_t kWrittenRecord = 7;

constexpr const char* kFailingCalls[] = {"RegCreateKeyExW", "RegSetValueExW", "RegOpenKeyExW",
                                         "RegQueryValueExW"};
constexpr DWORD kErrors[] = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
                             ERROR_INVALID_HANDLE};

// Bits 0-2: none, or which call fails; bit 3: on its first or second use;
// bits 4-5: with which error.
bool InjectFault(uint8_t choice) {
  const unsigned call = choice & 7u;
  if (call == 0 || call > 4) return false;
  winsim::FailCall(kFailingCalls[call - 1], (choice & 8u) ? 2 : 1, kErrors[(choice >> 4) & 3u]);
  return true;
}

// What a reader of the stored bytes sees: whole wchar_t units, the last one
// padded with zeros, up to the first NUL.
std::wstring TextOfBytes(const std::vector<uint8_t>& bytes) {
  std::wstring text((bytes.size() + sizeof(wchar_t) - 1) / sizeof(wchar_t), L'\0');
  if (!bytes.empty()) std::memcpy(text.data(), bytes.data(), bytes.size());
  return text.substr(0, text.find(L'\0'));
}

// Returns the text the reader must see when no call fails.
std::wstring StoreValue(size_t kind, const uint8_t* data, size_t size) {
  if (kind == kNothingStored) return {};
  const std::vector<uint8_t> bytes(data, data + size);
  winsim::SetRegistryValue(kStatusKeyPath, kStatusValueName, kStoredTypes[kind], bytes);
  return kStoredTypes[kind] == REG_SZ ? TextOfBytes(bytes) : std::wstring();
}

// Splits the text at its first line break; NULs are dropped, since neither a
// command-line token nor an outcome can hold one. Returns the record the reader must see.
std::wstring WriteRecord(const uint8_t* data, size_t size, std::wstring& token,
                         std::wstring& outcome) {
  std::wstring text = WideTextOf(data, size);
  text.erase(std::remove(text.begin(), text.end(), L'\0'), text.end());
  const size_t split = std::min(text.find(L'\n'), text.size());
  token = text.substr(0, split);
  outcome = text.substr(std::min(split + 1, text.size()));
  WriteUpdateStatus(token, outcome);
  return StatusRecordText(token, outcome);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  winsim::Reset();
  const size_t kind = data[0] % std::size(kStoredTypes);
  const bool faulty = InjectFault(data[1]);
  std::wstring token, outcome;
  const std::wstring expected = kind == kWrittenRecord
                                    ? WriteRecord(data + 2, size - 2, token, outcome)
                                    : StoreValue(kind, data + 2, size - 2);

  const std::wstring read = ReadUpdateStatus();
  RequireHealthyWorld();
  // A failing call may hide the record, but never shows a part of it.
  Require(read == expected || (faulty && read.empty()), "the record was read in part or wrongly");
  if (kind == kWrittenRecord && read == expected) {
    Require(OutcomeForToken(read, token) == OutcomeOf(outcome),
            "the token's own watcher misreads its outcome");
  }
  return 0;
}
