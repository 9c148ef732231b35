// The package check: the SHA-256 a package's .sha256 file names, and that of the bytes staged.
#pragma once

#include <string>

namespace road {

// The lowercase hex SHA-256 a .sha256 file starts with (optionally followed by whitespace and
// anything); empty when it does not start with one or cannot be read.
[[nodiscard]] std::string ReadExpectedHash(const std::wstring& path);

// Lowercase hex SHA-256 of the file's bytes; empty when it cannot be read.
[[nodiscard]] std::string Sha256OfFile(const std::wstring& path);

}  // namespace road
