// The component's command line: options, aliases and the usage text.
#pragma once

#include "framework/base_component.h"

namespace hbafw {

inline constexpr int kParseBad = 0;
inline constexpr int kParseRun = 1;
inline constexpr int kParseUsage = 2;

// Scans every argument, the program's name included; see kParse* for the result.
int ParseCommandLine(CBaseCmp& component, int argc, const char* const* argv);

// Goes straight to standard output, also in silent mode.
void PrintUsage();

}  // namespace hbafw
