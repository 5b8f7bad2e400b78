// End-to-end runs against Debian's real libhbalinux, the HBA API library that
// describes FCoE ports from sysfs: hbafw-inventory and hbafw-qlogic /d in the
// sandbox over FCoE sysfs trees, alone and beside the simulated vendor
// library. The library is a black box here; where it is not installed the
// tests skip rather than fail.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

// What the library reports for one FCoE port, as the diagnostic shows it.
struct Expected {
    std::string netdev, nodeWwn, portWwn, manufacturer, model, modelDescription, serialNumber, driverName,
        driverVersion;
};

sim::FcoePort X520(const std::string& netdev, int host, std::uint8_t bus, int n) {
    char node[32], port[32];
    std::snprintf(node, sizeof node, "0x1000001b21a0b0%02x", n);
    std::snprintf(port, sizeof port, "0x2000001b21a0b0%02x", n);
    sim::FcoePort fcoe;
    fcoe.netdev = netdev;
    fcoe.host = host;
    fcoe.pci.bus = bus;
    fcoe.nodeName = node;
    fcoe.portName = port;
    fcoe.serialNumber = 0x001b21fffea0b000ull | static_cast<unsigned>(n);
    return fcoe;
}

sim::FcoePort X710(const std::string& netdev, int host, std::uint8_t bus, int n) {
    sim::FcoePort fcoe = X520(netdev, host, bus, n);
    fcoe.pci.deviceId = 0x1572;
    fcoe.pci.subsystemDevice = 0x0007;
    fcoe.driver = "i40e";
    fcoe.driverVersion = "2.8.20-k";
    fcoe.serialNumber = 0x3cfdfeffff9e5a00ull | static_cast<unsigned>(n);
    return fcoe;
}

Expected X520Expected(const std::string& netdev, int n) {
    char node[32], port[32], serial[32];
    std::snprintf(node, sizeof node, "10:00:00:1B:21:A0:B0:%02X", n);
    std::snprintf(port, sizeof port, "20:00:00:1B:21:A0:B0:%02X", n);
    std::snprintf(serial, sizeof serial, "001B21A0B0%02X", n);
    return {netdev, node, port, "Intel Corporation", "82599ES", "82599ES 10-Gigabit SFI/SFP+ Network Connection",
            serial, "ixgbe", "5.1.0-k"};
}

Expected X710Expected(const std::string& netdev, int n) {
    Expected expected = X520Expected(netdev, n);
    char serial[32];
    std::snprintf(serial, sizeof serial, "3CFDFE9E5A%02X", n);
    expected.model = "Ethernet";
    expected.modelDescription = "Ethernet Controller X710 for 10GbE SFP+";
    expected.serialNumber = serial;
    expected.driverName = "i40e";
    expected.driverVersion = "2.8.20-k";
    return expected;
}

// The adapter names in document order.
std::vector<std::string> AdapterNames(const std::string& xml) {
    std::vector<std::string> names;
    const std::string open = "<adapter name=\"";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        std::size_t start = at + open.size();
        names.push_back(xml.substr(start, xml.find('"', start) - start));
    }
    return names;
}

class HbalinuxE2e : public SandboxTest {
protected:
    void SetUp() override {
        SandboxTest::SetUp();
        if (IsSkipped()) return;
        static const std::string unavailable = sim::LibhbalinuxUnavailable();
        if (unavailable.empty()) {
            SuppressTheLibrarysOwnLeaks();
            return;
        }
        // CI installs the package, so there a missing library is a fault, not a skip.
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "libhbalinux2 is not usable in CI: " << unavailable;
        GTEST_SKIP() << "libhbalinux2 cannot be used here: " << unavailable;
    }

    // Lays the ports; returns them in the library's numbering (fc_host directory order).
    std::vector<std::string> LayFcoe(const std::vector<sim::FcoePort>& ports, const std::string& hbaConf) {
        machine.Lay({.hbaConf = hbaConf, .fcoePorts = ports});
        std::vector<std::string> netdevs;
        for (const std::string& host : sim::FcHostTree(machine.Path("sys")).FcHostOrder())
            for (const sim::FcoePort& port : ports)
                if (host == "host" + std::to_string(port.host)) netdevs.push_back(port.netdev);
        return netdevs;
    }

    sim::RunResult Inventory(const std::vector<std::string>& arguments = {"--xml"}) const {
        return machine.RunBuild("hbafw-inventory", arguments);
    }

    // Checks the diagnostic's XML against the expected adapters, in order.
    static void ExpectAdapters(const std::string& xml, const std::vector<Expected>& adapters) {
        std::vector<std::string> node, port, manufacturer, model, description, serial, driver, version, names;
        for (const Expected& e : adapters) {
            node.push_back(e.nodeWwn);
            port.push_back(e.portWwn);
            manufacturer.push_back(e.manufacturer);
            model.push_back(e.model);
            description.push_back(e.modelDescription);
            serial.push_back(e.serialNumber);
            driver.push_back(e.driverName);
            version.push_back(e.driverVersion);
        }
        EXPECT_EQ(Elements(xml, "nodeWwn"), node) << xml;
        EXPECT_EQ(Elements(xml, "portWwn"), port);
        EXPECT_EQ(Elements(xml, "manufacturer"), manufacturer);
        EXPECT_EQ(Elements(xml, "model"), model);
        EXPECT_EQ(Elements(xml, "modelDescription"), description);
        EXPECT_EQ(Elements(xml, "serialNumber"), serial);
        EXPECT_EQ(Elements(xml, "driverName"), driver);
        EXPECT_EQ(Elements(xml, "driverVersion"), version);
    }

private:
};

const std::string kHbalinuxOnly = sim::HbaConf({{"hbalinux", sim::kLibhbalinuxPath}});

TEST_F(HbalinuxE2e, InventoryListsItsAdaptersWithTheirAttributes) {
    std::vector<std::string> order =
        LayFcoe({X520("eth2", 5, 0x41, 1), X710("eth3", 7, 0x42, 2)}, kHbalinuxOnly);
    ASSERT_EQ(order.size(), 2u);
    sim::RunResult run = Inventory();
    ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("path=\"/usr/lib/libhbalinux.so.2\" status=\"loaded\""), std::string::npos) << run.out;

    std::vector<Expected> expected;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < order.size(); ++i) {
        expected.push_back(order[i] == "eth2" ? X520Expected("eth2", 1) : X710Expected("eth3", 2));
        names.push_back("fcoe:" + order[i] + "-" + std::to_string(i));
    }
    EXPECT_EQ(AdapterNames(run.out), names);
    ExpectAdapters(run.out, expected);
    // No vendor management library knows these adapters, so no PCI location is
    // found and the identifier comes from the zero VendorSpecificID alone.
    EXPECT_EQ(Elements(run.out, "pciId"), (std::vector<std::string>{"N/A", "N/A"}));
    EXPECT_EQ(Elements(run.out, "subsystemId"), (std::vector<std::string>{"00000000", "00000000"}));
    EXPECT_EQ(Elements(run.out, "firmwareVersion"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Elements(run.out, "optionRomVersion"), (std::vector<std::string>{"", ""}));
    EXPECT_NE(run.out.find("state=\"Online\" speed=\"10 GB\""), std::string::npos) << run.out;
}


// What is missing from the machine, and what the library then still reports.
struct Degradation {
    const char* name;
    void (*spoil)(const sim::Machine&, sim::FcoePort&);  // before and after laying
    bool listed;
    Expected expected;
};

void NoConfigFile(const sim::Machine&, sim::FcoePort& port) { port.configFile = false; }
void NoSerialCapability(const sim::Machine&, sim::FcoePort& port) { port.serialNumber = 0; }
void NoFcoeStack(const sim::Machine&, sim::FcoePort& port) { port.symbolicName = "QLE8152 FW:v5.03.00 DVR:v8.04"; }
void EmptyPciIds(const sim::Machine& m, sim::FcoePort&) {
    if (m.Exists("usr/share/misc/pci.ids")) {
        m.WriteFile("usr/share/misc/pci.ids", "");
        m.WriteFile("usr/share/misc/pci.ids.gz", "");
    }
}
void NoPciDevices(const sim::Machine& m, sim::FcoePort&) {
    std::error_code ignored;
    std::filesystem::remove_all(m.Path("sys/bus/pci/devices"), ignored);
}

const std::string kX520Name = "82599ES 10-Gigabit SFI/SFP+ Network Connection";
const std::string kX520Ids = "[8086:10fb]-[8086:000c]-(0200)";

// Names come from pci.ids through libpciaccess, which needs bus/pci/devices but
// not the config file; the serial number needs the config file's capability.
const Degradation kDegradations[] = {
    {"no config file", NoConfigFile, true,
     {"", "", "", "Intel Corporation", "82599ES", kX520Name, "Unknown", "ixgbe", ""}},
    {"no serial number capability", NoSerialCapability, true,
     {"", "", "", "Intel Corporation", "82599ES", kX520Name, "Unknown", "ixgbe", ""}},
    {"empty pci.ids", EmptyPciIds, true, {"", "", "", "Unknown", kX520Ids, kX520Ids, "001B21A0B001", "ixgbe", ""}},
    {"no bus/pci/devices", NoPciDevices, true, {"", "", "", "", "", "", "", "ixgbe", ""}},
    {"fc_host of no FCoE stack", NoFcoeStack, false, {}},
};

TEST_F(HbalinuxE2e, DegradesToEmptyOrUnknownTexts) {
    for (const Degradation& row : kDegradations) {
        sim::Machine m;
        sim::FcoePort port = X520("eth2", 5, 0x41, 1);
        row.spoil(m, port);
        m.Lay({.hbaConf = kHbalinuxOnly, .fcoePorts = {port}});
        row.spoil(m, port);
        sim::RunResult run = m.RunBuild("hbafw-inventory", {"--xml"});
        EXPECT_EQ(run.exitCode, row.listed ? 0 : 3) << row.name << "\n" << run.err;
        if (!row.listed) continue;
        EXPECT_EQ(Elements(run.out, "manufacturer"), std::vector<std::string>{row.expected.manufacturer}) << row.name;
        EXPECT_EQ(Elements(run.out, "model"), std::vector<std::string>{row.expected.model}) << row.name;
        EXPECT_EQ(Elements(run.out, "modelDescription"), std::vector<std::string>{row.expected.modelDescription})
            << row.name;
        EXPECT_EQ(Elements(run.out, "serialNumber"), std::vector<std::string>{row.expected.serialNumber}) << row.name;
        EXPECT_EQ(Elements(run.out, "driverName"), std::vector<std::string>{row.expected.driverName}) << row.name;
        EXPECT_EQ(Elements(run.out, "nodeWwn"), std::vector<std::string>{"10:00:00:1B:21:A0:B0:01"}) << row.name;
    }
}

// The simulated QLogic adapter beside the library's FCoE ports.
sim::SimulatedAdapter SimulatedQLogic() {
    sim::SimulatedAdapter adapter;
    adapter.pci = {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
    return adapter;
}

TEST_F(HbalinuxE2e, MixedConfigurationNumbersAdaptersInConfigurationOrder) {
    const std::string simulated = "/usr/lib/libqlsdm.so";
    struct Row {
        const char* name;
        bool hbalinuxFirst;
    };
    for (const Row& row : {Row{"simulated library first", false}, Row{"libhbalinux first", true}}) {
        sim::Machine m;
        sim::SimulatedAdapter qlogic = SimulatedQLogic();
        std::pair<std::string, std::string> hbalinux = {"hbalinux", sim::kLibhbalinuxPath};
        std::pair<std::string, std::string> own = {"qla2xxx", simulated};
        m.Lay({.hbaConf = row.hbalinuxFirst ? sim::HbaConf({hbalinux, own}) : sim::HbaConf({own, hbalinux}),
               .libraries = {{.path = simulated}},
               .adapters = {qlogic},
               .fcoePorts = {X520("eth2", 5, 0x41, 1), X520("eth4", 9, 0x43, 3)}});
        sim::FcHostTree tree(m.Path("sys"));

        std::vector<std::string> fcoe, fcoeNodes;
        std::vector<std::string> order = tree.FcHostOrder();
        for (std::size_t i = 0; i < order.size(); ++i) {
            bool eth2 = order[i] == "host5";
            fcoe.push_back("fcoe:" + std::string(eth2 ? "eth2" : "eth4") + "-" + std::to_string(i));
            fcoeNodes.push_back(eth2 ? "10:00:00:1B:21:A0:B0:01" : "10:00:00:1B:21:A0:B0:03");
        }
        // The library's adapters come as one block, before or after the simulated one.
        auto place = [&row](std::vector<std::string> all, const std::vector<std::string>& theirs) {
            all.insert(row.hbalinuxFirst ? all.begin() : all.end(), theirs.begin(), theirs.end());
            return all;
        };
        std::vector<std::string> names = place({qlogic.name}, fcoe);
        std::vector<std::string> nodes = place({qlogic.nodeWwn}, fcoeNodes);
        std::vector<std::string> pciIds = place({"10772532"}, std::vector<std::string>(fcoe.size(), "N/A"));

        sim::RunResult run = m.Run({sim::BuildBinary("hbafw-inventory"), "--xml"});
        ASSERT_EQ(run.exitCode, 0) << row.name << "\n" << run.err << run.out;
        EXPECT_EQ(AdapterNames(run.out), names) << row.name;
        EXPECT_EQ(Elements(run.out, "nodeWwn"), nodes) << row.name;
        EXPECT_EQ(Elements(run.out, "pciId"), pciIds) << row.name;
        // Every load of the simulated library, the reloads between adapters
        // included, is matched by an unload.
        std::filesystem::path calls = m.Path("sim/calls.log");
        EXPECT_FALSE(sim::CallLines(calls, "loaded").empty()) << row.name;
        EXPECT_EQ(sim::CallLines(calls, "loaded").size(), sim::CallLines(calls, "unloaded").size()) << row.name;
    }
}

TEST_F(HbalinuxE2e, LoadFreeAndLoadAgainOpensTheSameAdapters) {
    std::vector<std::string> order = LayFcoe({X520("eth2", 5, 0x41, 1), X710("eth3", 7, 0x42, 2)}, kHbalinuxOnly);
    std::string first, reloaded;
    for (std::size_t i = 0; i < order.size(); ++i) {
        Expected e = order[i] == "eth2" ? X520Expected("eth2", 1) : X710Expected("eth3", 2);
        std::string line = "fcoe:" + order[i] + "-" + std::to_string(i) + " status=0,0 node=" + e.nodeWwn +
                           " port=" + e.portWwn + " serial=" + e.serialNumber + "\n";
        first += "first " + line;
        reloaded += "reloaded " + line;
    }
    sim::RunResult run = machine.Run({sim::BuildBinary("hbafw_hba_api_cycle")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, first + reloaded);
}

// A catalogue entry for the identifier the library's adapters get: no PCI
// location is found for them, so it is the zero subsystem word alone.
const std::string kFcoeCatalogue = R"(<?xml version="1.0"?>
<orvane_fchba_reference>
  <devices>
    <device>
      <type value="FCoE Converged Network Adapter"/>
      <device_id value="0000.0000"/>
      <model value="X520-FCoE"/>
      <boot value="3.00"/>
    </device>
  </devices>
</orvane_fchba_reference>
)";

TEST_F(HbalinuxE2e, QLogicDiscoveryReportNamesTheLibrarysAdapters) {
    sim::MachineDescription description{.hbaConf = kHbalinuxOnly,
                                        .fcoePorts = {X520("eth2", 5, 0x41, 1), X520("eth4", 9, 0x43, 3)},
                                        .catalogue = kFcoeCatalogue};
    description.qlafwupdate.installed = true;
    description.qlafwupdate.instances = {{"20:00:00:1B:21:A0:B0:03", "3.00"}, {"20:00:00:1B:21:A0:B0:01", "2.10"}};
    machine.Lay(description);
    std::vector<std::string> order;
    for (const std::string& host : sim::FcHostTree(machine.Path("sys")).FcHostOrder())
        order.push_back(host == "host5" ? "eth2" : "eth4");

    sim::RunResult run = RunQLogic({"/d", "report.xml"});
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(run.out, std::string(51, '-') +
                           "\nLoading references...done.\nPerforming discovery...\n"
                           "Generating self-discovery XML...done.\n");
    std::string report = machine.ReadFile("work/report.xml");
    // One device per adapter, in the library's order, each with its tool instance's version.
    std::vector<std::string> versions;
    for (const std::string& netdev : order) versions.push_back(netdev == "eth2" ? "2.10" : "3.00");
    std::vector<std::string> found;
    const std::string active = "<active_version value=\"";
    for (std::size_t at = report.find(active); at != std::string::npos; at = report.find(active, at + 1))
        found.push_back(report.substr(at + active.size(), report.find('"', at + active.size()) - at - active.size()));
    EXPECT_EQ(found, versions) << report;
    for (const char* expected : {"<device_id value=\"0000.0000\"/>", "<product_id value=\"X520-FCoE\"/>",
                                 "<action value=\"upgrade\"/>", "<action value=\"rewrite\"/>"})
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
}

}  // namespace
}  // namespace hbafw::e2e
