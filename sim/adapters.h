// Describes simulated adapters to the simulated vendor library and installs
// that library: the adapters.conf lines it reads, copies of the library under
// the names a machine or test wants, and the hba.conf that lists them. It
// knows nothing of sysfs (sim/sysfs_tree.h) or of the sandbox (sim/machine.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "sim/sysfs_tree.h"

namespace hbafw::sim {

struct SimulatedAdapter {
    std::string name = "qlogic-QLE2562-0";
    std::string nodeWwn = "20:00:00:1B:32:0A:0B:0C";
    std::vector<std::string> portWwns = {"21:00:00:1B:32:0A:0B:0C"};
    std::string model = "QLE2562";
    std::string driverVersion = "8.07.00.08";
    std::string firmwareVersion = "5.06.05";
    std::string optionRomVersion = "2.02";
    // Library file names serving it; empty: every copy of the library.
    std::string libraries;
    PciFunction pci{0, 5, 0, 0};
    std::string extra;  // further key=value words, as written
};

// One "adapter ..." line; the subsystem word is the pci's subsystem ids, the
// pci word (which the library ignores) its vendor and device ids, for sysfs.
std::string DescriptionLine(const SimulatedAdapter& adapter);
// The adapters and fault lines, one per line.
std::string Description(const std::vector<SimulatedAdapter>& adapters, const std::vector<std::string>& faults = {});

// The built library of the variant ("full", "no_register", "no_vkxfc_open",
// "no_vkxfc_attributes").
std::filesystem::path VendorLibraryBuild(const std::string& variant = "full");
// Copies the variant's library to target (separate copies load separately).
void InstallVendorLibrary(const std::filesystem::path& target, const std::string& variant = "full");

// Lines of DIR/calls.log whose call (second word) is call.
std::vector<std::string> CallLines(const std::filesystem::path& callLog, const std::string& call);

}  // namespace hbafw::sim
