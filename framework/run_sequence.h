// The run sequence and the process entry shared by every vendor build.
#pragma once

#include "framework/base_component.h"

namespace hbafw {

inline constexpr int kExitSuccess = 1;
inline constexpr int kExitNothingDone = 3;
inline constexpr int kExitFailure = 7;

// Drives a parsed component once; the result is the process exit code.
int Run(CBaseCmp& component);

}  // namespace hbafw
