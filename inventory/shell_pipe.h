// Running a shell command and reading its standard output back, lines of any
// length whole, and quoting a word so that it reaches the shell as one literal
// argument. Exit statuses are not looked at: a command that cannot start reads
// as a command with no output.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace hbafw {

// Words of plain path characters stay as written, so fixed commands read as
// designed; anything else is single-quoted.
std::string QuoteShellWord(std::string_view word);

// Hands each output line (newline removed) to onLine until it returns true or
// the output ends, then closes the pipe.
template <typename OnLine>
void ReadCommandLines(const std::string& command, OnLine&& onLine) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&buffer, &capacity, pipe)) >= 0) {
        std::string line(buffer, static_cast<std::size_t>(length));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (onLine(line)) break;
    }
    std::free(buffer);
    ::pclose(pipe);
}

// At most maxLines output lines.
std::vector<std::string> ReadFirstCommandLines(const std::string& command, std::size_t maxLines);

}  // namespace hbafw
