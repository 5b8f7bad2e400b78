#include "framework/shell_capture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/child_process.h"

namespace hbafw {

std::string RunAndCapture(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return kCaptureFailed;
    std::string output;
    char buffer[128];
    // fread rather than fgets so a NUL byte in a tool's output cannot hide the rest.
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer - 1, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

int RunProgram(const std::vector<std::string>& program, std::string& output) {
    if (program.empty()) return -1;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return -1;
    int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t child = StartProgram(program, null, pipe[1], pipe[1]);
    if (null >= 0) ::close(null);
    ::close(pipe[1]);
    char buffer[4096];
    ssize_t n;
    while (child > 0 && ((n = ::read(pipe[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    return child > 0 && WaitForChild(child, status) && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::wstring WidenText(const char* text) {
    std::size_t length = std::strlen(text);
    std::vector<wchar_t> wide(length + 1, L'\0');
    // On an invalid byte mbstowcs stops and leaves the zeros after what it converted.
    std::mbstowcs(wide.data(), text, length);
    return std::wstring(wide.data());
}

}  // namespace hbafw
