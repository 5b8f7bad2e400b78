// Quoting and the bounded line reader over popen.
#include "inventory/shell_pipe.h"

namespace hbafw {

std::string QuoteShellWord(std::string_view word) {
    constexpr std::string_view kLiteral =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./:+,@%=";
    if (!word.empty() && word.find_first_not_of(kLiteral) == std::string_view::npos) return std::string(word);
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
    return quoted + "'";
}

std::vector<std::string> ReadFirstCommandLines(const std::string& command, std::size_t maxLines) {
    std::vector<std::string> lines;
    if (maxLines == 0) return lines;
    ReadCommandLines(command, [&](const std::string& line) {
        lines.push_back(line);
        return lines.size() >= maxLines;
    });
    return lines;
}

}  // namespace hbafw
