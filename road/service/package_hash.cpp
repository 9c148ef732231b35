#include "service/package_hash.h"

#include <windows.h>

#include <bcrypt.h>

#include <vector>

#include "shared/unique_handles.h"
#include "win/road_handles.h"
#include "win/text_conversion.h"

namespace road {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

UniqueHandle OpenForReading(const std::wstring& path) noexcept {
  return OwnHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 /*security=*/nullptr, OPEN_EXISTING, /*flags=*/0,
                                 /*template_file=*/nullptr));
}

// Feeds the whole file to `hash`; false when it cannot be read or hashed.
[[nodiscard]] bool HashFile(BCRYPT_HASH_HANDLE hash, HANDLE file) {
  std::vector<UCHAR> chunk(1 << 16);
  DWORD read = 0;
  for (;;) {
    if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read,
                    /*overlapped=*/nullptr)) {
      return false;
    }
    if (read == 0) return true;
    if (::BCryptHashData(hash, chunk.data(), read, /*flags=*/0) != 0) return false;
  }
}

}  // namespace

std::string ReadExpectedHash(const std::wstring& path) {
  const UniqueHandle file = OpenForReading(path);
  char text[66] = {};
  DWORD read = 0;
  if (!file || !::ReadFile(file.get(), text, sizeof(text) - 1, &read, /*overlapped=*/nullptr) ||
      read < 64) {
    return "";
  }
  const std::string hash(text, 64);
  const bool hex = hash.find_first_not_of(kHexDigits) == std::string::npos;
  const char after = text[64];
  const bool ends = read == 64 || after == ' ' || after == '\t' || after == '\r' || after == '\n';
  return hex && ends ? hash : "";
}

std::string Sha256OfFile(const std::wstring& path) {
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (::BCryptOpenAlgorithmProvider(&raw_algorithm, BCRYPT_SHA256_ALGORITHM,
                                    /*implementation=*/nullptr, /*flags=*/0) != 0) {
    return "";
  }
  const UniqueAlgorithm algorithm(raw_algorithm);
  BCRYPT_HASH_HANDLE raw_hash = nullptr;
  if (::BCryptCreateHash(raw_algorithm, &raw_hash, /*object=*/nullptr, 0, /*secret=*/nullptr, 0,
                         /*flags=*/0) != 0) {
    return "";
  }
  const UniqueHash hash(raw_hash);
  const UniqueHandle file = OpenForReading(path);
  UCHAR digest[32] = {};
  if (!file || !HashFile(raw_hash, file.get()) ||
      ::BCryptFinishHash(raw_hash, digest, sizeof(digest), /*flags=*/0) != 0) {
    return "";
  }
  std::string hex;
  for (const UCHAR byte : digest) {
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 15];
  }
  return hex;
}

bool PackageHashMatches(const std::wstring& hash_file, const std::wstring& path,
                        const wchar_t* what, const ServiceLog& log) {
  const std::string expected = ReadExpectedHash(hash_file);
  const std::string actual = Sha256OfFile(path);
  const bool matches = !expected.empty() && actual == expected;
  log.Note(std::wstring(L"Package hash ") + (matches ? L"checked" : L"mismatch") + L": expected " +
           (expected.empty() ? L"(none)" : WidenAscii(expected)) + L", " + what + L" " +
           (actual.empty() ? L"(unreadable)" : WidenAscii(actual)));
  return matches;
}

}  // namespace road
