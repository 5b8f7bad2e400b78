// Reads a preset folder back into a description, file by file, in the same
// formats sim/lay.cpp writes, so laying a preset gives the folder's files
// byte for byte. A file no field holds is an error, not carried along.
#include "sim/description.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hbafw::sim {

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

unsigned long Number(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 0); }

SimulatedAdapter ParseAdapter(const std::string& line) {
    SimulatedAdapter adapter;
    adapter.portWwns.clear();
    std::istringstream words(line);
    std::string word, extra;
    words >> word;  // "adapter"
    while (words >> word) {
        std::size_t equals = word.find('=');
        std::string key = word.substr(0, equals), value = equals == std::string::npos ? "" : word.substr(equals + 1);
        unsigned long number = Number(value);
        if (key == "name")
            adapter.name = value;
        else if (key == "node")
            adapter.nodeWwn = value;
        else if (key == "port")
            adapter.portWwns.push_back(value);
        else if (key == "bus")
            adapter.pci.bus = static_cast<std::uint8_t>(number);
        else if (key == "function")
            adapter.pci.function = static_cast<std::uint8_t>(number);
        else if (key == "domain")
            adapter.pci.domain = static_cast<std::uint8_t>(number);
        else if (key == "subsystem") {
            adapter.pci.subsystemDevice = static_cast<std::uint16_t>(number >> 16);
            adapter.pci.subsystemVendor = static_cast<std::uint16_t>(number & 0xffff);
        } else if (key == "pci") {
            adapter.pci.vendorId = static_cast<std::uint16_t>(number >> 16);
            adapter.pci.deviceId = static_cast<std::uint16_t>(number & 0xffff);
        } else if (key == "model")
            adapter.model = value;
        else if (key == "driver")
            adapter.driverVersion = value;
        else if (key == "firmware")
            adapter.firmwareVersion = value;
        else if (key == "optionrom")
            adapter.optionRomVersion = value;
        else if (key == "library")
            adapter.libraries = value;
        else
            extra += (extra.empty() ? "" : " ") + word;
    }
    adapter.extra = extra;
    return adapter;
}

std::vector<QLogicInstance> ParseInstances(const std::string& text) {
    std::vector<QLogicInstance> instances;
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        QLogicInstance instance;
        words >> instance.portWwn >> instance.flashImage;
        instances.push_back(instance);
    }
    return instances;
}

std::vector<EmulexAdapter> ParseKitAdapters(const std::string& text) {
    std::vector<EmulexAdapter> adapters;
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        EmulexAdapter a;
        words >> a.model >> a.pciId >> a.vendorId >> a.subsystemId >> a.subsystemVendorId >> a.firmware >> a.bootCode;
        adapters.push_back(a);
    }
    return adapters;
}

// Reads the tool's common files; true when the file was one of them.
bool ReadToolFile(ToolState& tool, const std::string& name, const std::string& text) {
    tool.installed = true;
    if (name == "flash")
        tool.flash = Trimmed(text);
    else if (name == "query")
        tool.query = text;
    else
        return false;
    return true;
}

void ReadFile(MachineDescription& d, const std::string& relative, const std::string& text) {
    fs::path path(relative);
    std::string name = path.filename().string(), parent = path.parent_path().string();
    bool known = true;
    if (relative == "etc/hba.conf") {
        d.hbaConf = text;
        for (const std::string& line : Lines(text)) {
            std::istringstream words(line);
            std::string library, where;
            words >> library >> where;
            if (where.starts_with("/usr/")) d.libraries.push_back({.path = where, .variant = "full"});
        }
    } else if (relative == "etc/redhat-release" || relative == "etc/SuSE-release") {
        d.releases.emplace_back(name, text);
    } else if (relative == "sim/adapters.conf") {
        for (const std::string& line : Lines(text)) {
            if (line.starts_with("adapter "))
                d.adapters.push_back(ParseAdapter(line));
            else if (line.starts_with("fault "))
                d.faults.push_back(line.substr(6));
            else
                known = false;
        }
    } else if (relative == "work/reference.xml") {
        d.catalogue = text;
    } else if (parent == "sim/qlafwupdate") {
        if (name == "instances")
            d.qlafwupdate.instances = ParseInstances(text);
        else if (name == "flashed")
            d.qlafwupdate.flashed = ParseInstances(text);
        else
            known = ReadToolFile(d.qlafwupdate, name, text);
        d.qlafwupdate.installed = true;
    } else if (parent == "sim/elxflash") {
        if (name == "adapters")
            d.elxflash.adapters = ParseKitAdapters(text);
        else if (name == "flashed")
            d.elxflash.flashed = ParseKitAdapters(text);
        else
            known = ReadToolFile(d.elxflash, name, text);
        d.elxflash.installed = true;
    } else if (parent == "sim/bcu") {
        known = ReadToolFile(d.bcu, name, text);
    } else {
        known = false;
    }
    if (!known) throw std::runtime_error("preset file " + relative + " is not part of a machine description");
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

// The text of one template, merged after the presets already in d.
void ReadPreset(MachineDescription& d, std::string_view name) {
    fs::path folder = PresetFolder(name);
    if (name.empty() || name.find('/') != std::string_view::npos || !fs::is_directory(folder))
        throw std::runtime_error("no preset '" + std::string(name) + "' in " + folder.parent_path().string());
    MachineDescription one;
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) ReadFile(one, fs::relative(file, folder).string(), Read(file));

    if (d.presets.empty()) {
        d = one;
    } else {
        // A second vendor on the same machine: its adapters, libraries, tool
        // and catalogue items join the first's; the first's release stays.
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
    d.presets.emplace_back(name);
}

template <typename List>
void Truncate(List& list, std::size_t count) {
    if (list.size() > count) list.resize(count);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "N" of "image.N" and the like.
bool Index(std::string_view key, std::string_view prefix, std::size_t& index) {
    return key.starts_with(prefix) && ParseNumber(key.substr(prefix.size()), index);
}

}  // namespace

fs::path PresetFolder(std::string_view name) { return fs::path(HBAFW_SIM_MACHINES_DIR) / name; }

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
    for (const std::string& setting : settings) {
        std::size_t equals = setting.find('=');
        std::string error = equals == std::string::npos ? "a setting is KEY=VALUE, not " + setting
                                                        : Set(description, setting.substr(0, equals),
                                                              std::string_view(setting).substr(equals + 1));
        if (!error.empty()) throw std::invalid_argument(error);
    }
    return description;
}

void KeepAdapters(MachineDescription& d, std::size_t count) {
    Truncate(d.adapters, count);
    Truncate(d.qlafwupdate.instances, count);
    Truncate(d.qlafwupdate.flashed, count);
    Truncate(d.elxflash.adapters, count);
    Truncate(d.elxflash.flashed, count);
}

std::string Set(MachineDescription& d, std::string_view key, std::string_view value) {
    std::string text(value);
    std::size_t index = 0;
    auto attributes = [&d](std::string path) -> FileAttributes& {
        for (FileAttributes& a : d.attributes)
            if (a.path == path) return a;
        return d.attributes.emplace_back(FileAttributes{.path = path});
    };
    if (key == "adapters") {
        if (!ParseNumber(value, index)) return "adapters wants a count";
        KeepAdapters(d, index);
    } else if (Index(key, "image.", index)) {
        // The active image wherever adapter N shows one.
        bool found = false;
        if (index < d.qlafwupdate.instances.size()) d.qlafwupdate.instances[index].flashImage = text, found = true;
        if (index < d.elxflash.adapters.size()) d.elxflash.adapters[index].firmware = text, found = true;
        if (index < d.adapters.size() && !d.qlafwupdate.installed)
            d.adapters[index].optionRomVersion = text, found = true;
        if (!found) return "no adapter " + std::to_string(index);
    } else if (Index(key, "flashed.", index)) {
        if (d.qlafwupdate.flashed.empty()) d.qlafwupdate.flashed = d.qlafwupdate.instances;
        if (d.elxflash.flashed.empty()) d.elxflash.flashed = d.elxflash.adapters;
        bool found = false;
        if (index < d.qlafwupdate.flashed.size()) d.qlafwupdate.flashed[index].flashImage = text, found = true;
        if (index < d.elxflash.flashed.size()) d.elxflash.flashed[index].firmware = text, found = true;
        if (!found) return "no adapter " + std::to_string(index) + " with a flashed image";
    } else if (key == "flash") {
        for (ToolState* tool : {static_cast<ToolState*>(&d.qlafwupdate), static_cast<ToolState*>(&d.elxflash), &d.bcu})
            tool->flash = text;
    } else if (key == "tools") {
        if (value != "none") return "tools takes none";
        d.qlafwupdate.installed = d.elxflash.installed = d.bcu.installed = false;
    } else if (key == "kit.link") {
        if (!d.elxflash.installed) return "kit.link wants the Emulex kit";
        d.elxflash.scriptLink = text;
    } else if (key == "fault") {
        d.faults.push_back(text);
    } else if (key == "filler") {
        if (!ParseNumber(value, d.sysfsFiller)) return "filler wants a count";
    } else if (key.starts_with("release.")) {
        std::string name(key.substr(8));
        if (name != "redhat-release" && name != "SuSE-release") return "no release file " + name;
        d.releases = {{name, text.empty() ? "" : text + "\n"}};
    } else if (key == "release") {
        if (value != "none") return "release takes none (release.FILE=TEXT sets one)";
        d.releases.clear();
    } else if (key == "log") {
        if (value == "writable")
            d.log = LogFolder::Writable;
        else if (value == "unwritable")
            d.log = LogFolder::Unwritable;
        else if (value == "full")
            d.log = LogFolder::Full;
        else
            return "log is writable, unwritable or full";
    } else if (key.starts_with("file.")) {
        std::string path(key.substr(5));
        if (path.empty() || path.starts_with('/') || path.find("..") != std::string::npos)
            return "file.PATH wants a path inside the machine folder";
        d.files.emplace_back(path, text);
    } else if (key.starts_with("owner.")) {
        std::size_t colon = value.find(':');
        uid_t owner = 0;
        gid_t group = 0;
        if (colon == std::string_view::npos || !ParseNumber(value.substr(0, colon), owner) ||
            !ParseNumber(value.substr(colon + 1), group))
            return "owner.PATH wants UID:GID";
        FileAttributes& a = attributes(std::string(key.substr(6)));
        a.owner = owner;
        a.group = group;
    } else if (key.starts_with("mode.")) {
        unsigned mode = 0;
        if (!ParseNumber(value, mode, 8) || mode > 07777) return "mode.PATH wants an octal mode";
        attributes(std::string(key.substr(5))).mode = static_cast<fs::perms>(mode);
    } else {
        return "unknown setting " + std::string(key);
    }
    return {};
}

}  // namespace hbafw::sim
