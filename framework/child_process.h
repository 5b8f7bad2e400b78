// Starting a program as a child process and waiting for it: the argument
// vector, the standard descriptors, and a wait that survives interrupting
// signals. No shell and no output capture here; callers read the descriptors
// they hand over. Small on purpose, so the simulated machine shares it too.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace hbafw {

// program's words as execvp takes them, ending in a null; valid while program lives.
std::vector<char*> ArgumentVector(const std::vector<std::string>& program);

// Forks and runs program (argv[0] looked up in PATH, no shell) with in, out and
// err as its descriptors 0, 1 and 2. The child ends with 126 when it cannot set
// them up and 127 when exec fails. The child's id, or -1 when fork failed.
pid_t StartProgram(const std::vector<std::string>& program, int in, int out, int err);

// Waits for child through interrupting signals: true when it was reaped, its
// wait status in status.
bool WaitForChild(pid_t child, int& status);

}  // namespace hbafw
