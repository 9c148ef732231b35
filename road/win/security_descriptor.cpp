#include "win/security_descriptor.h"

#include <windows.h>

#include <sddl.h>

namespace road {

UniqueLocal<void> DescriptorFromSddl(const wchar_t* sddl) noexcept {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              /*size=*/nullptr)) {
    return nullptr;
  }
  return UniqueLocal<void>(descriptor);
}

}  // namespace road
