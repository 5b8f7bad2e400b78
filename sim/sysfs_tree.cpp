// Simulated sysfs PCI directories, laid out as the kernel names them.
#include "sim/sysfs_tree.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace hbafw::sim {

namespace {

namespace fs = std::filesystem;

std::string Address(const PciFunction& f) {
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%02x:%02x.%x", f.domain, f.bus, f.device, f.function);
    return text;
}

void Write(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << content;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x\n", value);
    return text;
}

}  // namespace

SysfsTree::SysfsTree(fs::path sysRoot) : root_(std::move(sysRoot)) {
    fs::create_directories(root_ / "bus/pci/devices");
    fs::create_directories(root_ / "class/fc_host");
    fs::create_directories(root_ / "kernel");
}

fs::path SysfsTree::WriteDevice(const fs::path& parent, const PciFunction& function) {
    fs::path directory = parent / Address(function);
    Write(directory / "vendor", Hex(function.vendorId));
    Write(directory / "device", Hex(function.deviceId));
    Write(directory / "subsystem_vendor", Hex(function.subsystemVendor));
    Write(directory / "subsystem_device", Hex(function.subsystemDevice));
    Write(directory / "class", "0x0c0400\n");
    Write(directory / "irq", "42\n");
    Write(directory / "enable", "1\n");
    Write(directory / "numa_node", "-1\n");
    Write(directory / "power/control", "on\n");
    Write(directory / "power/runtime_status", "active\n");
    fs::path link = root_ / "bus/pci/devices" / Address(function);
    std::error_code ignored;
    // Relative, as the kernel's: the tree is read at /sys inside the sandbox.
    if (!fs::exists(fs::symlink_status(link)))
        fs::create_directory_symlink(directory.lexically_relative(link.parent_path()), link, ignored);
    return directory;
}

fs::path SysfsTree::AddAdapter(const PciFunction& function) {
    char host[32];
    std::snprintf(host, sizeof host, "pci%04x:00", function.domain);
    PciFunction rootPort{function.domain, 0, static_cast<std::uint8_t>(0x02 + (function.bus & 0x0f)), 0,
                         0x8086, 0x3c04, 0x8086, 0x0000};
    fs::path rootPortDirectory = WriteDevice(root_ / "devices" / host, rootPort);
    // A bridge on the adapter's bus with the adapter's function number: the
    // address search finds it too and only the subsystem test tells them apart.
    PciFunction sibling{function.domain, function.bus, 0x1f, function.function, 0x8086, 0x3c08, 0x8086, 0x3c08};
    fs::path bridge = WriteDevice(rootPortDirectory, sibling);
    // Every path below that bridge matches the search as well, through the
    // bridge's own address, while naming another device.
    PciFunction below{function.domain, static_cast<std::uint8_t>(function.bus + 0x20), 0, 0, 0x8086, 0x10fb,
                      0x8086, 0x000c};
    WriteDevice(bridge, below);
    return WriteDevice(rootPortDirectory, function);
}

void SysfsTree::AddFiller(std::size_t devices) {
    fs::path host = root_ / "devices/pci0000:80";
    for (std::size_t i = 0; i < devices; ++i) {
        PciFunction filler{0, static_cast<std::uint8_t>(0x80 + i / 256), static_cast<std::uint8_t>((i / 8) % 32),
                           static_cast<std::uint8_t>(i % 8), 0x8086, static_cast<std::uint16_t>(0x1000 + i),
                           0x8086, 0x0001};
        fs::path directory = WriteDevice(host, filler);
        for (const char* name : {"config", "resource", "resource0", "resource2", "local_cpus", "local_cpulist",
                                 "modalias", "uevent", "msi_bus", "broken_parity_status", "d3cold_allowed",
                                 "current_link_speed", "current_link_width", "max_link_speed", "max_link_width",
                                 "revision", "driver_override", "ari_enabled", "consistent_dma_mask_bits",
                                 "dma_mask_bits"})
            Write(directory / name, "0\n");
        for (const char* name : {"async", "autosuspend_delay_ms", "runtime_active_time", "runtime_enabled",
                                 "runtime_suspended_time", "runtime_usage", "wakeup"})
            Write(directory / "power" / name, "0\n");
        for (const char* name : {"24", "25", "26", "27"}) Write(directory / "msi_irqs" / name, "msix\n");
    }
}

}  // namespace hbafw::sim
