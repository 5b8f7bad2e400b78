// The FCoE sysfs layout as the kernel lays it out: the fc_host sits below its
// netdev below the PCI function, and class/ and bus/ hold relative links into
// devices/, since the library follows links rather than reading flat copies.
#include "sim/fc_host_tree.h"

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <system_error>

namespace hbafw::sim {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kConfigSpaceSize = 4096;
constexpr std::size_t kExtendedCapabilities = 0x100;
constexpr std::uint16_t kSerialNumberCapability = 0x0003;
constexpr std::uint8_t kPciExpressCapability = 0x10;
constexpr const char* kRootPort = "devices/pci0000:00/0000:00:1c.0";

void Write(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::system_error(errno, std::generic_category(), "write " + file.string());
}

void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    std::error_code ignored;
    fs::remove(link, ignored);
    fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
}

std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x\n", value);
    return text;
}

void Put16(std::string& space, std::size_t at, std::uint16_t value) {
    space[at] = static_cast<char>(value & 0xFF);
    space[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& space, std::size_t at, std::uint32_t value) {
    Put16(space, at, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(space, at + 2, static_cast<std::uint16_t>(value >> 16));
}

// A type 0 header with a PCI Express capability and, when the port has a
// serial number, the device serial number capability as the only extended one.
std::string ConfigSpace(const FcoePort& port) {
    std::string space(kConfigSpaceSize, '\0');
    Put16(space, 0x00, port.pci.vendorId);
    Put16(space, 0x02, port.pci.deviceId);
    Put16(space, 0x06, 0x0010);  // status: capability list present
    space[0x08] = static_cast<char>(port.revision);
    space[0x0b] = 0x02;  // network controller
    Put16(space, 0x2c, port.pci.subsystemVendor);
    Put16(space, 0x2e, port.pci.subsystemDevice);
    space[0x34] = 0x40;
    space[0x40] = kPciExpressCapability;
    if (port.serialNumber != 0) {
        Put32(space, kExtendedCapabilities, (1u << 16) | kSerialNumberCapability);
        Put32(space, kExtendedCapabilities + 4, static_cast<std::uint32_t>(port.serialNumber & 0xFFFFFFFFu));
        Put32(space, kExtendedCapabilities + 8, static_cast<std::uint32_t>(port.serialNumber >> 32));
    }
    return space;
}

constexpr const char* kStatistics[] = {
    "seconds_since_last_reset", "tx_frames",           "tx_words",           "rx_frames",
    "rx_words",                 "lip_count",           "nos_count",          "error_frames",
    "dumped_frames",            "link_failure_count",  "loss_of_sync_count", "loss_of_signal_count",
    "prim_seq_protocol_err_count", "invalid_tx_word_count", "invalid_crc_count"};

// FCP (type 8) in word 0 and the FC services (type 0x20) in word 1, as
// kernel fcoe lists them.
constexpr const char* kFc4Types =
    "0x00 0x00 0x01 0x00 0x00 0x00 0x00 0x01 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 "
    "0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00 \n";

}  // namespace

FcHostTree::FcHostTree(fs::path sysRoot) : root_(std::move(sysRoot)) {
    for (const char* folder : {"bus/pci/devices", "bus/pci/drivers", "class/fc_host", "class/net", "module"})
        fs::create_directories(root_ / folder);
}

fs::path FcHostTree::Add(const FcoePort& port) {
    char address[32];
    std::snprintf(address, sizeof address, "%04x:%02x:%02x.%x", port.pci.domain, port.pci.bus, port.pci.device,
                  port.pci.function);
    fs::path function = root_ / kRootPort / address;
    Write(function / "vendor", Hex4(port.pci.vendorId));
    Write(function / "device", Hex4(port.pci.deviceId));
    Write(function / "subsystem_vendor", Hex4(port.pci.subsystemVendor));
    Write(function / "subsystem_device", Hex4(port.pci.subsystemDevice));
    Write(function / "class", "0x020000\n");
    char revision[16];
    std::snprintf(revision, sizeof revision, "0x%02x\n", port.revision);
    Write(function / "revision", revision);
    if (port.configFile) Write(function / "config", ConfigSpace(port));
    Link(function, root_ / "bus/pci/devices" / address);

    fs::path driver = root_ / "bus/pci/drivers" / port.driver;
    fs::path module = root_ / "module" / port.driver;
    Write(module / "version", port.driverVersion + "\n");
    Link(module, driver / "module");
    Link(driver, function / "driver");

    fs::path netdev = function / "net" / port.netdev;
    Write(netdev / "ifindex", std::to_string(port.host) + "\n");
    Write(netdev / "iflink", std::to_string(port.host) + "\n");
    // The library takes the PCI address from this link's own text, so it must
    // name the function the way the kernel's link does, not as "../..".
    fs::create_directory_symlink(fs::path("../../..") / address, netdev / "device");
    Link(netdev, root_ / "class/net" / port.netdev);

    std::string hostName = "host" + std::to_string(port.host);
    fs::path host = netdev / "ctlr_0" / hostName / "fc_host" / hostName;
    const std::pair<const char*, std::string> files[] = {
        {"node_name", port.nodeName},
        {"port_name", port.portName},
        {"port_id", port.portId},
        {"port_type", port.portType},
        {"port_state", port.portState},
        {"speed", port.speed},
        {"supported_speeds", port.supportedSpeeds},
        {"maxframe_size", port.maxFrameSize},
        {"fabric_name", port.fabricName},
        {"supported_classes", "Class 3"},
        {"symbolic_name", port.symbolicName.empty() ? "fcoe v0.1 over " + port.netdev : port.symbolicName},
    };
    for (const auto& [name, value] : files) Write(host / name, value + "\n");
    Write(host / "supported_fc4s", kFc4Types);
    Write(host / "active_fc4s", kFc4Types);
    std::int64_t value = port.firstStatistic;
    for (const char* name : kStatistics) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%llx\n", static_cast<unsigned long long>(value++));
        Write(host / "statistics" / name, text);
    }
    Link(host, root_ / "class/fc_host" / hostName);
    return host;
}

std::vector<std::string> FcHostTree::FcHostOrder() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(root_ / "class/fc_host"))
        names.push_back(entry.path().filename().string());
    return names;
}

fs::path FixedPciIds() { return HBAFW_SIM_PCI_IDS; }

void InstallFixedPciIds(const fs::path& machineUsr) {
    fs::path misc = machineUsr / "share/misc";
    fs::create_directories(misc);
    fs::copy_file(FixedPciIds(), misc / "pci.ids", fs::copy_options::overwrite_existing);
    // libpciaccess tries the compressed name first and zlib reads plain text
    // through it, so a host's own pci.ids.gz is covered by the same copy.
    fs::copy_file(FixedPciIds(), misc / "pci.ids.gz", fs::copy_options::overwrite_existing);
}

std::string HbaConf(const std::vector<std::pair<std::string, std::string>>& libraries) {
    std::string text;
    for (const auto& [name, path] : libraries) text += name + "\t" + path + "\n";
    return text;
}

std::string LibhbalinuxUnavailable() {
    std::error_code error;
    if (!fs::exists(kLibhbalinuxPath, error))
        return std::string(kLibhbalinuxPath) + " is missing (install the Debian package libhbalinux2)";
    void* handle = ::dlopen(kLibhbalinuxPath, RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) return std::string(kLibhbalinuxPath) + " does not load: " + ::dlerror();
    bool registers = ::dlsym(handle, "HBA_RegisterLibrary") != nullptr;
    ::dlclose(handle);
    return registers ? "" : std::string(kLibhbalinuxPath) + " exports no HBA_RegisterLibrary";
}

}  // namespace hbafw::sim
