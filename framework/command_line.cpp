// Options are compared exactly and case-sensitively; unknown words are ignored.
// The word after "/d" is taken as the path and then examined as an option too.
// No caller of the slash options passes GNU-style ones, so an unknown "--" word
// is a mistake to refuse rather than a word to ignore into a flash.
#include "framework/command_line.h"

#include <string_view>

#include "framework/console.h"

namespace hbafw {

inline constexpr std::string_view kUsage =
    "TRXXXXXX.zelpak [options]\n"
    "    options\n"
    "    --------------------------\n"
    "    /f = Force the installation\n"
    "    /s = Execute silently\n"
    "    /d [path] = Perform self-discovery and output to [path]\n";

void PrintUsage() { ConsoleWrite(kUsage); }

int ScanLongOptions(int argc, const char* const* argv) {
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        std::string_view arg = argv[i];
        if (arg == "/h" || arg == "-h") return kParseRun;
        if (arg == "--version" || arg == "-V") return kParseVersion;
        if (arg.starts_with("--")) {
            PrintUsage();
            return arg == "--help" ? kParseUsage : kParseBad;
        }
    }
    return kParseRun;
}

int ParseCommandLine(CBaseCmp& component, int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr) break;
        std::string_view arg = argv[i];
        if (arg == "/s" || arg == "-s") {
            component.silent = true;
            component.log.setQuiet(true);
        } else if (arg == "/f" || arg == "-f" || arg == "/e" || arg == "-e" || arg == "/g" || arg == "-g") {
            component.force = true;
        } else if (arg == "/h" || arg == "-h") {
            PrintUsage();
            return kParseUsage;
        } else if (arg == "/d" || arg == "-d") {
            component.selfDiscovery = true;
            if (i + 1 >= argc || argv[i + 1] == nullptr) {
                PrintUsage();
                return kParseBad;
            }
            component.discoveryXmlPath = argv[i + 1];
        }
    }
    return kParseRun;
}

}  // namespace hbafw
