// End-to-end runs of the adapter inventory: hbafw-qlogic /d and
// hbafw-inventory in the sandbox over machines with simulated adapters (sysfs
// tree, vendor library at the system's paths, hba.conf), checked on the
// console, the exit code, the inventory's XML and JSON, the vendor library's
// call log, and against each preset's vendor build's own discovery report.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

const std::string kReportDone = "Generating self-discovery XML...done.\n";
const std::string kNoAdapters = "WARNING! : No supported adapters found.\n";
const std::string kFailedStatus = "MRA get returned failed status!\n";

sim::SimulatedAdapter Card(const std::string& name, int n, sim::PciFunction pci, const std::string& libraries = {}) {
    char node[32], port[32];
    std::snprintf(node, sizeof node, "20:00:00:1B:32:0A:0B:%02X", n);
    std::snprintf(port, sizeof port, "21:00:00:1B:32:0A:0B:%02X", n);
    sim::SimulatedAdapter adapter;
    adapter.name = name;
    adapter.nodeWwn = node;
    adapter.portWwns = {port};
    adapter.pci = pci;
    adapter.libraries = libraries;
    return adapter;
}

const sim::PciFunction kBus5Fn0{0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
const sim::PciFunction kBus5Fn1{0, 5, 0, 1, 0x1077, 0x2532, 0x1077, 0x015c};
const sim::PciFunction kBus7Fn0{0, 7, 0, 0, 0x1077, 0x2031, 0x1077, 0x0170};

class InventoryE2e : public SandboxTest {
protected:
    void Lay(const std::vector<sim::SimulatedAdapter>& adapters, const std::vector<std::string>& libraries,
             const std::string& hbaConf, const std::vector<std::string>& faults = {}) {
        // The QLogic preset's catalogue, for the component's runs.
        sim::MachineDescription description{
            .adapters = adapters, .faults = faults, .sysfsFiller = 30, .catalogue = sim::Preset("qlogic").catalogue};
        if (!hbaConf.empty()) description.hbaConf = hbaConf;
        for (const std::string& library : libraries) {
            std::size_t colon = library.find(':');
            description.libraries.push_back({.path = library.substr(0, colon),
                                             .variant = colon == std::string::npos ? "full" : library.substr(colon + 1)});
        }
        machine.Lay(description);
    }
    sim::RunResult Inventory(const std::vector<std::string>& arguments = {"--xml"}) const {
        return machine.RunBuild("hbafw-inventory", arguments);
    }
    std::vector<std::string> Calls(const std::string& call) const {
        return sim::CallLines(machine.Path("sim/calls.log"), call);
    }
    void ExpectEverythingClosed() const {
        EXPECT_EQ(Calls("loaded").size(), Calls("unloaded").size());
        std::size_t opened = 0;
        for (const std::string& line : Calls("HBA_OpenAdapter")) opened += !line.ends_with(" = 0x0");
        EXPECT_EQ(opened, Calls("HBA_CloseAdapter").size());
        opened = 0;
        for (const std::string& line : Calls("VKXFC_OpenAdapter")) opened += !line.ends_with(" = 0x0");
        EXPECT_EQ(opened, Calls("VKXFC_CloseAdapter").size());
    }
};

struct Scenario {
    const char* name = "";
    std::vector<sim::SimulatedAdapter> adapters = {};
    std::vector<std::string> libraries = {};  // machine path, optionally ":variant"
    std::string hbaConf = {};                 // empty: no /etc/hba.conf
    std::vector<std::string> faults = {};
    // Expected
    std::string qlogicConsole = {};
    int qlogicExit = 0;
    std::vector<std::string> nodeWwns = {}, pciIds = {}, subsystemIds = {}, firmware = {};
    std::string libraryStatus = {};  // in the inventory XML, or empty
};

const Scenario kScenarios[] = {
    {.name = "OneAdapter",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "qla2xxx\t/usr/lib/libqlsdm.so\n",
     .qlogicConsole = kUpToDiscovery + kReportDone, .qlogicExit = 3,
     .nodeWwns = {"20:00:00:1B:32:0A:0B:01"}, .pciIds = {"10772532"}, .subsystemIds = {"1077015c"},
     .firmware = {"5.06.05"}, .libraryStatus = "loaded"},
    {.name = "TwoAdaptersOnOneLibrary",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0), Card("qlogic-QLE2672-0", 2, kBus7Fn0)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "qla2xxx /usr/lib/libqlsdm.so\n",
     .qlogicConsole = kUpToDiscovery + kReportDone, .qlogicExit = 3,
     .nodeWwns = {"20:00:00:1B:32:0A:0B:01", "20:00:00:1B:32:0A:0B:02"}, .pciIds = {"10772532", "10772031"},
     .subsystemIds = {"1077015c", "10770170"}, .firmware = {"5.06.05", "5.06.05"}, .libraryStatus = "loaded"},
    {.name = "AdaptersOnTwoLibrariesFoundThroughTheVendorLibrary",
     .adapters = {Card("qlogic-a", 1, kBus5Fn0, "qlhbaapi-a.so,libqlsdm.so"),
                  Card("qlogic-b", 2, kBus7Fn0, "qlhbaapi-b.so,libqlsdm.so")},
     .libraries = {"/usr/lib/libqlsdm.so", "/usr/lib/qlhbaapi-a.so", "/usr/lib64/qlhbaapi-b.so"},
     .hbaConf = "first /usr/lib/qlhbaapi-a.so\nsecond /usr/lib64/qlhbaapi-b.so\n",
     .qlogicConsole = kUpToDiscovery + kReportDone, .qlogicExit = 3,
     .nodeWwns = {"20:00:00:1B:32:0A:0B:01", "20:00:00:1B:32:0A:0B:02"}, .pciIds = {"10772532", "10772031"},
     .subsystemIds = {"1077015c", "10770170"}, .firmware = {"5.06.05", "5.06.05"}, .libraryStatus = "loaded"},
    {.name = "DualPortCardFunctionsDifferOnlyByFunction",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0), Card("qlogic-QLE2562-1", 2, kBus5Fn1)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "qla2xxx /usr/lib/libqlsdm.so\n",
     .qlogicConsole = kUpToDiscovery + kReportDone, .qlogicExit = 3,
     .nodeWwns = {"20:00:00:1B:32:0A:0B:01", "20:00:00:1B:32:0A:0B:02"}, .pciIds = {"10772532", "10772532"},
     .subsystemIds = {"1077015c", "1077015c"}, .firmware = {"5.06.05", "5.06.05"}, .libraryStatus = "loaded"},
    {.name = "AdapterWhoseOpenFails",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0), Card("qlogic-QLE2562-1", 2, kBus5Fn1)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "qla2xxx /usr/lib/libqlsdm.so\n",
     .faults = {"open-fails adapter=qlogic-QLE2562-0"},
     .qlogicConsole = kUpToDiscovery + kFailedStatus + kReportDone, .qlogicExit = 3,
     .nodeWwns = {"00:00:00:00:00:00:00:00", "20:00:00:1B:32:0A:0B:02"}, .pciIds = {"N/A", "10772532"},
     .subsystemIds = {"00000000", "1077015c"}, .firmware = {"Undefined", "5.06.05"}, .libraryStatus = "loaded"},
    {.name = "NoHbaConf",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "",
     .qlogicConsole = kUpToDiscovery + kNoAdapters, .qlogicExit = 7},
    {.name = "OnlyLibraryDoesNotLoad",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0)},
     .libraries = {"/usr/lib/libqlsdm.so:no_register"},
     .hbaConf = "qla2xxx /usr/lib/libqlsdm.so\n",
     .qlogicConsole = kUpToDiscovery + kNoAdapters, .qlogicExit = 7, .libraryStatus = "never loaded"},
    {.name = "OnlyLibraryFailsToStart",
     .adapters = {Card("qlogic-QLE2562-0", 1, kBus5Fn0)},
     .libraries = {"/usr/lib/libqlsdm.so"},
     .hbaConf = "qla2xxx /usr/lib/libqlsdm.so\n",
     .faults = {"load-fails"},
     .qlogicConsole = kUpToDiscovery + kNoAdapters, .qlogicExit = 7, .libraryStatus = "not loaded"},
};

class InventoryScenario : public InventoryE2e, public ::testing::WithParamInterface<Scenario> {};

TEST_P(InventoryScenario, ComponentAndDiagnosticSeeTheAdapters) {
    const Scenario& scenario = GetParam();
    Lay(scenario.adapters, scenario.libraries, scenario.hbaConf, scenario.faults);

    sim::RunResult qlogic = RunQLogic({"/d", "report.xml"});
    EXPECT_EQ(qlogic.exitCode, scenario.qlogicExit) << qlogic.err;
    EXPECT_EQ(qlogic.out, scenario.qlogicConsole);
    EXPECT_EQ(machine.Exists("work/report.xml"), scenario.qlogicExit == 3);
    ExpectEverythingClosed();

    sim::RunResult inventory = Inventory();
    EXPECT_EQ(inventory.exitCode, scenario.nodeWwns.empty() ? 3 : 0) << inventory.err;
    EXPECT_EQ(Elements(inventory.out, "nodeWwn"), scenario.nodeWwns);
    EXPECT_EQ(Elements(inventory.out, "pciId"), scenario.pciIds);
    EXPECT_EQ(Elements(inventory.out, "subsystemId"), scenario.subsystemIds);
    EXPECT_EQ(Elements(inventory.out, "firmwareVersion"), scenario.firmware);
    if (!scenario.libraryStatus.empty()) {
        EXPECT_NE(inventory.out.find("status=\"" + scenario.libraryStatus + "\""), std::string::npos) << inventory.out;
    }
    // In XML mode the failed-status line goes to standard error.
    EXPECT_EQ(inventory.err, scenario.qlogicConsole.find(kFailedStatus) != std::string::npos ? kFailedStatus : "");
    ExpectEverythingClosed();
}

INSTANTIATE_TEST_SUITE_P(Machines, InventoryScenario, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

TEST_F(InventoryE2e, TextFormShowsTheLibraryTableAndPorts) {
    sim::SimulatedAdapter card = Card("qlogic-QLE2562-0", 1, kBus5Fn0);
    card.portWwns.push_back("21:01:00:1B:32:0A:0B:01");
    Lay({card}, {"/usr/lib/libqlsdm.so"}, "qla2xxx\t/usr/lib/libqlsdm.so\nbroken /usr/lib/missing.so\n");
    sim::RunResult run = Inventory({});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* expected :
         {"  slot 0: qla2xxx  /usr/lib/libqlsdm.so  [loaded]\n", "  slot 1: broken  /usr/lib/missing.so  [never loaded]\n",
          "Adapter 0: qlogic-QLE2562-0\n", "  Serving library:    /usr/lib/libqlsdm.so\n",
          "  PCI id:             10772532\n", "  Model:              QLE2562\n", "  Ports:              2\n",
          "    Port 1: 21:01:00:1B:32:0A:0B:01  Online  8 GB\n"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
    EXPECT_EQ(Inventory({"--bogus"}).exitCode, 2);
}

// Every quoted value that follows prefix, in document order: JSON members
// ("name": ") and discovery report attributes (<name value=").
std::vector<std::string> QuotedAfter(const std::string& text, const std::string& prefix) {
    std::vector<std::string> values;
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
        std::size_t start = at + prefix.size();
        values.push_back(text.substr(start, text.find('"', start) - start));
    }
    return values;
}
std::vector<std::string> JsonMembers(const std::string& json, const std::string& name) {
    return QuotedAfter(json, "\"" + name + "\": \"");
}

struct PresetRow {
    const char* name = "";
    const char* preset = "";
    std::vector<std::string> settings = {};
    const char* build = "";
    // Expected
    int exitCode = 0;
    std::vector<std::string> adapterBuilds = {};  // per adapter the HBA API layer shows
    std::vector<std::string> actions = {};        // per firmware item the build decides
    bool discovered = true;
};

const PresetRow kPresetRows[] = {
    {.name = "QLogic", .preset = "qlogic", .build = "hbafw-qlogic",
     .adapterBuilds = {"hbafw-qlogic", "hbafw-qlogic"}, .actions = {"upgrade", "rewrite"}},
    // The active image is the tool's answer, not the library's option ROM text.
    {.name = "QLogicImageFromTheTool", .preset = "qlogic", .settings = {"image.0=3.10"}, .build = "hbafw-qlogic",
     .adapterBuilds = {"hbafw-qlogic", "hbafw-qlogic"}, .actions = {"rewrite", "rewrite"}},
    // Its adapters come from the kit alone, not the HBA API layer.
    {.name = "Emulex", .preset = "emulex", .build = "hbafw-emulex", .actions = {"upgrade", "rewrite", "upgrade"}},
    {.name = "Brocade", .preset = "brocade", .build = "hbafw-brocade",
     .adapterBuilds = {"hbafw-brocade", "hbafw-brocade"}, .actions = {"upgrade", "rewrite"}},
    {.name = "NoAdapter", .preset = "qlogic", .settings = {"adapters=0"}, .build = "hbafw-qlogic", .exitCode = 3,
     .discovered = false},
};

class InventoryPreset : public InventoryE2e, public ::testing::WithParamInterface<PresetRow> {};

TEST_P(InventoryPreset, JsonShowsWhatTheVendorBuildDecides) {
    const PresetRow& row = GetParam();
    machine.Lay(sim::Preset(row.preset, row.settings));
    auto workFolder = [this] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(machine.Path("work")))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = workFolder();
    sim::RunResult json = Inventory({"--json", "--catalogue", "reference.xml"});
    EXPECT_EQ(json.exitCode, row.exitCode) << json.err;
    EXPECT_EQ(json.out.rfind("{\n  \"schema_version\": 1,\n", 0), 0u) << json.out;
    // The adapters' builds, then the first build that ran, each build that
    // ran, and each item's build.
    EXPECT_EQ(JsonMembers(json.out, "build"),
              [&] {
                  std::vector<std::string> builds = row.adapterBuilds;
                  if (!row.discovered) return builds;
                  builds.insert(builds.end(), 2 + row.actions.size(), row.build);
                  return builds;
              }());
    EXPECT_EQ(JsonMembers(json.out, "action"), row.actions);
    EXPECT_NE(json.out.find(std::string("\"discovered\": ") + (row.discovered ? "true" : "false")), std::string::npos);
    // Read-only: no log, and the working folder as it was (no kit left unpacked).
    EXPECT_FALSE(machine.LogExists());
    EXPECT_EQ(workFolder(), before);

    sim::RunResult report = machine.RunBuild(row.build, {"/d", "report.xml"});
    EXPECT_EQ(QuotedAfter(machine.ReadFile("work/report.xml"), "<action value=\""), row.actions) << report.out;
}

INSTANTIATE_TEST_SUITE_P(Presets, InventoryPreset, ::testing::ValuesIn(kPresetRows),
                         [](const ::testing::TestParamInfo<PresetRow>& info) { return std::string(info.param.name); });

TEST_F(InventoryE2e, CatalogueNeedsADocumentAndMustBeReadable) {
    machine.Lay(sim::Preset("qlogic"));
    EXPECT_EQ(Inventory({"--catalogue", "reference.xml"}).exitCode, 2);
    EXPECT_EQ(Inventory({"--json", "--catalogue"}).exitCode, 2);
    sim::RunResult missing = Inventory({"--json", "--catalogue", "missing.xml"});
    EXPECT_EQ(missing.exitCode, 4);
    EXPECT_EQ(missing.err, "ERROR! : the catalogue could not be read: missing.xml\n");
    EXPECT_NE(missing.out.find("\"read\": false"), std::string::npos) << missing.out;
}

// The vendor build's discovery asks its tools, which must never meet a flash:
// while a run holds the components' lock nothing is compared or captured.
TEST_F(InventoryE2e, NoToolIsAskedWhileAnUpdateRuns) {
    machine.Lay(sim::Preset("qlogic"));
    const std::string lock = machine.Path("var/vkx/Component.lock");
    int held = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    sim::RunResult json = Inventory({"--json", "--catalogue", "reference.xml"});
    sim::RunResult capture = Inventory({"--capture", "/etc/hbafw-sim/capture"});
    ::close(held);
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.err, "WARNING! : Another firmware update is running on this machine; the catalogue was not "
                        "compared.\n");
    EXPECT_NE(json.out.find("\"discovered\": false,\n    \"busy\": true,\n    \"items\": []"), std::string::npos)
        << json.out;
    EXPECT_EQ(JsonMembers(json.out, "action"), std::vector<std::string>{});
    EXPECT_EQ(capture.exitCode, 4);
    EXPECT_EQ(capture.err, "ERROR! : Another firmware update is running on this machine.\n");
    EXPECT_FALSE(machine.Exists("sim/capture"));

    // Free again, the same run compares.
    EXPECT_NE(Inventory({"--json", "--catalogue", "reference.xml"}).out.find("\"busy\": false"), std::string::npos);
    std::filesystem::remove(lock);
    std::filesystem::create_symlink("/var/vkx/other", lock);
    sim::RunResult linked = Inventory({"--json", "--catalogue", "reference.xml"});
    EXPECT_EQ(linked.exitCode, 4);
    EXPECT_EQ(linked.err, "ERROR! : The lock file is not a regular file of this user: /var/vkx/Component.lock\n");
    EXPECT_NE(linked.out.find("\"discovered\": false"), std::string::npos) << linked.out;
}

}  // namespace
}  // namespace hbafw::e2e
