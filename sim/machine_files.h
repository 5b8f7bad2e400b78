// The files of a machine folder that a description holds, each format's reader
// beside its writer so that reading a folder and writing it again gives the
// same bytes. The vendor tools are a table by name: a new vendor is one preset
// folder and one row. Nothing here touches the disk; sim/lay.h writes the files.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/description.h"

namespace hbafw::sim {

struct ToolProgram {
    std::string_view file;  // in sim/tools, laid in work/ under the same name
    bool executable;
};

// A simulated vendor tool: its state folder under sim/, the programs laid in
// work/, and whether it ships as the Emulex kit's zip instead.
struct ToolEntry {
    std::string_view name;
    ToolState& (*state)(MachineDescription&);
    std::vector<ToolProgram> programs;
    bool zippedKit = false;
};
const std::vector<ToolEntry>& Tools();
const ToolState& StateOf(const ToolEntry& tool, const MachineDescription& description);

// Reads one file (its path relative to the folder); false when no format holds it.
bool ReadMachineFile(MachineDescription& description, const std::string& relative, const std::string& text);

// Every file the formats write for the description: relative path and text.
std::vector<std::pair<std::string, std::string>> MachineFiles(const MachineDescription& description);

// One "adapter ..." line of sim/adapters.conf read back; words it has no field
// for are kept in order in extra.
SimulatedAdapter ParseAdapter(const std::string& line);

// The index-th PCI function of sim/pci-unlisted, of ids vendor, device,
// subsystem vendor and subsystem device, on a bus of its own.
PciFunction UnlistedFunction(const unsigned (&ids)[4], std::size_t index);

// The library build variant laid at an hba.conf path when sim/libraries names
// none; "none" leaves the path empty (a library the configuration lists but
// the server lacks).
inline constexpr std::string_view kFullLibrary = "full";
inline constexpr std::string_view kNoLibrary = "none";

}  // namespace hbafw::sim
