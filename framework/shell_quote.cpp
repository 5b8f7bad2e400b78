#include "framework/shell_quote.h"

namespace hbafw {

namespace {
bool IsShellLiteral(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '/' || c == '+' || c == ',' || c == ':' || c == '@' || c == '%' || c == '=';
}
}  // namespace

std::string ShellQuote(std::string_view word) {
    bool literal = !word.empty();
    for (char c : word) literal = literal && IsShellLiteral(c);
    if (literal) return std::string(word);
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    out.push_back('\'');
    return out;
}

}  // namespace hbafw
