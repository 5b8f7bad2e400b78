// The builder as a command, for the Python and shell callers (the fleet, the
// demo, the benchmark): lays out a preset, changed by KEY=VALUE settings, in a
// new or empty folder. sim/mkmachine finds it in a build tree.
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/lay.h"

namespace {

constexpr const char* kUsage =
    "usage: mkmachine PRESET[+PRESET...] DIR [--replace] [--set KEY=VALUE ...]\n"
    "Lays out the machine sim/machines/PRESET describes in DIR (created; it must be empty);\n"
    "PRESET capture:FOLDER is a folder hbafw-inventory --capture wrote.\n"
    "--replace: DIR may hold a machine already; its files go first, its folders stay\n"
    "(a sandbox running over it holds them).\n"
    "sim/machines/README.md lists the presets. The keys:\n";

int Usage(const std::string& problem) {
    std::cerr << "mkmachine: " << problem << "\n" << kUsage << hbafw::sim::SettingsHelp();
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage("a preset and a folder are needed");
    try {
        std::vector<std::string> settings;
        bool replace = false;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--replace") == 0) {
                replace = true;
                continue;
            }
            if (std::strcmp(argv[i], "--set") != 0 || i + 1 == argc)
                return Usage("unexpected word " + std::string(argv[i]));
            settings.push_back(argv[++i]);
        }
        hbafw::sim::MachineDescription description = hbafw::sim::Preset(argv[1], settings);
        std::filesystem::path folder = argv[2];
        if (replace && std::filesystem::is_directory(folder)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
                if (!entry.is_directory() || entry.is_symlink()) files.push_back(entry.path());
            for (const auto& file : files) std::filesystem::remove(file);
        }
        if (std::filesystem::exists(folder) && !replace && !std::filesystem::is_empty(folder))
            return Usage(folder.string() + " is not empty");
        hbafw::sim::Lay(description, folder);
    } catch (const std::invalid_argument& error) {
        return Usage(error.what());
    } catch (const std::exception& error) {
        std::cerr << "mkmachine: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
