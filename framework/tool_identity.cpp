// The build's facts arrive as compile definitions of this file alone
// (cmake/BuildInfo.cmake), so a new commit rebuilds nothing else.
#include "framework/tool_identity.h"

#include <cstdio>

namespace hbafw {

std::string VersionText(std::string_view program) {
    return std::string(program) + " " HBAFW_VERSION " (" HBAFW_BUILD ")\n";
}

bool AnsweredHelpOrVersion(int argc, const char* const* argv, std::string_view program, std::string_view usage) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        std::string_view arg = argv[i];
        std::string text;
        if (arg == "--help" || arg == "-h") text = usage;
        if (arg == "--version" || arg == "-V") text = VersionText(program);
        if (text.empty()) continue;
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return true;
    }
    return false;
}

}  // namespace hbafw
