// Words the framework puts into shell commands: literal words unchanged, others quoted so the
// shell gives back exactly the original bytes.
#include <gtest/gtest.h>

#include <cstdio>

#include "inventory/shell_pipe.h"

namespace hbafw {
namespace {

std::string EchoThroughShell(const std::string& word) {
    std::string command = "printf '%s' " + QuoteShellWord(word);
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[256];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

TEST(ShellQuote, RoundTripsThroughTheShell) {
    EXPECT_EQ(QuoteShellWord("/var/vkx/Component.log"), "/var/vkx/Component.log");
    EXPECT_EQ(QuoteShellWord(""), "''");
    for (const std::string word : {"plain", "with space", "it's", "$(touch /tmp/x)", "a;b|c&d", "`x`", "\"q\"\\",
                                   "*?[", "line\nbreak", "''''"})
        EXPECT_EQ(EchoThroughShell(word), word) << word;
}

}  // namespace
}  // namespace hbafw
