// A simulated machine as data: its release file, HBA API libraries and the
// adapters they serve, the vendor tools and their state, faults, and files with
// an owner or mode of their own. Presets are read from the folders under
// sim/machines; KEY=VALUE settings change a description the way sim/mkmachine's
// --set does. Laying it out is sim/lay.h's job; nothing here writes a machine.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/adapters.h"
#include "sim/fc_host_tree.h"

namespace hbafw::sim {

struct QLogicInstance {
    std::string portWwn;  // as the component shows it, 21:00:00:1B:...
    std::string flashImage;
};

// One "MODEL PCIID VID SSID SVID FIRMWARE BOOTCODE" line of the kit's answer.
struct EmulexAdapter {
    std::string model, pciId, vendorId, subsystemId, subsystemVendorId, firmware, bootCode;
};

// How a tool's flash ends: "exit N", "signal NAME", "hang SECONDS", "silent",
// or "slow SECONDS" (until sim/TOOL/release appears; qlafwupdate only).
struct ToolState {
    bool installed = false;
    std::string flash = "exit 0";
    std::optional<std::string> query;  // replaces the discovery answer verbatim
};

struct Qlafwupdate : ToolState {
    std::vector<QLogicInstance> instances;  // the "/q" answer, in order
    // What "/q" shows after a flash that exits 0; empty: nothing changes.
    std::vector<QLogicInstance> flashed;
};

struct Elxflash : ToolState {
    std::vector<EmulexAdapter> adapters;
    std::vector<EmulexAdapter> flashed;
    std::string scriptLink = {};  // not empty: the kit's lx/elxflash.sh is a link to this path
};

// An hba.conf library laid at its path from a build variant of the simulated
// one, or not at all ("none").
struct LaidLibrary {
    std::string path = {};  // absolute, as the machine sees it
    std::string variant = "full";
};

struct FileAttributes {
    std::string path = {};  // relative to the machine folder
    std::optional<uid_t> owner = {};
    std::optional<gid_t> group = {};
    std::optional<std::filesystem::perms> mode = {};
};

enum class LogFolder { Writable, Unwritable, Full };

struct MachineDescription {
    std::vector<std::string> presets = {};                           // what it was made from
    std::vector<std::pair<std::string, std::string>> releases = {};  // etc/NAME, text
    std::optional<std::string> hbaConf = {};                         // etc/hba.conf's text
    std::vector<LaidLibrary> libraries = {};
    std::vector<SimulatedAdapter> adapters = {};  // served by the libraries, in sys/ too
    std::vector<std::string> faults = {};         // the library's "fault ..." lines, without the word
    // FCoE ports as the kernel shows them, for libhbalinux (with the fixed pci.ids).
    std::vector<FcoePort> fcoePorts = {};
    std::size_t sysfsFiller = 0;                // devices no adapter uses
    // A known vendor's adapters on the PCI bus that no library or tool lists
    // (driver not loaded, kit too old): sim/pci-unlisted, a capture records them.
    std::vector<PciFunction> unlistedPci = {};
    std::optional<std::string> catalogue = {};  // work/reference.xml
    Qlafwupdate qlafwupdate = {};
    Elxflash elxflash = {};
    ToolState bcu = {};  // bcu_bootupdate and its boot image
    LogFolder log = LogFolder::Writable;
    std::vector<std::pair<std::string, std::string>> files = {};  // further files: relative path, text
    std::vector<FileAttributes> attributes = {};                  // applied last
};

// The machine sim/machines/NAME holds; "a+b" merges presets (two vendors on
// one machine); "capture:DIR" is the folder hbafw-inventory --capture wrote. Throws std::runtime_error for an unknown preset or a file the
// description cannot hold.
MachineDescription Preset(std::string_view name);
// The same changed by "KEY=VALUE" settings; throws std::invalid_argument for a bad one.
MachineDescription Preset(std::string_view name, const std::vector<std::string>& settings);
std::filesystem::path PresetFolder(std::string_view name);

// Applies one KEY=VALUE setting (sim/machines/README.md lists the keys); the
// error text, or empty when it was applied.
std::string Set(MachineDescription& description, std::string_view setting);
// One help line per key, for sim/mkmachine's usage.
std::string SettingsHelp();

// Keeps the first count adapters of every kind (0: a machine without adapters).
void KeepAdapters(MachineDescription& description, std::size_t count);

}  // namespace hbafw::sim
