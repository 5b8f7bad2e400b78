#include "framework/shell_capture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

std::wstring WidenText(const char* text) {
    std::size_t length = std::strlen(text);
    std::vector<wchar_t> wide(length + 1, L'\0');
    // On an invalid byte mbstowcs stops and leaves the zeros after what it converted.
    std::mbstowcs(wide.data(), text, length);
    return std::wstring(wide.data());
}

}  // namespace hbafw
