// Builds the sysfs shape in which Linux shows FCoE ports, for machines served by
// Debian's real libhbalinux: PCI functions with ids and a binary config space,
// their driver and module, a netdev on each, and an fc_host with its attribute
// and statistics files, linked from class/ and bus/. It writes files only; it
// neither loads the library nor mounts anything.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sim/sysfs_tree.h"

namespace hbafw::sim {

// Where Debian's libhbalinux2 puts the library.
inline constexpr const char* kLibhbalinuxPath = "/usr/lib/libhbalinux.so.2";

struct FcoePort {
    std::string netdev = "eth2";
    int host = 5;
    // The network function under the netdev: an Intel X520 (82599ES).
    PciFunction pci{0, 0x41, 0, 0, 0x8086, 0x10fb, 0x8086, 0x000c};
    std::uint8_t revision = 0x01;
    // The PCIe device serial number capability's 64-bit value; 0: no capability.
    std::uint64_t serialNumber = 0x001b21fffea0b0c0;
    bool configFile = true;  // false: the function has no config file
    std::string driver = "ixgbe";
    std::string driverVersion = "5.1.0-k";
    // fc_host attribute files, written as the kernel does.
    std::string nodeName = "0x1000001b21a0b0c0";
    std::string portName = "0x2000001b21a0b0c0";
    std::string portId = "0x0a0b0c";
    std::string portType = "NPort (fabric via point-to-point)";
    std::string portState = "Online";
    std::string speed = "10 Gbit";
    std::string supportedSpeeds = "10 Gbit";
    std::string maxFrameSize = "2112";
    std::string fabricName = "0x100000051e0a0b0c";
    // Overrides " over NETDEV" when set, to describe an fc_host no FCoE stack owns.
    std::string symbolicName;
    // The fifteen statistics files hold first, first + 1, ... in the standard's order.
    std::int64_t firstStatistic = 1;
};

class FcHostTree {
public:
    explicit FcHostTree(std::filesystem::path sysRoot);

    // Returns the fc_host's directory.
    std::filesystem::path Add(const FcoePort& port);
    // The fc_host names (host5, ...) in the order a directory read returns them,
    // which is the order the library numbers its adapters in.
    std::vector<std::string> FcHostOrder() const;

private:
    std::filesystem::path root_;
};

// The fixed pci.ids of the machines, so names do not depend on the host's copy.
std::filesystem::path FixedPciIds();
// The /usr part of a machine (MACHINE/usr) gets the fixed pci.ids.
void InstallFixedPciIds(const std::filesystem::path& machineUsr);

// hba.conf text listing (name, path) pairs in order.
std::string HbaConf(const std::vector<std::pair<std::string, std::string>>& libraries);

// Empty when libhbalinux can be loaded on this host, else the reason it cannot.
std::string LibhbalinuxUnavailable();

}  // namespace hbafw::sim
