// End-to-end runs of the three vendor builds on their preset machines (sim/machines),
// changed per row: exact console, log, tool calls and exit code of discovery,
// flash and every way the flash engine can end, and the discovery report.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

struct Vendor {
    const char* build;
    const char* preset;
    const char* tool;  // its folder under sim/
    std::string toolOutput;
};

const Vendor kQLogic{"hbafw-qlogic", "qlogic", "qlafwupdate", kQlafwupdateOutput};
const Vendor kEmulex{"hbafw-emulex", "emulex", "elxflash",
                     "elxflash: updating adapters (stdout)\nelxflash: progress (stderr)\nelxflash: trace (fd 3)\n"};
const Vendor kBrocade{"hbafw-brocade", "brocade", "bcu",
                      "bcu_bootupdate: updating boot code (stdout)\nbcu_bootupdate: progress (stderr)\n"
                      "bcu_bootupdate: trace (fd 3)\n"};

struct Flow {
    const char* name;
    const Vendor* vendor;
    std::vector<std::string> settings = {};  // sim/mkmachine's KEY=VALUE
    std::vector<std::string> arguments = {};
    // After discovery: the console (none with /s), and the log with the
    // tool's output after the Executing line unless it is silent or missing.
    std::string output;
    int exitCode;
    std::string calls = "";                // the tool's arguments, one line per flash
    std::vector<std::string> report = {};  // in the /d report, in this order
    void (*adjust)(sim::MachineDescription&) = nullptr;
    bool moreFollows = false;  // unzip's own words follow, which vary by version
    bool silentToo = false;    // run again with /s: nothing on the console, the same exit code
    bool endsBeforeRun = false;  // output is the whole console, and no log is made
};

std::string Executing(const std::string& command) { return kFlashing + "Executing flash engine: " + command + "\n"; }
std::string Ended(int code, int result) {
    return "Flash Engine exit code: " + std::to_string(code) + "\nFlash complete [" + std::to_string(result) + "]\n";
}
std::string QLogicEnding(int code, int result) { return Executing("./qlafwupdate") + Ended(code, result); }
const std::string kPrepared = "Preparing the Emulex Kit...done\n";
std::string Emulex(const std::string& mode) {
    return kPrepared + Executing("./elxflashStandalone*/lx/elxflash.sh /sysfs " + mode +
                     "1>> /var/vkx/Component.log 2>> /var/vkx/Component.log 3>> /var/vkx/Component.log");
}
const std::string kBcu = Executing("./bcu_bootupdate boot --update bfa_boot_fw -a");
const std::string kNothingDone = "NOTICE : No operation was done.\n";
const std::string kNotStarted = "ERROR! : The flash engine could not be started.\nFlash complete [7]\n";
const std::string kReported = "Generating self-discovery XML...done.\n";
const std::string kEmulexSuccess = "Flash Engine exit code: 0\nAll updates were successful.  Reboot needed.\n";
const std::string kKilled = "ERROR! : The flash engine was ended by signal ";
const std::string kEmulexCurrent = "image.0=US2.02A1", kLPe16002Current = "image.1=12.0.346.48";
const std::string kKitMissing =
    "Preparing the Emulex Kit...FAILED!\nERROR! : No Emulex kit (elxflashStandalone*.zip) in the working folder.\n";
const std::string kKitCorrupt =
    "Preparing the Emulex Kit...FAILED!\n"
    "ERROR! : The Emulex kit could not be unpacked: elxflashStandalone-sim-12.0.zip, unzip exit code 9.\n";
const std::string kKitFoldersRefused = "Preparing the Emulex Kit...FAILED!\n"
                                       "ERROR! : The Emulex kit could not be unpacked: no private folder in /var/vkx/kits.\n";
void OlderKit(sim::MachineDescription& d) {
    d.files = {{"work/elxflashStandalone-0.9/lx/elxflash.sh", "#!/bin/sh\necho old kit; exit 0\n"}};
    d.attributes = {{.path = d.files[0].first, .mode = std::filesystem::perms(0755)}};
}
void CorruptKit(sim::MachineDescription& d) { d.files = {{"work/elxflashStandalone-sim-12.0.zip", "not a zip\n"}}; }

// A QLogic flash whose engine ends the given way.
Flow Engine(const char* name, const std::string& mode, int code, int result) {
    return {.name = name, .vendor = &kQLogic, .settings = {"flash=" + mode}, .output = QLogicEnding(code, result),
            .exitCode = result, .calls = "\n"};
}

const Flow kFlows[] = {
    // The QLE2562 runs 2.02 and needs 3.10; the QLE2672 runs the catalogue's 3.28.
    {.name = "QLogicUpgradeIsFlashed", .vendor = &kQLogic, .output = QLogicEnding(0, 1), .exitCode = 1, .calls = "\n"},
    {.name = "QLogicRewriteOnly", .vendor = &kQLogic, .settings = {"image.0=3.10"},
     .output = kNothingDone, .exitCode = 3},
    {.name = "QLogicDowngradeOnly", .vendor = &kQLogic, .settings = {"image.0=4.00"},
     .output = kNothingDone, .exitCode = 3},
    {.name = "QLogicForcedDowngrade", .vendor = &kQLogic, .settings = {"image.0=4.00"}, .arguments = {"/f"},
     .output = Executing("./qlafwupdate /f") + Ended(0, 1), .exitCode = 1, .calls = "/f\n"},
    {.name = "QLogicUpperCaseForceIgnored", .vendor = &kQLogic, .settings = {"image.0=4.00"}, .arguments = {"/F"},
     .output = kNothingDone, .exitCode = 3},
    // The first thing a Linux user types, with an upgrade pending.
    {.name = "QLogicLongHelpFlashesNothing", .vendor = &kQLogic, .arguments = {"--help"},
     .output = kUsage, .exitCode = 3, .endsBeforeRun = true},
    {.name = "QLogicSilentRunLogsEverything", .vendor = &kQLogic, .arguments = {"/s", "/f"},
     .output = Executing("./qlafwupdate /s /f") + Ended(0, 1), .exitCode = 1, .calls = "/s /f\n"},
    // Every way the engine can end; exit 0 is the first row's.
    Engine("QLogicEngineExit201", "exit 201", 201, 1),
    Engine("QLogicEngineExit255", "exit 255", 255, 1),
    Engine("QLogicEngineExit1", "exit 1", 1, 3),
    Engine("QLogicEngineExit2", "exit 2", 2, 7),
    Engine("QLogicEngineExit10", "exit 10", 10, 7),
    Engine("QLogicEngineExit11", "exit 11", 11, 11),
    Engine("QLogicEngineExit12", "exit 12", 12, 12),
    Engine("QLogicEngineExit14", "exit 14", 14, 7),
    Engine("QLogicEngineExit15", "exit 15", 15, 15),
    Engine("QLogicEngineExit17", "exit 17", 17, 7),
    Engine("QLogicEngineExit18", "exit 18", 18, 18),
    {.name = "QLogicEngineKilled", .vendor = &kQLogic, .settings = {"flash=signal KILL"},
     .output = Executing("./qlafwupdate") + kKilled + "9.\nFlash complete [7]\n", .exitCode = 7, .calls = "\n"},
    Engine("QLogicEngineSilent", "silent", 0, 1),
    Engine("QLogicEngineHangsAWhile", "hang 1", 0, 1),
    // Without the tool no active version is known, so every item is an
    // upgrade; the engine that cannot start is the component's failure.
    {.name = "QLogicMissingToolIsNotSuccess", .vendor = &kQLogic, .settings = {"tools=none"},
     .output = Executing("./qlafwupdate") + kNotStarted, .exitCode = 7},
    {.name = "QLogicDiscoveryReport", .vendor = &kQLogic, .arguments = {"/d", "report.xml"},
     .output = kReported, .exitCode = 3,
     .report = {"<type value=\"QLogic Fibre Channel HBA\"/>", "<device_id value=\"1077.2532.1077.015d\"/>",
                "<product_id value=\"QLE2562 8Gb Dual Port FC HBA\"/>", "<type value=\"Multiboot Image\"/>",
                "<active_version value=\"2.02\"/>", "<action value=\"upgrade\"/>", "<shared value=\"no\"/>",
                "<device_id value=\"1077.2031.1077.0170\"/>", "<active_version value=\"3.28\"/>",
                "<action value=\"rewrite\"/>"}},

    // The LPe12002 runs 2.01A1 and needs 2.02A1; the LPe16002 is kept current.
    {.name = "EmulexUpgradeFlashed", .vendor = &kEmulex, .settings = {kLPe16002Current},
     .output = Emulex(" /update ") + kEmulexSuccess + "Flash complete [1]\n", .exitCode = 1,
     .calls = "/sysfs /update\n", .silentToo = true},
    {.name = "EmulexNothingToDo", .vendor = &kEmulex, .settings = {kEmulexCurrent, kLPe16002Current},
     .output = kPrepared + kNothingDone, .exitCode = 3, .silentToo = true},
    {.name = "EmulexForcedAndFailing", .vendor = &kEmulex,
     .settings = {kEmulexCurrent, kLPe16002Current, "flash=exit 3"}, .arguments = {"/f"},
     .output = Emulex(" /f ") + "Flash Engine exit code: 3\nAll updates failed.\nFlash complete [7]\n", .exitCode = 7,
     .calls = "/sysfs /f\n", .silentToo = true},
    // Not a stop signal: those are kept from the engine during the flash.
    {.name = "EmulexKilled", .vendor = &kEmulex, .settings = {kLPe16002Current, "flash=signal USR1"},
     .output = Emulex(" /update ") + kKilled + "10.\nFlash complete [7]\n", .exitCode = 7, .calls = "/sysfs /update\n",
     .silentToo = true},
    // An earlier package's unpacked kit is never run in place of this one.
    {.name = "EmulexOlderKitBesideIt", .vendor = &kEmulex, .settings = {kLPe16002Current},
     .output = Emulex(" /update ") + kEmulexSuccess + "Flash complete [1]\n", .exitCode = 1,
     .calls = "/sysfs /update\n", .adjust = OlderKit, .silentToo = true},
    // A missing or corrupt kit is a failure, not "nothing to do", and the log says why.
    {.name = "EmulexMissingKit", .vendor = &kEmulex, .settings = {"tools=none"}, .arguments = {"/f"},
     .output = kKitMissing, .exitCode = 7},
    // A link in the kit is refused before anything behind it is changed or run.
    {.name = "EmulexKitScriptIsALink", .vendor = &kEmulex, .settings = {"kit.link=/etc/hbafw-sim/elxflash/flash"},
     .output = "Preparing the Emulex Kit...FAILED!\nERROR! : Refusing to run ", .exitCode = 7, .moreFollows = true},
    {.name = "EmulexCorruptKit", .vendor = &kEmulex, .output = kKitCorrupt, .exitCode = 7, .adjust = CorruptKit,
     .moreFollows = true, .silentToo = true},
    // The kit is unpacked only into a folder of root's alone, never the working folder.
    {.name = "EmulexKitFoldersOfAnotherUser", .vendor = &kEmulex,
     .settings = {"file.var/vkx/kits/stale=", "owner.var/vkx/kits=65534:65534"}, .output = kKitFoldersRefused,
     .exitCode = 7},
    // The LPe16002 is compared against its fixed version, whatever the catalogue says.
    {.name = "EmulexDiscoveryReport", .vendor = &kEmulex, .settings = {kEmulexCurrent, kLPe16002Current},
     .arguments = {"/d", "report.xml"}, .output = kPrepared + kReported, .exitCode = 3,
     .report = {"<type value=\"\"/>", "<device_id value=\"10DF.F100.10DF.F100\"/>",
                "<product_id value=\"LPe12002 8Gb Dual Port FC HBA\"/>", "<active_version value=\"2.02A1\"/>",
                "<action value=\"rewrite\"/>", "<type value=\"Boot BIOS ROM\"/>", "<active_version value=\"5.12A0\"/>",
                "<device_id value=\"10DF.E200.10DF.E200\"/>", "<version value=\"12.0.346.48\"/>"},
     .adjust =
         [](sim::MachineDescription& d) { d.catalogue->replace(d.catalogue->find("12.0.346.48"), 11, "ignored"); }},

    // The first 825 runs BIOS 3.0.3.2 and needs 3.2.0.0; the second runs 3.2.0.0.
    {.name = "BrocadeUpgradeFlashed", .vendor = &kBrocade, .settings = {"image.0=BIOS-3.0.3.2"},
     .output = kBcu + Ended(0, 1), .exitCode = 1, .calls = "boot --update bfa_boot_fw -a\n"},
    {.name = "BrocadeNothingToDo", .vendor = &kBrocade, .settings = {"image.0=3.2.0.0"},
     .output = kNothingDone, .exitCode = 3},
    // Each number whole: 10.1.0.0 is newer than the catalogue's 3.2.0.0, no upgrade.
    {.name = "BrocadeTenIsNewerThanThree", .vendor = &kBrocade, .settings = {"image.0=BIOS_10.1.0.0_(x86)"},
     .output = kNothingDone, .exitCode = 3},
    {.name = "BrocadeForcedFailing", .vendor = &kBrocade, .settings = {"image.0=3.2.0.0", "flash=exit 2"},
     .arguments = {"/f"}, .output = kBcu + Ended(2, 7), .exitCode = 7, .calls = "boot --update bfa_boot_fw -a\n"},
    {.name = "BrocadeKilled", .vendor = &kBrocade, .settings = {"image.0=3.0.0.0", "flash=signal KILL"},
     .output = kBcu + kKilled + "9.\nFlash complete [7]\n", .exitCode = 7, .calls = "boot --update bfa_boot_fw -a\n"},
    // The image is judged as found, like the tool: one others could rewrite is never flashed.
    {.name = "BrocadeImageOthersMayWrite", .vendor = &kBrocade,
     .settings = {"image.0=BIOS-3.0.3.2", "mode.work/bfa_boot_fw=666"},
     .output = kFlashing + "ERROR! : Refusing to flash ./bfa_boot_fw: it is a link or not a regular file, owned by "
                           "another user, or writable by group or others.\nFlash complete [7]\n",
     .exitCode = 7},
    {.name = "BrocadeMissingTool", .vendor = &kBrocade, .settings = {"tools=none"}, .output = kBcu + kNotStarted,
     .exitCode = 7},
    // The description format has no blanks, hence the underscores.
    {.name = "BrocadeDiscoveryReport", .vendor = &kBrocade, .arguments = {"/d", "report.xml"},
     .output = kReported, .exitCode = 3,
     .report = {"<type value=\"Brocade Fibre Channel HBA\"/>", "<device_id value=\"1657.0013.1657.0014\"/>",
                "<active_version value=\"3.0.3.2\"/>", "<action value=\"upgrade\"/>",
                "<active_version value=\"3.2.0.0\"/>", "<action value=\"rewrite\"/>"}},
};

// The output with what the tool printed after the Executing line, as the log has it.
std::string Logged(const Flow& row) {
    std::size_t executing = row.output.find("Executing flash engine: ");
    if (executing == std::string::npos) return row.output;
    auto set = [&row](const char* setting) { return std::ranges::count(row.settings, setting) > 0; };
    std::string log = row.output;
    if (set("flash=silent") || set("tools=none")) return log;
    return log.insert(log.find('\n', executing) + 1, row.vendor->toolOutput);
}

void PrintTo(const Flow& row, std::ostream* os) { *os << row.name; }

class VendorFlow : public SandboxTest, public ::testing::WithParamInterface<Flow> {};

TEST_P(VendorFlow, ConsoleLogCallsReportAndExitCode) {
    const Flow& row = GetParam();
    sim::MachineDescription description = sim::Preset(row.vendor->preset, row.settings);
    if (row.adjust) row.adjust(description);
    machine.Lay(description);

    sim::RunResult run = machine.RunBuild(row.vendor->build, row.arguments);

    bool silent = std::ranges::count(row.arguments, "/s") > 0;
    std::string console = silent ? "" : kUpToDiscovery + row.output, log = kUpToDiscovery + Logged(row);
    if (row.endsBeforeRun) console = row.output;
    EXPECT_EQ(row.moreFollows ? run.out.substr(0, console.size()) : run.out, console);
    if (row.endsBeforeRun) EXPECT_FALSE(machine.LogExists()) << machine.Log();
    else EXPECT_EQ(row.moreFollows ? machine.Log().substr(0, log.size()) : machine.Log(), log);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_EQ(sim::ToolCalls(machine, row.vendor->tool), row.calls);
    if (row.silentToo) {
        std::vector<std::string> silently = row.arguments;
        silently.push_back("/s");
        sim::RunResult again = machine.RunBuild(row.vendor->build, silently);
        EXPECT_EQ(again.out, "");
        EXPECT_EQ(again.exitCode, row.exitCode);
    }
    std::string report = machine.ReadFile("work/report.xml");
    std::size_t at = 0;
    for (const std::string& part : row.report) {
        at = report.find(part, at);
        if (at == std::string::npos) {
            ADD_FAILURE() << part << " not found in order in\n" << report;
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Presets, VendorFlow, ::testing::ValuesIn(kFlows),
                         [](const ::testing::TestParamInfo<Flow>& info) { return std::string(info.param.name); });

// An answer of nine lines per instance is read as one instance.
TEST_F(SandboxTest, QLogicNineLineQueryConsidersOneInstance) {
    sim::MachineDescription description = sim::Preset("qlogic");
    description.qlafwupdate.query =
        "HBA Instance: 0\nPort Name: 21-00-00-1b-32-0a-0b-0c\nFlash Image: 3.10\nx\ny\n"
        "HBA Instance: 1\nPort Name: 21-00-00-0e-1e-0a-0b-0d\nFlash Image: 3.28\nz\n";
    machine.Lay(description);
    RunQLogic({"/d", "report.xml"});
    std::string report = machine.ReadFile("work/report.xml");
    EXPECT_NE(report.find("<active_version value=\"3.10\"/>"), std::string::npos) << report;
    EXPECT_EQ(report.find("<active_version value=\"3.28\"/>"), std::string::npos) << report;
}

}  // namespace
}  // namespace hbafw::e2e
