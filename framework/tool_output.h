// Reading a vendor tool's captured output: its lines, and whole-line matches
// with the system's pattern engine.
#pragma once

#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace hbafw {

// Every "\n" ends a line and is dropped; a non-empty tail is one more line.
std::vector<std::string> SplitLines(const std::string& text);

// True when the whole line matches; groups then holds groups 1 and up. A match
// the engine gave up on (too deep, over budget) counts as a line that did not match.
bool MatchWholeLine(const Pattern& pattern, const std::string& line, std::vector<std::string>& groups);

}  // namespace hbafw
