// The KEY=VALUE settings that change a description, one row each: the key (a
// key ending in a dot takes a suffix, image.N), its help line and its parser.
// A setting changes the description only; laying it out is sim/lay.h's job.
#include <charconv>
#include <sstream>

#include "sim/description.h"
#include "sim/machine_files.h"

namespace hbafw::sim {

namespace fs = std::filesystem;

namespace {

template <typename List>
void Truncate(List& list, std::size_t count) {
    if (list.size() > count) list.resize(count);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

FileAttributes& AttributesOf(MachineDescription& d, std::string_view path) {
    for (FileAttributes& a : d.attributes)
        if (a.path == path) return a;
    return d.attributes.emplace_back(FileAttributes{.path = std::string(path)});
}

using Apply = std::string (*)(MachineDescription&, std::string_view suffix, std::string_view value);

std::string Adapters(MachineDescription& d, std::string_view, std::string_view value) {
    std::size_t count = 0;
    if (!ParseNumber(value, count)) return "adapters wants a count";
    KeepAdapters(d, count);
    return {};
}

// The active image wherever adapter N shows one.
std::string Image(MachineDescription& d, std::string_view suffix, std::string_view value) {
    std::size_t index = 0;
    if (!ParseNumber(suffix, index)) return "image.N wants an adapter number";
    bool found = false;
    if (index < d.qlafwupdate.instances.size()) d.qlafwupdate.instances[index].flashImage = value, found = true;
    if (index < d.elxflash.adapters.size()) d.elxflash.adapters[index].firmware = value, found = true;
    if (index < d.adapters.size() && !d.qlafwupdate.installed) d.adapters[index].optionRomVersion = value, found = true;
    return found ? "" : "no adapter " + std::to_string(index);
}

std::string Flashed(MachineDescription& d, std::string_view suffix, std::string_view value) {
    std::size_t index = 0;
    if (!ParseNumber(suffix, index)) return "flashed.N wants an adapter number";
    if (d.qlafwupdate.flashed.empty()) d.qlafwupdate.flashed = d.qlafwupdate.instances;
    if (d.elxflash.flashed.empty()) d.elxflash.flashed = d.elxflash.adapters;
    bool found = false;
    if (index < d.qlafwupdate.flashed.size()) d.qlafwupdate.flashed[index].flashImage = value, found = true;
    if (index < d.elxflash.flashed.size()) d.elxflash.flashed[index].firmware = value, found = true;
    return found ? "" : "no adapter " + std::to_string(index) + " with a flashed image";
}

std::string Flash(MachineDescription& d, std::string_view, std::string_view value) {
    for (const ToolEntry& tool : Tools()) tool.state(d).flash = value;
    return {};
}

std::string NoTools(MachineDescription& d, std::string_view, std::string_view value) {
    if (value != "none") return "tools takes none";
    for (const ToolEntry& tool : Tools()) tool.state(d).installed = false;
    return {};
}

std::string KitLink(MachineDescription& d, std::string_view, std::string_view value) {
    if (!d.elxflash.installed) return "kit.link wants the Emulex kit";
    d.elxflash.scriptLink = value;
    return {};
}

std::string Fault(MachineDescription& d, std::string_view, std::string_view value) {
    d.faults.emplace_back(value);
    return {};
}

std::string Filler(MachineDescription& d, std::string_view, std::string_view value) {
    return ParseNumber(value, d.sysfsFiller) ? "" : "filler wants a count";
}

std::string Unlisted(MachineDescription& d, std::string_view, std::string_view value) {
    unsigned ids[4] = {};
    std::istringstream words{std::string(value)};
    char colon = 0;
    if (!(words >> std::hex >> ids[0] >> colon >> ids[1]) || colon != ':' || !words.eof())
        return "unlisted wants VENDOR:DEVICE in hex";
    ids[2] = ids[0];
    ids[3] = ids[1];
    d.unlistedPci.push_back(UnlistedFunction(ids, d.unlistedPci.size()));
    return {};
}

std::string ReleaseFile(MachineDescription& d, std::string_view name, std::string_view value) {
    if (name != "redhat-release" && name != "SuSE-release") return "no release file " + std::string(name);
    d.releases = {{std::string(name), value.empty() ? "" : std::string(value) + "\n"}};
    return {};
}

std::string NoRelease(MachineDescription& d, std::string_view, std::string_view value) {
    if (value != "none") return "release takes none (release.FILE=TEXT sets one)";
    d.releases.clear();
    return {};
}

std::string Log(MachineDescription& d, std::string_view, std::string_view value) {
    if (value == "writable")
        d.log = LogFolder::Writable;
    else if (value == "unwritable")
        d.log = LogFolder::Unwritable;
    else if (value == "full")
        d.log = LogFolder::Full;
    else
        return "log is writable, unwritable or full";
    return {};
}

std::string File(MachineDescription& d, std::string_view path, std::string_view value) {
    if (path.empty() || path.starts_with('/') || path.find("..") != std::string_view::npos)
        return "file.PATH wants a path inside the machine folder";
    d.files.emplace_back(path, value);
    return {};
}

std::string Owner(MachineDescription& d, std::string_view path, std::string_view value) {
    std::size_t colon = value.find(':');
    uid_t owner = 0;
    gid_t group = 0;
    if (colon == std::string_view::npos || !ParseNumber(value.substr(0, colon), owner) ||
        !ParseNumber(value.substr(colon + 1), group))
        return "owner.PATH wants UID:GID";
    FileAttributes& a = AttributesOf(d, path);
    a.owner = owner;
    a.group = group;
    return {};
}

std::string Mode(MachineDescription& d, std::string_view path, std::string_view value) {
    unsigned mode = 0;
    if (!ParseNumber(value, mode, 8) || mode > 07777) return "mode.PATH wants an octal mode";
    AttributesOf(d, path).mode = static_cast<fs::perms>(mode);
    return {};
}

std::string Library(MachineDescription& d, std::string_view path, std::string_view value) {
    for (LaidLibrary& library : d.libraries) {
        if (library.path != path) continue;
        library.variant = value;
        return {};
    }
    return "no library " + std::string(path) + " in hba.conf";
}

struct SettingRow {
    std::string_view key;
    std::string_view help;
    Apply apply;
};

constexpr SettingRow kSettings[] = {
    {"adapters", "adapters=N: only the first N adapters of the library and of every tool", Adapters},
    {"image.", "image.N=V: adapter N's active image", Image},
    {"flashed.", "flashed.N=V: the image adapter N shows after a flash that exits 0", Flashed},
    {"flash", "flash=MODE: every tool's flash ends by exit N, signal NAME, hang S, silent or slow S", Flash},
    {"tools", "tools=none: no vendor tool", NoTools},
    {"kit.link", "kit.link=PATH: the Emulex kit's script a link to PATH", KitLink},
    {"fault", "fault=TEXT: one more fault line for the library", Fault},
    {"filler", "filler=N: N sysfs devices no adapter uses", Filler},
    {"unlisted", "unlisted=VENDOR:DEVICE: one more adapter on the PCI bus that no library or tool lists",
     Unlisted},
    {"release.", "release.FILE=TEXT: the release file", ReleaseFile},
    {"release", "release=none: no release file", NoRelease},
    {"log", "log=writable|unwritable|full: the log folder", Log},
    {"file.", "file.PATH=TEXT: one more file in the machine folder", File},
    {"owner.", "owner.PATH=UID:GID: a laid file's owner", Owner},
    {"mode.", "mode.PATH=OCTAL: a laid file's mode", Mode},
    {"library.", "library.PATH=VARIANT: the library build laid at an hba.conf path, none for no file", Library},
};

}  // namespace

std::string SettingsHelp() {
    std::string help;
    for (const SettingRow& row : kSettings) help += "  " + std::string(row.help) + "\n";
    return help;
}

void KeepAdapters(MachineDescription& d, std::size_t count) {
    Truncate(d.adapters, count);
    Truncate(d.qlafwupdate.instances, count);
    Truncate(d.qlafwupdate.flashed, count);
    Truncate(d.elxflash.adapters, count);
    Truncate(d.elxflash.flashed, count);
}

std::string Set(MachineDescription& d, std::string_view setting) {
    std::size_t equals = setting.find('=');
    if (equals == std::string_view::npos) return "a setting is KEY=VALUE, not " + std::string(setting);
    std::string_view key = setting.substr(0, equals), value = setting.substr(equals + 1);
    for (const SettingRow& row : kSettings) {
        bool prefix = row.key.ends_with('.');
        if (prefix ? key.starts_with(row.key) : key == row.key)
            return row.apply(d, prefix ? key.substr(row.key.size()) : std::string_view(), value);
    }
    return "unknown setting " + std::string(key);
}

}  // namespace hbafw::sim
