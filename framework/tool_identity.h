// What a shipped program says about itself: its name, version and build for
// --version, and the diagnostic tools' answer to --help and --version. It
// depends on nothing of ours, so the pattern tool can link it alone.
#pragma once

#include <string>
#include <string_view>

namespace hbafw {

// "PROGRAM VERSION (commit C, symbol floor GLIBC_x GLIBCXX_y CXXABI_z)" and a newline.
std::string VersionText(std::string_view program);

// For tools whose options are GNU-style: --help/-h anywhere prints USAGE, and
// --version/-V the version text, on standard output; true when one was answered
// (the tool then exits 0 having read and run nothing else).
bool AnsweredHelpOrVersion(int argc, const char* const* argv, std::string_view program, std::string_view usage);

}  // namespace hbafw
