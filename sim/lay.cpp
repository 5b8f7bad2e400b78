// Every file of a machine is written here and nowhere else, in the formats
// sim/description.cpp reads back. Owners and modes come last, so a file made
// unprivileged or read-only is not written again afterwards.
#include "sim/lay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "framework/child_process.h"
#include "sim/sysfs_tree.h"

namespace hbafw::sim {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kKitBus = 0x40;
constexpr fs::perms kExecutable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

void Copy(const fs::path& source, const fs::path& target, fs::perms mode = fs::perms::none) {
    fs::create_directories(target.parent_path());
    fs::copy_file(source, target, fs::copy_options::overwrite_existing);
    if (mode != fs::perms::none) fs::permissions(target, mode);
}

std::string InstanceLines(const std::vector<QLogicInstance>& instances) {
    std::string text;
    for (const QLogicInstance& i : instances) text += i.portWwn + " " + i.flashImage + "\n";
    return text;
}

std::string KitLines(const std::vector<EmulexAdapter>& adapters) {
    std::string text;
    for (const EmulexAdapter& a : adapters)
        text += a.model + " " + a.pciId + " " + a.vendorId + " " + a.subsystemId + " " + a.subsystemVendorId + " " +
                a.firmware + " " + a.bootCode + "\n";
    return text;
}

// The kit's adapters have no library line, so their PCI identity comes from
// the kit's own ids, on buses no library adapter of a preset uses.
PciFunction KitPciFunction(const EmulexAdapter& a, std::size_t index) {
    auto hex = [](const std::string& text) {
        return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16));
    };
    return {.domain = 0, .bus = static_cast<std::uint8_t>(kKitBus + index), .device = 0, .function = 0,
            .vendorId = hex(a.vendorId), .deviceId = hex(a.pciId), .subsystemVendor = hex(a.subsystemVendorId),
            .subsystemDevice = hex(a.subsystemId)};
}

// The kit zipped again with its script as a link, as a hostile kit could hold it.
void ZipKitWithLinkedScript(const fs::path& kit, const std::string& target, const fs::path& scratch) {
    fs::path folder = scratch / kit.stem() / "lx";
    fs::create_directories(folder);
    fs::create_symlink(target, folder / "elxflash.sh");
    int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t zip = StartProgram({"/bin/sh", "-c", "cd \"$1\" && exec zip -q -r -y \"$2\" \"$3\"", "sh",
                              scratch.string(), fs::absolute(kit).string(), kit.stem().string()},
                             null, null, null);
    int status = -1;
    bool zipped = zip > 0 && WaitForChild(zip, status) && status == 0;
    close(null);
    fs::remove_all(scratch);
    if (!zipped) throw std::runtime_error("cannot zip " + kit.string());
}

void LayToolState(const ToolState& tool, const fs::path& state) {
    Write(state / "flash", tool.flash + "\n");
    if (tool.query) Write(state / "query", *tool.query);
}

}  // namespace

void Lay(const MachineDescription& d, const fs::path& root) {
    for (const char* folder : {"etc", "sim", "var/vkx", "work"}) fs::create_directories(root / folder);
    for (const auto& [name, text] : d.releases) Write(root / "etc" / name, text);
    if (d.hbaConf) Write(root / "etc/hba.conf", *d.hbaConf);
    for (const LaidLibrary& library : d.libraries)
        InstallVendorLibrary(root / fs::path(library.path).relative_path(), library.variant);
    if (!d.adapters.empty() || !d.faults.empty()) Write(root / "sim/adapters.conf", Description(d.adapters, d.faults));
    if (!d.adapters.empty() || !d.elxflash.adapters.empty() || d.sysfsFiller > 0) {
        SysfsTree tree(root / "sys");
        tree.AddFiller(d.sysfsFiller);
        for (const SimulatedAdapter& adapter : d.adapters) tree.AddAdapter(adapter.pci);
        for (std::size_t i = 0; i < d.elxflash.adapters.size(); ++i)
            tree.AddAdapter(KitPciFunction(d.elxflash.adapters[i], i));
    }
    if (!d.fcoePorts.empty()) {
        FcHostTree tree(root / "sys");
        for (const FcoePort& port : d.fcoePorts) tree.Add(port);
        InstallFixedPciIds(root / "usr");
    }
    if (d.catalogue) Write(root / "work/reference.xml", *d.catalogue);

    const fs::path tools = HBAFW_SIM_TOOLS_DIR;
    if (d.qlafwupdate.installed) {
        Copy(tools / "qlafwupdate", root / "work/qlafwupdate", kExecutable);
        LayToolState(d.qlafwupdate, root / "sim/qlafwupdate");
        Write(root / "sim/qlafwupdate/instances", InstanceLines(d.qlafwupdate.instances));
        if (!d.qlafwupdate.flashed.empty())
            Write(root / "sim/qlafwupdate/flashed", InstanceLines(d.qlafwupdate.flashed));
    }
    if (d.elxflash.installed) {
        const fs::path kit = HBAFW_SIM_KIT;
        if (d.elxflash.scriptLink.empty())
            Copy(kit, root / "work" / kit.filename());
        else
            ZipKitWithLinkedScript(root / "work" / kit.filename(), d.elxflash.scriptLink, root / "sim/kit-build");
        LayToolState(d.elxflash, root / "sim/elxflash");
        Write(root / "sim/elxflash/adapters", KitLines(d.elxflash.adapters));
        if (!d.elxflash.flashed.empty()) Write(root / "sim/elxflash/flashed", KitLines(d.elxflash.flashed));
    }
    if (d.bcu.installed) {
        Copy(tools / "bcu_bootupdate", root / "work/bcu_bootupdate", kExecutable);
        Copy(tools / "bfa_boot_fw", root / "work/bfa_boot_fw");
        LayToolState(d.bcu, root / "sim/bcu");
    }

    if (d.log == LogFolder::Unwritable) Write(root / "sim/log-unwritable", "");
    if (d.log == LogFolder::Full) Write(root / "sim/log-full", "");
    for (const auto& [relative, text] : d.files) Write(root / relative, text);

    for (const FileAttributes& a : d.attributes) {
        fs::path path = root / a.path;
        if (a.mode) fs::permissions(path, *a.mode);
        if ((a.owner || a.group) && lchown(path.c_str(), a.owner.value_or(-1), a.group.value_or(-1)) != 0)
            throw std::system_error(errno, std::generic_category(), "chown " + path.string());
    }
}

}  // namespace hbafw::sim
