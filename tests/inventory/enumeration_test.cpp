// Enumeration over the simulated vendor library and a temporary sysfs tree:
// records, refresh failures, both ways of reading the PCI location, and the
// bounds that keep a broken library from hanging the walk.
#include <gtest/gtest.h>

#include <sstream>

#include "inventory/adapter_enumeration.h"
#include "inventory/fc_hba_mra.h"
#include "sim/sysfs_tree.h"
#include "tests/inventory/inventory_fixture.h"

namespace hbafw::test {
namespace {

class Enumeration : public InventoryFixture {
protected:
    std::vector<EnumeratedAdapter> Enumerate() { return EnumerateAdapterDetails(paths, console); }
    std::ostringstream console;
};

sim::SimulatedAdapter Card(const std::string& name, int n, sim::PciFunction pci) {
    char node[32], port[32];
    std::snprintf(node, sizeof node, "20:00:00:1B:32:0A:0B:%02X", n);
    std::snprintf(port, sizeof port, "21:00:00:1B:32:0A:0B:%02X", n);
    sim::SimulatedAdapter adapter = Adapter(name, node, port);
    adapter.pci = pci;
    return adapter;
}

TEST_F(Enumeration, NoConfigurationGivesNoRecordAndStillReturnsOne) {
    std::list<AdapterRecord> records;
    EXPECT_EQ(EnumerateAdapters(records, paths), 1);
    EXPECT_TRUE(records.empty());
    FcHbaMRA access(paths);
    EXPECT_FALSE(access.IsLoaded());
    EXPECT_EQ(access.GetAdapterCount(), 0u);
}

TEST_F(Enumeration, RecordsFromTheServingVendorLibrary) {
    std::string lib = Library("libqlsdm.so");
    sim::SysfsTree tree(paths.sysRoot);
    tree.AddFiller(10);
    sim::PciFunction first{0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
    sim::PciFunction second = first;
    second.function = 1;
    second.deviceId = 0x2533;
    tree.AddAdapter(first);
    tree.AddAdapter(second);
    sim::SimulatedAdapter a = Card("qlogic-QLE2562-0", 1, first), b = Card("qlogic-QLE2562-1", 2, second);
    b.portWwns.push_back("21:00:00:1B:32:0A:0B:FF");
    Describe({a, b});
    Write("hba.conf", "qla2xxx\t  " + lib + "\r\n");

    std::list<AdapterRecord> records;
    ASSERT_EQ(EnumerateAdapters(records, paths), 1);
    ASSERT_EQ(records.size(), 2u);
    const AdapterRecord& record = records.back();
    EXPECT_STREQ(record.nodeWwn, "20:00:00:1B:32:0A:0B:02");
    EXPECT_STREQ(record.portWwn, "21:00:00:1B:32:0A:0B:02");
    EXPECT_STREQ(record.pciId, "10772533");
    EXPECT_STREQ(record.subsystemId, "1077015c");
    EXPECT_STREQ(record.driverVersion, "8.07.00.08");
    EXPECT_STREQ(record.firmwareVersion, "5.06.05");
    EXPECT_STREQ(record.optionRomVersion, "2.02");
    EXPECT_STREQ(record.model, "QLE2562");
    EXPECT_STREQ(record.spare, "");
    EXPECT_STREQ(records.front().pciId, "10772532");
    ExpectBalanced("loaded", "unloaded");
    ExpectBalanced("HBA_OpenAdapter", "HBA_CloseAdapter");
    // Served by the vendor's own library: no separate search was needed.
    EXPECT_TRUE(Calls("VKXFC_OpenAdapter").empty());
    EXPECT_EQ(Calls("VKXFC_GetAdapterAttributes2").size(), 2u);
}

TEST_F(Enumeration, LibraryThatIsNotTheVendorsIsSearchedByNodeWwn) {
    std::string hbaApi = Library("qlhbaapi.so");
    Library("libqlsdm.so");
    sim::SysfsTree tree(paths.sysRoot);
    sim::PciFunction pci{0, 0x41, 0, 0, 0x1077, 0x2031, 0x1077, 0x0170};
    tree.AddAdapter(pci);
    sim::SimulatedAdapter adapter = Card("qlogic-QLE2672-0", 5, pci);
    adapter.extra = "vendorspecific=0x12345678";
    Describe({adapter});
    Write("hba.conf", "ql " + hbaApi + "\n");
    std::vector<EnumeratedAdapter> adapters = Enumerate();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_STREQ(adapters[0].record.pciId, "10772031");
    EXPECT_STREQ(adapters[0].record.subsystemId, "10770170");
    EXPECT_EQ(adapters[0].servingLibrary, hbaApi);
    EXPECT_EQ(Calls("VKXFC_OpenAdapter").size(), 1u);
    // The layer was let go and loaded again around the search.
    EXPECT_EQ(Calls("HBA_RegisterLibrary").size(), 2u);
    ExpectBalanced("loaded", "unloaded");
    ExpectBalanced("HBA_LoadLibrary", "HBA_FreeLibrary");
    ExpectBalanced("VKXFC_LoadLibrary", "VKXFC_FreeLibrary");
}

TEST_F(Enumeration, VendorDataMissingKeepsVendorSpecificId) {
    std::string hbaApi = Library("qlhbaapi.so");  // no vendor library installed
    sim::SimulatedAdapter adapter = Card("qlogic-x", 1, {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c});
    adapter.extra = "vendorspecific=0x015c1077";
    Describe({adapter});
    Write("hba.conf", "ql " + hbaApi + "\n");
    std::vector<EnumeratedAdapter> adapters = Enumerate();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_STREQ(adapters[0].record.pciId, "N/A");
    EXPECT_STREQ(adapters[0].record.subsystemId, "1077015c");
}

TEST_F(Enumeration, RefreshFailuresStillGiveRecords) {
    std::string lib = Library("libqlsdm.so");
    struct Row {
        std::string fault;
        bool failed;
        std::string firmware;
        std::string nodeWwn;
        std::string portWwn;
        std::size_t ports;
    } rows[] = {
        {"", false, "5.06.05", "20:00:00:1B:32:0A:0B:01", "21:00:00:1B:32:0A:0B:01", 2},
        {"open-fails adapter=qlogic-a", true, "Undefined", "00:00:00:00:00:00:00:00", "", 0},
        {"attributes-fail adapter=qlogic-a", true, "Undefined", "00:00:00:00:00:00:00:00", "", 0},
        {"port-fails adapter=qlogic-a port=0", true, "5.06.05", "20:00:00:1B:32:0A:0B:01", "22:00:00:00:00:00:00:01",
         1},
        {"statistics-fail adapter=qlogic-a port=1", true, "5.06.05", "20:00:00:1B:32:0A:0B:01",
         "21:00:00:1B:32:0A:0B:01", 2},
        {"no-entry entry=OpenAdapter", true, "Undefined", "00:00:00:00:00:00:00:00", "", 0},
        {"absurd-ports", true, "5.06.05", "20:00:00:1B:32:0A:0B:01", "21:00:00:1B:32:0A:0B:01",
         kMaxPortsPerAdapter},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(root / "calls.log");
        sim::SimulatedAdapter a = Card("qlogic-a", 1, {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c});
        a.portWwns.push_back("22:00:00:00:00:00:00:01");
        Describe({a, Card("qlogic-b", 2, {0, 6, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c})},
                 row.fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.fault});
        Write("hba.conf", "ql " + lib + "\n");
        console.str("");
        std::vector<EnumeratedAdapter> adapters = Enumerate();
        ASSERT_EQ(adapters.size(), 2u) << row.fault;
        const EnumeratedAdapter& first = adapters[0];
        bool bothFail = row.fault.find("adapter=") == std::string::npos && row.failed;
        std::string expected;
        for (int i = row.failed ? (bothFail ? 2 : 1) : 0; i > 0; --i) expected += kFailedStatusLine;
        EXPECT_EQ(console.str(), expected) << row.fault;
        EXPECT_EQ(first.status != 0, row.failed) << row.fault;
        EXPECT_EQ(first.record.firmwareVersion, row.firmware) << row.fault;
        EXPECT_EQ(first.record.nodeWwn, row.nodeWwn) << row.fault;
        EXPECT_EQ(first.record.portWwn, row.portWwn) << row.fault;
        EXPECT_EQ(first.ports.size(), row.ports) << row.fault;
        if (row.firmware == "Undefined") {
            EXPECT_STREQ(first.record.driverVersion, "Undefined");
            EXPECT_STREQ(first.record.optionRomVersion, "Undefined");
            EXPECT_STREQ(first.record.model, "Undefined");
            EXPECT_STREQ(first.record.subsystemId, "00000000");
        }
        if (!bothFail) {
            EXPECT_STREQ(adapters[1].record.nodeWwn, "20:00:00:1B:32:0A:0B:02") << row.fault;
        }
        ExpectBalanced("HBA_OpenAdapter", "HBA_CloseAdapter");
        ExpectBalanced("loaded", "unloaded");
    }
}

TEST_F(Enumeration, UnterminatedVendorTextsAreCutToTheRecordWidth) {
    std::string lib = Library("libqlsdm.so");
    Describe({Card("qlogic-a", 1, {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c})}, {"unterminated-texts"});
    Write("hba.conf", "ql " + lib + "\n");
    std::vector<EnumeratedAdapter> adapters = Enumerate();
    ASSERT_EQ(adapters.size(), 1u);
    EXPECT_EQ(adapters[0].adapterName.size(), kVendorNameBufferSize);
    EXPECT_EQ(std::string(adapters[0].record.model).size(), 255u);
    EXPECT_EQ(std::string(adapters[0].record.model).substr(0, 7), "QLE2562");
}

TEST_F(Enumeration, StatisticsCountersMarkedUnsupportedStayZero) {
    std::string lib = Library("libqlsdm.so");
    Describe({Card("qlogic-a", 1, {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c})});
    Write("hba.conf", "ql " + lib + "\n");
    FcHbaMRA access(paths);
    int status = -1;
    std::unique_ptr<FcHbaAdapter> adapter = access.GetFirstAdapter(status);
    ASSERT_TRUE(adapter);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(adapter->GetPorts().size(), 1u);
    const FcHbaPort& port = adapter->GetPorts()[0];
    EXPECT_EQ(port.GetStatistics()[0], 1);
    EXPECT_EQ(port.GetStatistics()[2], 0);  // -1 from the library
    EXPECT_EQ(port.GetStatistics()[3], 0);
    EXPECT_EQ(port.GetStatistics()[4], 5);
    EXPECT_STREQ(port.GetStateText(), "Online");
    EXPECT_STREQ(port.GetSpeedText(), "8 GB");
    EXPECT_EQ(adapter->GetPciBus(), 5);
    EXPECT_EQ(adapter->GetManufacturer(), "QLogic Corporation");
    EXPECT_FALSE(access.GetNextAdapter(*adapter, status));
}

}  // namespace
}  // namespace hbafw::test
