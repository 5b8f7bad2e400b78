// Reads preset folders into descriptions and merges presets laid on one
// machine ("a+b"); "capture:DIR" reads a folder hbafw-inventory --capture
// wrote, as a preset. Which file holds what is sim/machine_files.h's business.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/description.h"
#include "sim/machine_files.h"

namespace hbafw::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCapturePrefix = "capture:";
// Inside the sandbox: /etc/hbafw-sim/twin.
constexpr const char* kTwinMark = "sim/twin";

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The first catalogue with the second's devices added to its own, so each
// vendor's build finds its adapters' items in the one reference.xml.
std::optional<std::string> MergedCatalogue(const std::optional<std::string>& first,
                                           const std::optional<std::string>& second) {
    if (!first || !second) return first ? first : second;
    const std::string open = "<devices>", close = "</devices>";
    std::size_t from = second->find(open), to = second->rfind(close), at = first->rfind(close);
    if (from == std::string::npos || to == std::string::npos || at == std::string::npos || to < from) return first;
    std::size_t begin = second->find('\n', from) + 1;
    std::string merged = *first;
    merged.insert(merged.rfind('\n', at) + 1, second->substr(begin, second->rfind('\n', to) + 1 - begin));
    return merged;
}

// A second vendor on the same machine: its adapters, libraries, tools and
// catalogue items join the first's; the first's release stays.
void Merge(MachineDescription& d, const MachineDescription& one) {
    if (one.hbaConf) d.hbaConf = d.hbaConf.value_or("") + *one.hbaConf;
    d.libraries.insert(d.libraries.end(), one.libraries.begin(), one.libraries.end());
    d.adapters.insert(d.adapters.end(), one.adapters.begin(), one.adapters.end());
    d.faults.insert(d.faults.end(), one.faults.begin(), one.faults.end());
    d.catalogue = MergedCatalogue(d.catalogue, one.catalogue);
    if (one.qlafwupdate.installed) d.qlafwupdate = one.qlafwupdate;
    if (one.elxflash.installed) d.elxflash = one.elxflash;
    if (one.bcu.installed) d.bcu = one.bcu;
    if (d.releases.empty()) d.releases = one.releases;
}

void ReadPreset(MachineDescription& d, std::string_view name) {
    fs::path folder = PresetFolder(name);
    bool captured = name.starts_with(kCapturePrefix);
    if (name.empty() || (!captured && name.find('/') != std::string_view::npos) || !fs::is_directory(folder))
        throw std::runtime_error("no preset '" + std::string(name) + "' in " + folder.parent_path().string());
    MachineDescription one;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::string relative = fs::relative(file, folder).string();
        if (!ReadMachineFile(one, relative, Read(file)))
            throw std::runtime_error("preset file " + relative + " is not part of a machine description");
    }
    // The rollout's rehearsal refuses any server without this mark.
    if (captured) one.files.emplace_back(kTwinMark, "a twin laid from a capture\n");
    if (d.presets.empty())
        d = one;
    else
        Merge(d, one);
    d.presets.emplace_back(name);
}

}  // namespace

fs::path PresetFolder(std::string_view name) {
    if (name.starts_with(kCapturePrefix)) return fs::path(name.substr(kCapturePrefix.size()));
    return fs::path(HBAFW_SIM_MACHINES_DIR) / name;
}

MachineDescription Preset(std::string_view name) {
    MachineDescription description;
    for (std::size_t start = 0;;) {
        std::size_t plus = name.find('+', start);
        ReadPreset(description, name.substr(start, plus - start));
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    return description;
}

MachineDescription Preset(std::string_view name, const std::vector<std::string>& settings) {
    MachineDescription description = Preset(name);
    for (const std::string& setting : settings)
        if (std::string error = Set(description, setting); !error.empty()) throw std::invalid_argument(error);
    return description;
}

}  // namespace hbafw::sim
