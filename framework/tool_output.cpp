#include "framework/tool_output.h"

namespace hbafw {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool MatchWholeLine(const Pattern& pattern, const std::string& line, std::vector<std::string>& groups) {
    auto matcher = pattern.newMatcher(line);
    if (!matcher->matches()) return false;
    groups = matcher->groups(false);
    return true;
}

}  // namespace hbafw
