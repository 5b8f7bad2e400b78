// The formats of a machine folder's files, one row per file: the reader that
// fills the description and the writer that gives the file back. A file no row
// holds is the caller's error; nothing unknown is carried along.
#include "sim/machine_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace hbafw::sim {

namespace {

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

std::vector<QLogicInstance> ReadInstances(const std::string& text) {
    std::vector<QLogicInstance> instances;
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        QLogicInstance instance;
        words >> instance.portWwn >> instance.flashImage;
        instances.push_back(instance);
    }
    return instances;
}

std::string InstanceLines(const std::vector<QLogicInstance>& instances) {
    std::string text;
    for (const QLogicInstance& i : instances) text += i.portWwn + " " + i.flashImage + "\n";
    return text;
}

std::vector<EmulexAdapter> ReadKitAdapters(const std::string& text) {
    std::vector<EmulexAdapter> adapters;
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        EmulexAdapter a;
        words >> a.model >> a.pciId >> a.vendorId >> a.subsystemId >> a.subsystemVendorId >> a.firmware >> a.bootCode;
        adapters.push_back(a);
    }
    return adapters;
}

std::string KitLines(const std::vector<EmulexAdapter>& adapters) {
    std::string text;
    for (const EmulexAdapter& a : adapters)
        text += a.model + " " + a.pciId + " " + a.vendorId + " " + a.subsystemId + " " + a.subsystemVendorId + " " +
                a.firmware + " " + a.bootCode + "\n";
    return text;
}

using Text = std::optional<std::string>;

struct FileFormat {
    std::string_view path;
    bool (*read)(MachineDescription&, const std::string& text);
    Text (*write)(const MachineDescription&);
};

std::optional<std::string> Release(const MachineDescription& d, std::string_view name) {
    for (const auto& [file, text] : d.releases)
        if (file == name) return text;
    return {};
}

template <std::size_t N>
struct Name {
    constexpr Name(const char (&text)[N]) { std::copy_n(text, N, value); }
    char value[N];
};

template <Name name>
bool ReadRelease(MachineDescription& d, const std::string& text) {
    d.releases.emplace_back(name.value, text);
    return true;
}

template <Name name>
Text WriteRelease(const MachineDescription& d) {
    return Release(d, name.value);
}

bool ReadHbaConf(MachineDescription& d, const std::string& text) {
    d.hbaConf = text;
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        std::string library, where;
        words >> library >> where;
        if (where.starts_with("/usr/")) d.libraries.push_back({.path = where, .variant = std::string(kFullLibrary)});
    }
    return true;
}

// Only the libraries laid from another build than the full one, "PATH VARIANT".
bool ReadLibraries(MachineDescription& d, const std::string& text) {
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        std::string path, variant;
        words >> path >> variant;
        auto at = std::ranges::find(d.libraries, path, &LaidLibrary::path);
        if (at == d.libraries.end() || variant.empty()) return false;
        at->variant = variant;
    }
    return true;
}

Text WriteLibraries(const MachineDescription& d) {
    std::string text;
    for (const LaidLibrary& library : d.libraries)
        if (library.variant != kFullLibrary) text += library.path + " " + library.variant + "\n";
    return text.empty() ? Text() : text;
}

// "VENDOR DEVICE SUBVENDOR SUBDEVICE" a line, in hex, as hbafw-inventory
// --capture writes them.
bool ReadUnlisted(MachineDescription& d, const std::string& text) {
    for (const std::string& line : Lines(text)) {
        std::istringstream words(line);
        unsigned ids[4] = {};
        if (!(words >> std::hex >> ids[0] >> ids[1] >> ids[2] >> ids[3])) return false;
        d.unlistedPci.push_back(UnlistedFunction(ids, d.unlistedPci.size()));
    }
    return true;
}

Text WriteUnlisted(const MachineDescription& d) {
    std::string text;
    char line[32];
    for (const PciFunction& f : d.unlistedPci) {
        std::snprintf(line, sizeof line, "%04x %04x %04x %04x\n", unsigned{f.vendorId}, unsigned{f.deviceId},
                      unsigned{f.subsystemVendor}, unsigned{f.subsystemDevice});
        text += line;
    }
    return text.empty() ? Text() : text;
}

bool ReadAdapters(MachineDescription& d, const std::string& text) {
    for (const std::string& line : Lines(text)) {
        if (line.starts_with("adapter "))
            d.adapters.push_back(ParseAdapter(line));
        else if (line.starts_with("fault "))
            d.faults.push_back(line.substr(6));
        else
            return false;
    }
    return true;
}

Text WriteAdapters(const MachineDescription& d) {
    if (d.adapters.empty() && d.faults.empty()) return {};
    return Description(d.adapters, d.faults);
}

bool ReadCatalogue(MachineDescription& d, const std::string& text) {
    d.catalogue = text;
    return true;
}

Text WriteCatalogue(const MachineDescription& d) { return d.catalogue; }

bool ReadInstancesFile(MachineDescription& d, const std::string& text) {
    d.qlafwupdate.instances = ReadInstances(text);
    return true;
}

Text WriteInstancesFile(const MachineDescription& d) {
    return d.qlafwupdate.installed ? Text(InstanceLines(d.qlafwupdate.instances)) : Text();
}

bool ReadQLogicFlashed(MachineDescription& d, const std::string& text) {
    d.qlafwupdate.flashed = ReadInstances(text);
    return true;
}

Text WriteQLogicFlashed(const MachineDescription& d) {
    bool shown = d.qlafwupdate.installed && !d.qlafwupdate.flashed.empty();
    return shown ? Text(InstanceLines(d.qlafwupdate.flashed)) : Text();
}

bool ReadKitFile(MachineDescription& d, const std::string& text) {
    d.elxflash.adapters = ReadKitAdapters(text);
    return true;
}

Text WriteKitFile(const MachineDescription& d) {
    return d.elxflash.installed ? Text(KitLines(d.elxflash.adapters)) : Text();
}

bool ReadKitFlashed(MachineDescription& d, const std::string& text) {
    d.elxflash.flashed = ReadKitAdapters(text);
    return true;
}

Text WriteKitFlashed(const MachineDescription& d) {
    return d.elxflash.installed && !d.elxflash.flashed.empty() ? Text(KitLines(d.elxflash.flashed)) : Text();
}

constexpr FileFormat kFormats[] = {
    {"etc/hba.conf", ReadHbaConf, [](const MachineDescription& d) { return d.hbaConf; }},
    {"etc/redhat-release", ReadRelease<"redhat-release">, WriteRelease<"redhat-release">},
    {"etc/SuSE-release", ReadRelease<"SuSE-release">, WriteRelease<"SuSE-release">},
    // After etc/hba.conf, in the sorted order a folder is read in.
    {"sim/libraries", ReadLibraries, WriteLibraries},
    {"sim/adapters.conf", ReadAdapters, WriteAdapters},
    {"sim/pci-unlisted", ReadUnlisted, WriteUnlisted},
    {"work/reference.xml", ReadCatalogue, WriteCatalogue},
    {"sim/qlafwupdate/instances", ReadInstancesFile, WriteInstancesFile},
    {"sim/qlafwupdate/flashed", ReadQLogicFlashed, WriteQLogicFlashed},
    {"sim/elxflash/adapters", ReadKitFile, WriteKitFile},
    {"sim/elxflash/flashed", ReadKitFlashed, WriteKitFlashed},
};

// Every tool's flash mode and verbatim query answer.
bool ReadToolFile(ToolState& tool, std::string_view name, const std::string& text) {
    if (name == "flash")
        tool.flash = Trimmed(text);
    else if (name == "query")
        tool.query = text;
    else
        return false;
    return true;
}

std::string ToolFolder(const ToolEntry& tool) { return "sim/" + std::string(tool.name) + "/"; }

template <auto Member>
ToolState& State(MachineDescription& d) {
    return d.*Member;
}

}  // namespace

const std::vector<ToolEntry>& Tools() {
    static const std::vector<ToolEntry> tools = {
        {"qlafwupdate", State<&MachineDescription::qlafwupdate>, {{"qlafwupdate", true}}},
        {"elxflash", State<&MachineDescription::elxflash>, {}, true},
        {"bcu", State<&MachineDescription::bcu>, {{"bcu_bootupdate", true}, {"bfa_boot_fw", false}}},
    };
    return tools;
}

// The accessors only pick a member, so reading through them changes nothing.
const ToolState& StateOf(const ToolEntry& tool, const MachineDescription& d) {
    return tool.state(const_cast<MachineDescription&>(d));
}

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

bool ReadMachineFile(MachineDescription& d, const std::string& relative, const std::string& text) {
    for (const ToolEntry& tool : Tools())
        if (relative.starts_with(ToolFolder(tool))) tool.state(d).installed = true;
    for (const FileFormat& format : kFormats)
        if (format.path == relative) return format.read(d, text);
    for (const ToolEntry& tool : Tools())
        if (relative.starts_with(ToolFolder(tool)))
            return ReadToolFile(tool.state(d), std::string_view(relative).substr(ToolFolder(tool).size()), text);
    return false;
}

PciFunction UnlistedFunction(const unsigned (&ids)[4], std::size_t index) {
    constexpr unsigned kUnlistedBus = 0x60;
    auto id = [](unsigned value) { return static_cast<std::uint16_t>(value); };
    return {.bus = static_cast<std::uint8_t>(kUnlistedBus + index), .vendorId = id(ids[0]), .deviceId = id(ids[1]),
            .subsystemVendor = id(ids[2]), .subsystemDevice = id(ids[3])};
}

std::vector<std::pair<std::string, std::string>> MachineFiles(const MachineDescription& d) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const FileFormat& format : kFormats)
        if (Text text = format.write(d)) files.emplace_back(format.path, *text);
    for (const ToolEntry& tool : Tools()) {
        const ToolState& state = StateOf(tool, d);
        if (!state.installed) continue;
        files.emplace_back(ToolFolder(tool) + "flash", state.flash + "\n");
        if (state.query) files.emplace_back(ToolFolder(tool) + "query", *state.query);
    }
    return files;
}

}  // namespace hbafw::sim
