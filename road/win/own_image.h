// What this program knows of itself: its image path, the folder it runs from and the version
// its resource names.
#pragma once

#include <string>

namespace road {

// The full image path of this process, as Windows reports it to other processes; empty when
// it cannot be read.
[[nodiscard]] std::wstring OwnImagePath();

// The folder of OwnImagePath(), without the last separator; empty when it cannot be read.
[[nodiscard]] std::wstring OwnFolder();

// "major.minor.build" from this program's own version resource, so that one source builds
// every version of the product; "?" when the resource is missing.
[[nodiscard]] std::wstring OwnVersion();

}  // namespace road
