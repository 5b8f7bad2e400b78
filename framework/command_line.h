// The component's command line: options, aliases and the usage text.
#pragma once

#include "framework/base_component.h"

namespace hbafw {

inline constexpr int kParseBad = 0;
inline constexpr int kParseRun = 1;
inline constexpr int kParseUsage = 2;
inline constexpr int kParseVersion = 3;

// Scans every argument, the program's name included; see kParse* for the result.
int ParseCommandLine(CBaseCmp& component, int argc, const char* const* argv);

// The words a Linux user tries first, answered before the component exists, so
// before its log is made or anything is read or run: "--help" shows the usage
// (kParseUsage), "--version" and "-V" ask for the version (kParseVersion), and
// any other word starting with "--" shows the usage and is a bad command line.
// The scan stops at "/h" or "-h", which ParseCommandLine answers; kParseRun
// when none of these words comes first.
int ScanLongOptions(int argc, const char* const* argv);

// Goes straight to standard output, also in silent mode.
void PrintUsage();

}  // namespace hbafw
