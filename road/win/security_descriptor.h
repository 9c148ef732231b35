// Security descriptors written as SDDL strings, as the road's contract gives its access lists.
#pragma once

#include "shared/unique_handles.h"

namespace road {

// A security descriptor made from an SDDL string; empty, with the error for GetLastError,
// when the string is not one.
[[nodiscard]] UniqueLocal<void> DescriptorFromSddl(const wchar_t* sddl) noexcept;

}  // namespace road
