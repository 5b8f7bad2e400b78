// Enumeration over the simulated vendor library and a temporary sysfs tree:
// records, refresh failures, both ways of reading the PCI location, both ways
// of walking /sys, and the bounds that keep a broken library from hanging the walk.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <utility>

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

// Every field of the record, by name, for comparisons that say which one differs.
std::vector<std::pair<const char*, std::string>> Fields(const AdapterRecord& r) {
    return {{"nodeWwn", r.nodeWwn},   {"portWwn", r.portWwn},         {"pciId", r.pciId},
            {"subsystemId", r.subsystemId}, {"driverVersion", r.driverVersion},
            {"firmwareVersion", r.firmwareVersion}, {"optionRomVersion", r.optionRomVersion},
            {"spare", r.spare},       {"model", r.model}};
}

void WriteHex(const std::filesystem::path& file, const char* text) { std::ofstream(file) << text; }

TEST_F(Enumeration, BothSysfsWalksGiveTheSameRecords) {
    std::string lib = Library("libqlsdm.so");
    sim::SysfsTree tree(paths.sysRoot);
    tree.AddFiller(20);
    // A dual-port card: functions 0 and 1 of bus 5, one subsystem.
    sim::PciFunction port0{0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c}, port1 = port0;
    port1.function = 1;
    port1.deviceId = 0x2533;
    tree.AddAdapter(port0);
    tree.AddAdapter(port1);
    // Bus 6: the bridge beside the adapter reports the adapter's subsystem ids,
    // so the search order alone picks one of the two.
    sim::PciFunction shared{0, 6, 0, 2, 0x1077, 0x2031, 0x1077, 0x0170};
    std::filesystem::path bridge = tree.AddAdapter(shared).parent_path() / "0000:06:1f.2";
    WriteHex(bridge / "subsystem_vendor", "0x1077\n");
    WriteHex(bridge / "subsystem_device", "0x0170\n");
    // Bus 0x0c written in upper case, directory name and ids alike.
    sim::PciFunction upper{0, 0x0c, 0, 0, 0x10df, 0xf100, 0x10df, 0xfe00};
    std::filesystem::path lower = tree.AddAdapter(upper);
    std::filesystem::path renamed = lower.parent_path() / "0000:0C:00.0";
    std::filesystem::rename(lower, renamed);
    for (auto [file, text] : {std::pair{"vendor", "0x10DF\n"}, {"device", "0xF100\n"},
                              {"subsystem_vendor", "0x10DF\n"}, {"subsystem_device", "0xFE00\n"}})
        WriteHex(renamed / file, text);
    // Location never filled in (all zero): the root ports' subsystem ids decide.
    sim::PciFunction unfilled{0, 0, 0, 0, 0, 0, 0x8086, 0x0000};
    Describe({Card("qlogic-a", 1, port0), Card("qlogic-b", 2, port1), Card("qlogic-c", 3, shared),
              Card("qlogic-d", 4, upper), Card("qlogic-e", 5, unfilled), Card("qlogic-f", 6, port0)},
             {"open-fails adapter=qlogic-f"});
    Write("hba.conf", "ql " + lib + "\n");

    std::vector<EnumeratedAdapter> perAdapter = EnumerateAdapterDetails(paths, console, SysfsWalk::PerAdapter);
    std::vector<EnumeratedAdapter> once = EnumerateAdapterDetails(paths, console, SysfsWalk::OncePerEnumeration);
    ASSERT_EQ(perAdapter.size(), 6u);
    ASSERT_EQ(once.size(), perAdapter.size());
    for (std::size_t i = 0; i < once.size(); ++i) {
        auto expected = Fields(perAdapter[i].record), actual = Fields(once[i].record);
        for (std::size_t f = 0; f < expected.size(); ++f)
            EXPECT_EQ(actual[f].second, expected[f].second) << "adapter " << i << " field " << expected[f].first;
    }
    // The trees really exercise the lookup: found ids, the bridge's, and the failed adapter's N/A.
    const char* pciIds[] = {"10772532", "10772533", nullptr, "10dff100", "80863c04", "N/A"};
    for (std::size_t i = 0; i < once.size(); ++i) {
        if (pciIds[i] != nullptr) {
            EXPECT_STREQ(once[i].record.pciId, pciIds[i]) << i;
        }
    }
    EXPECT_TRUE(std::string(once[2].record.pciId) == "10772031" || std::string(once[2].record.pciId) == "80863c08")
        << once[2].record.pciId;
    EXPECT_EQ(console.str(), std::string(kFailedStatusLine) + kFailedStatusLine);
}

TEST_F(Enumeration, NothingIsRememberedAcrossEnumerations) {
    std::string lib = Library("libqlsdm.so");
    sim::SysfsTree tree(paths.sysRoot);
    sim::PciFunction pci{0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
    std::filesystem::path device = tree.AddAdapter(pci);
    Describe({Card("qlogic-a", 1, pci)});
    Write("hba.conf", "ql " + lib + "\n");
    ASSERT_STREQ(Enumerate().at(0).record.pciId, "10772532");
    WriteHex(device / "device", "0x2031\n");
    EXPECT_STREQ(Enumerate().at(0).record.pciId, "10772031");
    std::filesystem::remove(device / "vendor");
    EXPECT_STREQ(Enumerate().at(0).record.pciId, "N/A");
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
