// Running a shell command for its output, and the narrow-to-wide conversion of
// what tools print. Exit statuses of captured commands are not examined.
#pragma once

#include <string>
#include <vector>

namespace hbafw {

inline constexpr const char* kCaptureFailed = "ERROR";

// Everything the command wrote to standard output, byte for byte (NUL bytes
// included), or "ERROR" when it could not be started.
std::string RunAndCapture(const std::string& command);

// Runs program (no shell) with standard input from /dev/null and collects its
// standard output and error together. Its exit status, or -1 when it could not
// run or was ended by a signal.
int RunProgram(const std::vector<std::string>& program, std::string& output);

// Converts under the process's locale; the result ends before the first byte
// that cannot be converted.
std::wstring WidenText(const char* text);

}  // namespace hbafw
