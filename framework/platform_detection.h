// Detection of the operating-system release into the discovery result.
#pragma once

#include "framework/base_component.h"

namespace hbafw {

// Always 0; sets result.osId when a release file is recognised.
int DetectOperatingSystem(CBaseCmp& component);

}  // namespace hbafw
