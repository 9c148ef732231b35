// The package check: the SHA-256 a package's .sha256 file names, and that of the bytes staged.
#pragma once

#include <string>

#include "service/service_log.h"

namespace road {

// The lowercase hex SHA-256 a .sha256 file starts with (optionally followed by whitespace and
// anything); empty when it does not start with one or cannot be read.
[[nodiscard]] std::string ReadExpectedHash(const std::wstring& path);

// Lowercase hex SHA-256 of the file's bytes; empty when it cannot be read.
[[nodiscard]] std::string Sha256OfFile(const std::wstring& path);

// Whether the SHA-256 of the file at `path` is the one the .sha256 file `hash_file` names;
// noted in `log` as "Package hash checked" or "Package hash mismatch", with both hashes, the
// file's named `what` ("staged copy", "delivery").
[[nodiscard]] bool PackageHashMatches(const std::wstring& hash_file, const std::wstring& path,
                                      const wchar_t* what, const ServiceLog& log);

}  // namespace road
