// Builds a simulated sysfs PCI tree under a folder: adapter functions with
// their vendor, device and subsystem id files, each behind a root port and
// beside a bridge whose address the sysfs search also matches (with a device
// of bus+0x20 below it, whose path matches too), plus filler
// devices for a tree of realistic size. It writes files only; it mounts nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace hbafw::sim {

struct PciFunction {
    std::uint8_t domain = 0;
    std::uint8_t bus = 0;
    std::uint8_t device = 0;
    std::uint8_t function = 0;
    std::uint16_t vendorId = 0x1077;
    std::uint16_t deviceId = 0x2532;
    std::uint16_t subsystemVendor = 0x1077;
    std::uint16_t subsystemDevice = 0x015c;
};

class SysfsTree {
public:
    explicit SysfsTree(std::filesystem::path sysRoot);

    // Returns the function's device directory.
    std::filesystem::path AddAdapter(const PciFunction& function);
    // Devices with the ordinary attribute files and power/ folders, about 40
    // entries each, on buses no adapter uses.
    void AddFiller(std::size_t devices);

    const std::filesystem::path& root() const { return root_; }

private:
    std::filesystem::path WriteDevice(const std::filesystem::path& parent, const PciFunction& function);

    std::filesystem::path root_;
};

}  // namespace hbafw::sim
