#include "framework/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace hbafw {

std::vector<char*> ArgumentVector(const std::vector<std::string>& program) {
    std::vector<char*> argv;
    for (const std::string& word : program) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    return argv;
}

pid_t StartProgram(const std::vector<std::string>& program, int in, int out, int err) {
    if (program.empty()) return -1;
    // Built before fork: the child only calls what is safe after it.
    std::vector<char*> argv = ArgumentVector(program);
    pid_t child = ::fork();
    if (child == 0) {
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

bool WaitForChild(pid_t child, int& status) {
    pid_t waited;
    while ((waited = ::waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    return waited == child;
}

}  // namespace hbafw
