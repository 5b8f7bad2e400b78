// Description lines and installation of the simulated vendor library.
#include "sim/adapters.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace hbafw::sim {

namespace fs = std::filesystem;

std::string DescriptionLine(const SimulatedAdapter& adapter) {
    std::ostringstream line;
    line << "adapter name=" << adapter.name << " node=" << adapter.nodeWwn;
    for (const std::string& port : adapter.portWwns) line << " port=" << port;
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, " bus=%u function=%u domain=%u subsystem=0x%04x%04x pci=0x%04x%04x",
                  adapter.pci.bus, adapter.pci.function, adapter.pci.domain, adapter.pci.subsystemDevice,
                  adapter.pci.subsystemVendor, adapter.pci.vendorId, adapter.pci.deviceId);
    line << " model=" << adapter.model << " driver=" << adapter.driverVersion
         << " firmware=" << adapter.firmwareVersion << " optionrom=" << adapter.optionRomVersion << numbers;
    if (!adapter.libraries.empty()) line << " library=" << adapter.libraries;
    if (!adapter.extra.empty()) line << ' ' << adapter.extra;
    return line.str();
}

std::string Description(const std::vector<SimulatedAdapter>& adapters, const std::vector<std::string>& faults) {
    std::string text;
    for (const SimulatedAdapter& adapter : adapters) text += DescriptionLine(adapter) + "\n";
    for (const std::string& fault : faults) text += "fault " + fault + "\n";
    return text;
}

fs::path VendorLibraryBuild(const std::string& variant) {
    return fs::path(HBAFW_SIM_LIBRARY_DIR) / ("libhbafw_sim_vendor_" + variant + ".so");
}

void InstallVendorLibrary(const fs::path& target, const std::string& variant) {
    fs::create_directories(target.parent_path());
    fs::copy_file(VendorLibraryBuild(variant), target, fs::copy_options::overwrite_existing);
}

std::vector<std::string> CallLines(const fs::path& callLog, const std::string& call) {
    std::vector<std::string> lines;
    std::ifstream log(callLog);
    std::string line;
    while (std::getline(log, line)) {
        std::istringstream words(line);
        std::string library, name;
        words >> library >> name;
        if (name == call) lines.push_back(line);
    }
    return lines;
}

}  // namespace hbafw::sim
