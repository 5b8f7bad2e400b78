// Every file of a machine is written here and nowhere else, the description's
// own in the formats of sim/machine_files.h. Owners and modes come last, so a file made
// unprivileged or read-only is not written again afterwards. A description may
// come from a capture another machine wrote, so every path in it is confined to
// the machine folder, which is reached once, through its folder handle.
#include "sim/lay.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "framework/child_process.h"
#include "framework/folder_handle.h"
#include "sim/machine_files.h"
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

// A path of the description, refused unless it stays below the machine folder.
fs::path Confined(const std::string& relative) {
    fs::path path(relative);
    bool leaves = relative.empty() || path.is_absolute();
    for (const fs::path& name : path) leaves = leaves || name == "..";
    if (leaves) throw std::runtime_error("refusing " + relative + ": it leaves the machine folder");
    return path;
}

}  // namespace

void Lay(const MachineDescription& d, const fs::path& folder) {
    FolderHandle handle = FolderHandle::Make(fs::absolute(folder).string());
    if (!handle.valid())
        throw std::runtime_error("cannot lay a machine in " + folder.string() +
                                 ": it cannot be made, or a link or another user's folder is on its way");
    // The kernel resolves this to the folder opened above, whatever becomes of its name.
    const fs::path root = "/proc/self/fd/" + std::to_string(handle.fd());
    for (const char* folder : {"etc", "sim", "var/vkx", "work"}) fs::create_directories(root / folder);
    for (const auto& [relative, text] : MachineFiles(d)) Write(root / Confined(relative), text);
    for (const LaidLibrary& library : d.libraries)
        if (library.variant != kNoLibrary)
            InstallVendorLibrary(root / Confined(fs::path(library.path).relative_path().string()), library.variant);
    if (!d.adapters.empty() || !d.elxflash.adapters.empty() || d.sysfsFiller > 0 || !d.unlistedPci.empty()) {
        SysfsTree tree(root / "sys");
        tree.AddFiller(d.sysfsFiller);
        for (const PciFunction& function : d.unlistedPci) tree.AddAdapter(function);
        for (const SimulatedAdapter& adapter : d.adapters) tree.AddAdapter(adapter.pci);
        for (std::size_t i = 0; i < d.elxflash.adapters.size(); ++i)
            tree.AddAdapter(KitPciFunction(d.elxflash.adapters[i], i));
    }
    if (!d.fcoePorts.empty()) {
        FcHostTree tree(root / "sys");
        for (const FcoePort& port : d.fcoePorts) tree.Add(port);
        InstallFixedPciIds(root / "usr");
    }

    const fs::path tools = HBAFW_SIM_TOOLS_DIR;
    for (const ToolEntry& tool : Tools()) {
        if (!StateOf(tool, d).installed) continue;
        for (const ToolProgram& program : tool.programs)
            Copy(tools / program.file, root / "work" / program.file, program.executable ? kExecutable : fs::perms::none);
        if (!tool.zippedKit) continue;
        const fs::path kit = HBAFW_SIM_KIT;
        if (d.elxflash.scriptLink.empty())
            Copy(kit, root / "work" / kit.filename());
        else
            // zip runs in a child, which does not hold the handle: the kit is test scaffolding.
            ZipKitWithLinkedScript(fs::absolute(folder) / "work" / kit.filename(), d.elxflash.scriptLink,
                                   fs::absolute(folder) / "sim/kit-build");
    }

    if (d.log == LogFolder::Unwritable) Write(root / "sim/log-unwritable", "");
    if (d.log == LogFolder::Full) Write(root / "sim/log-full", "");
    for (const auto& [relative, text] : d.files) Write(root / Confined(relative), text);

    for (const FileAttributes& a : d.attributes) {
        fs::path path = root / Confined(a.path);
        if (a.mode) fs::permissions(path, *a.mode);
        if ((a.owner || a.group) && lchown(path.c_str(), a.owner.value_or(-1), a.group.value_or(-1)) != 0)
            throw std::system_error(errno, std::generic_category(), "chown " + path.string());
    }
}

}  // namespace hbafw::sim
