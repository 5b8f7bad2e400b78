// The machine builder without the sandbox: each setting's effect or error
// text, and presets read and laid again byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/lay.h"
#include "sim/machine.h"
#include "sim/machine_files.h"

namespace hbafw::sim {
namespace {

struct SettingRow {
    const char* preset;
    std::string setting;
    std::string error = "";
    // What the applied setting must have changed.
    bool (*changed)(const MachineDescription&) = nullptr;
};

const SettingRow kSettings[] = {
    {"qlogic", "adapters=1", "", [](const MachineDescription& d) {
         return d.adapters.size() == 1 && d.qlafwupdate.instances.size() == 1 && d.qlafwupdate.flashed.size() == 1;
     }},
    {"qlogic", "adapters=one", "adapters wants a count"},
    {"qlogic", "image.1=4.00", "", [](const MachineDescription& d) {
         return d.qlafwupdate.instances[1].flashImage == "4.00" && d.adapters[1].optionRomVersion == "3.28";
     }},
    {"brocade", "image.0=3.2.0.0", "",
     [](const MachineDescription& d) { return d.adapters[0].optionRomVersion == "3.2.0.0"; }},
    {"emulex", "image.1=US1", "", [](const MachineDescription& d) { return d.elxflash.adapters[1].firmware == "US1"; }},
    {"qlogic", "image.2=4.00", "no adapter 2"},
    {"qlogic", "image.x=4.00", "image.N wants an adapter number"},
    {"emulex", "flashed.0=US3", "", [](const MachineDescription& d) {
         return d.elxflash.flashed.size() == 2 && d.elxflash.flashed[0].firmware == "US3";
     }},
    {"brocade", "flashed.0=3.3", "no adapter 0 with a flashed image"},
    {"qlogic+brocade", "flash=exit 7", "", [](const MachineDescription& d) {
         return d.qlafwupdate.flash == "exit 7" && d.bcu.flash == "exit 7" && d.elxflash.flash == "exit 7";
     }},
    {"qlogic+emulex", "tools=none", "",
     [](const MachineDescription& d) { return !d.qlafwupdate.installed && !d.elxflash.installed; }},
    {"qlogic", "tools=all", "tools takes none"},
    {"emulex", "kit.link=/etc/passwd", "",
     [](const MachineDescription& d) { return d.elxflash.scriptLink == "/etc/passwd"; }},
    {"qlogic", "kit.link=/etc/passwd", "kit.link wants the Emulex kit"},
    {"qlogic", "fault=load-fails library=libqlsdm.so", "",
     [](const MachineDescription& d) { return d.faults == std::vector<std::string>{"load-fails library=libqlsdm.so"}; }},
    {"qlogic", "filler=12", "", [](const MachineDescription& d) { return d.sysfsFiller == 12; }},
    {"qlogic", "filler=-1", "filler wants a count"},
    {"qlogic", "release.SuSE-release=SLES 12", "", [](const MachineDescription& d) {
         return d.releases.size() == 1 && d.releases[0].first == "SuSE-release" && d.releases[0].second == "SLES 12\n";
     }},
    {"qlogic", "release.os-release=Debian", "no release file os-release"},
    {"qlogic", "release=none", "", [](const MachineDescription& d) { return d.releases.empty(); }},
    {"qlogic", "release=gone", "release takes none (release.FILE=TEXT sets one)"},
    {"qlogic", "log=full", "", [](const MachineDescription& d) { return d.log == LogFolder::Full; }},
    {"qlogic", "log=readonly", "log is writable, unwritable or full"},
    {"qlogic", "file.var/vkx/old=a=b", "", [](const MachineDescription& d) {
         return d.files.size() == 1 && d.files[0].first == "var/vkx/old" && d.files[0].second == "a=b";
     }},
    {"qlogic", "file./etc/passwd=x", "file.PATH wants a path inside the machine folder"},
    {"qlogic", "file.work/../../x=x", "file.PATH wants a path inside the machine folder"},
    {"qlogic", "owner.work/qlafwupdate=65534:65534", "",
     [](const MachineDescription& d) { return d.attributes.size() == 1 && d.attributes[0].owner == 65534u; }},
    {"qlogic", "owner.work/qlafwupdate=nobody", "owner.PATH wants UID:GID"},
    {"qlogic", "mode.work/qlafwupdate=777", "", [](const MachineDescription& d) {
         return d.attributes.size() == 1 && d.attributes[0].mode == std::filesystem::perms(0777);
     }},
    {"qlogic", "mode.work/qlafwupdate=9", "mode.PATH wants an octal mode"},
    {"qlogic", "library./usr/lib/libqlsdm.so=none", "",
     [](const MachineDescription& d) { return d.libraries.size() == 1 && d.libraries[0].variant == "none"; }},
    {"qlogic", "library./usr/lib64/libqlsdm.so=none", "no library /usr/lib64/libqlsdm.so in hba.conf"},
    {"qlogic", "colour=red", "unknown setting colour"},
    {"qlogic", "adapters", "a setting is KEY=VALUE, not adapters"},
};

TEST(Settings, ChangeTheDescriptionOrSayWhyNot) {
    for (const SettingRow& row : kSettings) {
        MachineDescription description = Preset(row.preset);
        EXPECT_EQ(Set(description, row.setting), row.error) << row.preset << " " << row.setting;
        if (row.changed) {
            EXPECT_TRUE(row.changed(description)) << row.preset << " " << row.setting;
        }
    }
}

TEST(Settings, ABadOneStopsThePreset) {
    EXPECT_THROW(Preset("qlogic", {"adapters=1", "colour=red"}), std::invalid_argument);
    EXPECT_THROW(Preset("nosuch"), std::runtime_error);
}

// A preset lays out every file its folder holds, byte for byte.
TEST(Presets, LayOutWhatTheirFolderHolds) {
    for (const char* name : {"qlogic", "emulex", "brocade"}) {
        sim::Machine laid;
        laid.Lay(sim::Preset(name));
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(sim::PresetFolder(name))) {
            if (!entry.is_regular_file()) continue;
            std::string relative = std::filesystem::relative(entry.path(), sim::PresetFolder(name)).string();
            std::ifstream file(entry.path(), std::ios::binary);
            EXPECT_EQ(laid.ReadFile(relative), std::string(std::istreambuf_iterator<char>(file), {}))
                << name << ": " << relative;
            ++files;
        }
        EXPECT_GE(files, 4u) << name;
    }
}

// A captured folder is read as a preset; a library the server lacked stays unlaid.
TEST(Presets, ACaptureIsReadAsAPreset) {
    sim::Machine captured;
    for (const auto& [relative, text] :
         MachineFiles(Preset("brocade", {"library./usr/lib/bfahbaapi.so=none", "fault=load-fails"})))
        captured.WriteFile(relative, text);
    MachineDescription twin = Preset("capture:" + captured.root().string());
    EXPECT_EQ(twin.libraries[0].variant, "none");
    EXPECT_EQ(twin.faults, std::vector<std::string>{"load-fails"});
    EXPECT_TRUE(twin.bcu.installed);
    sim::Machine laid;
    laid.Lay(twin);
    EXPECT_FALSE(laid.Exists("usr/lib/bfahbaapi.so"));
    EXPECT_EQ(laid.ReadFile("sim/libraries"), "/usr/lib/bfahbaapi.so none\n");

    // A tampered capture names a library outside the twin's folder.
    captured.WriteFile("etc/hba.conf", "com.brocade-BFA /usr/../../../escaped.so\n");
    sim::Machine escaping;
    EXPECT_THROW(escaping.Lay(Preset("capture:" + captured.root().string())), std::runtime_error);
    EXPECT_FALSE(std::filesystem::exists(escaping.root().parent_path().parent_path() / "escaped.so"));

    captured.WriteFile("sim/notes", "not a machine's\n");
    EXPECT_THROW(Preset("capture:" + captured.root().string()), std::runtime_error);
}

}  // namespace
}  // namespace hbafw::sim
