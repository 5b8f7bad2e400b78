// End-to-end runs against Debian's real libhbalinux, the HBA API library that
// describes FCoE ports from sysfs: hbafw-inventory and hbafw-qlogic /d in the
// sandbox over FCoE sysfs trees, alone and beside the simulated vendor
// library. The library is a black box here; where it is not installed the
// tests skip rather than fail.
#include <string>
#include <vector>

#include "sim/fc_host_tree.h"
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

// The values of one element per adapter, in document order.
std::vector<std::string> Elements(const std::string& xml, const std::string& name) {
    std::vector<std::string> values;
    std::string open = "<" + name + ">", close = "</" + name + ">";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        std::size_t start = at + open.size();
        values.push_back(xml.substr(start, xml.find(close, start) - start));
    }
    return values;
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
        if (!unavailable.empty()) GTEST_SKIP() << "libhbalinux2 cannot be used here: " << unavailable;
    }

    // Lays the ports; returns them in the library's numbering (fc_host directory order).
    std::vector<std::string> LayFcoe(const std::vector<sim::FcoePort>& ports, const std::string& hbaConf) {
        sim::FcHostTree tree(machine.Path("sys"));
        for (const sim::FcoePort& port : ports) tree.Add(port);
        sim::InstallFixedPciIds(machine.Path("usr"));
        machine.WriteFile("etc/hba.conf", hbaConf);
        std::vector<std::string> netdevs;
        for (const std::string& host : tree.FcHostOrder())
            for (const sim::FcoePort& port : ports)
                if (host == "host" + std::to_string(port.host)) netdevs.push_back(port.netdev);
        return netdevs;
    }

    sim::RunResult Inventory(const std::vector<std::string>& arguments = {"--xml"}) const {
        std::vector<std::string> command = {sim::BuildBinary("hbafw-inventory")};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return machine.Run(command);
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

}  // namespace
}  // namespace hbafw::e2e
