// sysfs lookup of an adapter's PCI identity. Every path placed in a command is
// quoted, so a shell character in a directory name cannot change the command.
#include "inventory/pci_identity.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool HasIdentityFiles(const std::string& directory) {
    return Exists(directory + "/subsystem_device") && Exists(directory + "/vendor") && Exists(directory + "/device");
}

std::string HexPair(unsigned first, unsigned second) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4x%.4x", first, second);
    return text;
}

bool SubsystemMatches(const std::string& directory, unsigned subsystemLow, unsigned subsystemHigh) {
    char alternatives[32];
    std::snprintf(alternatives, sizeof alternatives, "'%.4x|%.4x'", subsystemLow, subsystemHigh);
    std::string command = "cat " + QuoteShellWord(directory + "/subsystem_vendor") + " " +
                          QuoteShellWord(directory + "/subsystem_device") + " | grep -i -E " + alternatives +
                          " | wc -l";
    std::vector<std::string> lines = ReadFirstCommandLines(command, 1);
    return !lines.empty() && std::atoi(lines[0].c_str()) == 2;
}

}  // namespace

std::string PciAddressPattern(unsigned char domain, unsigned char bus, unsigned char function) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "%.4x:%.2x:\\(\\w\\)*\\.%x", domain, bus, function);
    return pattern;
}

std::string LookupPciIdentity(unsigned char domain, unsigned char bus, unsigned char function,
                              unsigned subsystemLow, unsigned subsystemHigh, const std::string& sysRoot) {
    std::string search = "find " + QuoteShellWord(sysRoot) + " -name subsystem_vendor | grep -i -e '" +
                         PciAddressPattern(domain, bus, function) + "'";
    std::string device;
    ReadCommandLines(search, [&](const std::string& line) {
        if (line.empty()) return false;
        std::size_t slash = line.rfind('/');
        std::string candidate = slash == std::string::npos ? line : line.substr(0, slash);
        if (!HasIdentityFiles(candidate) || !SubsystemMatches(candidate, subsystemLow, subsystemHigh)) return false;
        device = candidate;
        return true;
    });
    if (device.empty()) return kPciIdentityUnknown;
    std::vector<std::string> ids =
        ReadFirstCommandLines("cat " + QuoteShellWord(device + "/vendor") + " " + QuoteShellWord(device + "/device"), 2);
    if (ids.size() < 2) return kPciIdentityUnknown;
    return HexPair(static_cast<unsigned>(std::strtol(ids[0].c_str(), nullptr, 16)),
                   static_cast<unsigned>(std::strtol(ids[1].c_str(), nullptr, 16)));
}

}  // namespace hbafw
