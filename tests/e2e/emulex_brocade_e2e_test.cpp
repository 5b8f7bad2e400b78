// End-to-end runs of the Emulex and Brocade builds on their simulated machines:
// the kit or tool in the working folder, exact console, log and exit codes.
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/adapters.h"
#include "sim/sysfs_tree.h"
#include "sim/vendor_tools.h"
#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

const std::string kUpToDiscovery =
    std::string(51, '-') + "\nLoading references...done.\nPerforming discovery...\n";
const std::string kFlashing = "Performing flash -- DO NOT INTERRUPT!\n";

sim::RunResult RunBuild(const sim::Machine& m, const std::string& build, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {sim::BuildBinary(build)};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return m.Run(command);
}

// ---- Emulex ---------------------------------------------------------------

const std::string kEmulexCatalogue = R"(<orvane_fchba_reference><devices>
  <device><type value="Emulex FC HBA"/><device_id value="10df.f100.10df.f100"/><model value="LPe12002"/>
    <firmware value="2.02A1"/><bios value="5.12A0"/><duration value="300"/></device>
  <device><type value="Emulex FC HBA"/><device_id value="10df.e200.10df.e200"/><model value="LPe16002"/>
    <firmware value="ignored"/><bios value=""/><duration value="400"/></device>
</devices></orvane_fchba_reference>)";

const std::string kPrepared = "Preparing the Emulex Kit...done\n";
const std::string kEmulexTool = "elxflash: updating adapters (stdout)\nelxflash: progress (stderr)\nelxflash: trace (fd 3)\n";

void LayEmulex(const sim::Machine& m, const std::string& firmware, sim::EngineBehaviour flash = {}) {
    m.WriteFile("work/reference.xml", kEmulexCatalogue);
    sim::InstallEmulexKit(m,
                          {{"LPe12002-M8", "F100", "10DF", "F100", "10DF", "US" + firmware, "UU5.12A0"},
                           {"LPe16002-M6", "E200", "10DF", "E200", "10DF", "12.0.346.48", "US11.2.156.12"}},
                          flash);
}

std::string EmulexCommand(const std::string& mode) {
    return "./elxflashStandalone*/lx/elxflash.sh /sysfs " + mode +
           "1>> /var/vkx/Component.log 2>> /var/vkx/Component.log 3>> /var/vkx/Component.log";
}

TEST_F(SandboxTest, EmulexDiscoveryReport) {
    LayEmulex(machine, "2.02A1");
    sim::RunResult run = RunBuild(machine, "hbafw-emulex", {"/d", "report.xml"});
    EXPECT_EQ(run.out, kUpToDiscovery + kPrepared + "Generating self-discovery XML...done.\n");
    EXPECT_EQ(run.exitCode, 3);
    std::string report = machine.ReadFile("work/report.xml");
    for (const char* expected :
         {"<type value=\"\"/>", "<device_id value=\"10DF.F100.10DF.F100\"/>", "<product_id value=\"LPe12002\"/>",
          "<active_version value=\"2.02A1\"/>", "<action value=\"rewrite\"/>", "<type value=\"Boot BIOS ROM\"/>",
          "<active_version value=\"5.12A0\"/>", "<device_id value=\"10DF.E200.10DF.E200\"/>",
          "<version value=\"12.0.346.48\"/>"})
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
    EXPECT_EQ(machine.Log().find("Archive"), std::string::npos);  // unzip's chatter stays out
}

TEST_F(SandboxTest, EmulexRuns) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string firmware;
        std::string mode;
        std::string console;  // after the kit preparation
        std::string log;      // the same, with the tool's output where it ran
        int exitCode;
        std::string prepared = kPrepared;
        std::function<void(const sim::Machine&)> lay = [](const sim::Machine&) {};
    };
    const std::string ok = "All updates were successful.  Reboot needed.\n";
    const Row rows[] = {
        {"upgrade flashed", {}, "2.01A1", "exit 0",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") + "\nFlash Engine exit code: 0\n" + ok +
             "Flash complete [1]\n",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") + "\n" + kEmulexTool +
             "Flash Engine exit code: 0\n" + ok + "Flash complete [1]\n",
         1},
        {"nothing to do", {}, "2.02A1", "exit 0", "NOTICE : No operation was done.\n",
         "NOTICE : No operation was done.\n", 3},
        {"forced and failing", {"/f"}, "2.02A1", "exit 3",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /f ") + "\nFlash Engine exit code: 3\n" +
             "All updates failed.\nFlash complete [7]\n",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /f ") + "\n" + kEmulexTool +
             "Flash Engine exit code: 3\nAll updates failed.\nFlash complete [7]\n",
         7},
        // Not a stop signal: those are kept from the engine during the flash.
        {"killed", {}, "2.01A1", "signal USR1",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") +
             "\nERROR! : The flash engine was ended by signal 10.\nFlash complete [7]\n",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") + "\n" + kEmulexTool +
             "ERROR! : The flash engine was ended by signal 10.\nFlash complete [7]\n",
         7},
        // An earlier package's unpacked kit is never run in place of this one.
        {"older kit beside it", {}, "2.01A1", "exit 0",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") + "\nFlash Engine exit code: 0\n" + ok +
             "Flash complete [1]\n",
         kFlashing + "Executing flash engine: " + EmulexCommand(" /update ") + "\n" + kEmulexTool +
             "Flash Engine exit code: 0\n" + ok + "Flash complete [1]\n",
         1, kPrepared, [](const sim::Machine& m) {
             m.WriteFile("work/elxflashStandalone-0.9/lx/elxflash.sh", "#!/bin/sh\necho old kit; exit 0\n");
             chmod(m.Path("work/elxflashStandalone-0.9/lx/elxflash.sh").c_str(), 0755);
         }},
        // Not "nothing to do": the run fails and the log says why.
        {"corrupt kit", {}, "2.01A1", "exit 0", "", "", 7, "Preparing the Emulex Kit...FAILED!\n"
         "ERROR! : The Emulex kit could not be unpacked: elxflashStandalone-sim-12.0.zip, unzip exit code 9.\n",
         [](const sim::Machine& m) { m.WriteFile("work/elxflashStandalone-sim-12.0.zip", "not a zip\n"); }},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        LayEmulex(m, row.firmware, {row.mode});
        row.lay(m);
        sim::RunResult run = RunBuild(m, "hbafw-emulex", row.args);
        // A kit that failed is followed by unzip's own words, which vary by version.
        std::size_t whole = row.prepared == kPrepared ? std::string::npos : (kUpToDiscovery + row.prepared).size();
        EXPECT_EQ(run.out.substr(0, whole), kUpToDiscovery + row.prepared + row.console) << row.name;
        EXPECT_EQ(m.Log().substr(0, whole), kUpToDiscovery + row.prepared + row.log) << row.name;
        EXPECT_EQ(m.Log().find("old kit"), std::string::npos) << row.name;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
        sim::RunResult silent = RunBuild(m, "hbafw-emulex", [&] {
            auto a = row.args;
            a.push_back("/s");
            return a;
        }());
        EXPECT_EQ(silent.out, "") << row.name;
        EXPECT_EQ(silent.exitCode, row.exitCode) << row.name;
    }
}

// A missing kit is a failure, not "nothing to do".
TEST_F(SandboxTest, EmulexMissingKit) {
    machine.WriteFile("work/reference.xml", kEmulexCatalogue);
    sim::RunResult run = RunBuild(machine, "hbafw-emulex", {"/f"});
    EXPECT_EQ(run.out, kUpToDiscovery + "Preparing the Emulex Kit...FAILED!\n"
                       "ERROR! : No Emulex kit (elxflashStandalone*.zip) in the working folder.\n");
    EXPECT_EQ(run.exitCode, 7);
}

// ---- Brocade --------------------------------------------------------------

const std::string kBrocadeCatalogue = R"(<orvane_fchba_reference><devices>
  <device><type value="Brocade FC HBA"/><device_id value="1657.0013.1657.0014"/><model value="825"/>
    <bios value="3.2.0.0"/><duration value="200"/></device>
</devices></orvane_fchba_reference>)";

const std::string kBrocadeTool =
    "bcu_bootupdate: updating boot code (stdout)\nbcu_bootupdate: progress (stderr)\nbcu_bootupdate: trace (fd 3)\n";

void LayBrocade(const sim::Machine& m, const std::string& rom1, const std::string& rom2,
                sim::EngineBehaviour flash = {}) {
    std::vector<sim::SimulatedAdapter> adapters(2);
    const std::string roms[] = {rom1, rom2};
    for (int i = 0; i < 2; ++i) {
        adapters[i].name = "brocade-825-" + std::to_string(i);
        adapters[i].nodeWwn = "20:00:00:05:1E:00:00:0" + std::to_string(i);
        adapters[i].portWwns = {"10:00:00:05:1E:00:00:0" + std::to_string(i)};
        adapters[i].model = "825";
        adapters[i].optionRomVersion = roms[i];
        adapters[i].pci = {0, static_cast<std::uint8_t>(4 + i), 0, 0, 0x1657, 0x0013, 0x1657, 0x0014};
    }
    sim::SysfsTree tree(m.Path("sys"));
    for (const auto& a : adapters) tree.AddAdapter(a.pci);
    sim::InstallVendorLibrary(m.Path("usr/lib/bfahbaapi.so"));
    m.WriteFile("etc/hba.conf", "bfa /usr/lib/bfahbaapi.so\n");
    m.WriteFile("sim/adapters.conf", sim::Description(adapters));
    m.WriteFile("work/reference.xml", kBrocadeCatalogue);
    sim::InstallBcuBootupdate(m, flash);
}

TEST_F(SandboxTest, BrocadeDiscoveryReport) {
    LayBrocade(machine, "BIOS_3.0.3.2_(x86)", "3.2.0.0");  // the description format has no blanks
    sim::RunResult run = RunBuild(machine, "hbafw-brocade", {"/d", "report.xml"});
    EXPECT_EQ(run.out, kUpToDiscovery + "Generating self-discovery XML...done.\n");
    std::string report = machine.ReadFile("work/report.xml");
    for (const char* expected :
         {"<type value=\"Brocade FC HBA\"/>", "<device_id value=\"1657.0013.1657.0014\"/>",
          "<active_version value=\"3.0.3.2\"/>", "<action value=\"upgrade\"/>", "<active_version value=\"3.2.0.0\"/>",
          "<action value=\"rewrite\"/>"})
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
}

TEST_F(SandboxTest, BrocadeRuns) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string rom, mode, tail;
        int exitCode;
    };
    const std::string exec = kFlashing + "Executing flash engine: ./bcu_bootupdate boot --update bfa_boot_fw -a\n";
    const Row rows[] = {
        {"upgrade flashed", {}, "BIOS-3.0.3.2", "exit 0", exec + "Flash Engine exit code: 0\nFlash complete [1]\n", 1},
        {"nothing to do", {}, "3.2.0.0", "exit 0", "NOTICE : No operation was done.\n", 3},
        {"forced, failing", {"/f"}, "3.2.0.0", "exit 2", exec + "Flash Engine exit code: 2\nFlash complete [7]\n", 7},
        {"killed", {}, "3.0.0.0", "signal KILL",
         exec + "ERROR! : The flash engine was ended by signal 9.\nFlash complete [7]\n", 7},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        LayBrocade(m, row.rom, "3.2.0.0", {row.mode});
        sim::RunResult run = RunBuild(m, "hbafw-brocade", row.args);
        EXPECT_EQ(run.out, kUpToDiscovery + row.tail) << row.name;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
        bool ran = row.tail.find("Executing") != std::string::npos;
        EXPECT_EQ(sim::ToolCalls(m, "bcu"), ran ? "boot --update bfa_boot_fw -a\n" : "") << row.name;
        EXPECT_EQ(m.Log().find(kBrocadeTool) != std::string::npos, ran) << row.name;
    }
}

// A missing engine is the component's failure, not an engine's status 127.
TEST_F(SandboxTest, BrocadeMissingTool) {
    LayBrocade(machine, "1.0.0.0", "1.0.0.0");
    std::filesystem::remove(machine.Path("work/bcu_bootupdate"));
    sim::RunResult run = RunBuild(machine, "hbafw-brocade", {});
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_NE(run.out.find("ERROR! : The flash engine could not be started.\nFlash complete [7]\n"), std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace hbafw::e2e
