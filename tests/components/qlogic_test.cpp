// The QLogic component against a scripted qlafwupdate in a temporary working
// folder: query parsing, port matching, the lookup fallback, exit statuses.
#include <gtest/gtest.h>

#include <filesystem>

#include "components/qlogic/component.h"
#include "../framework/temp_dir.h"

namespace QLogicComp {
namespace {

using hbafw::testing::ReadFile;
using hbafw::testing::ScopedCwd;
using hbafw::testing::TempDir;
using hbafw::testing::WriteFile;

TEST(QLogicQuery, InstanceTable) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        int instance;
        std::wstring flashImage;
        std::string portName;
    };
    const Row rows[] = {
        {"typical", {"HBA Instance: 0", "Port Name: 21-00-00-1b-32-0a-bc-de", "Flash Image: 2.02"}, 0, L"2.02",
         "21:00:00:1B:32:0A:BC:DE"},
        {"upper case kept", {"HBA Instance : 3", "Port Name   : 21:00:00:1B:32:0A:BC:DE"}, 3, L"",
         "21:00:00:1B:32:0A:BC:DE"},
        {"a line must start with its label", {"HBA Instance: 3", "  Port Name: 21-00", " Flash Image: 1"}, 3, L"", ""},
        {"last ': ' wins", {"HBA Instance: 1", "Flash Image: a: b: 3.10"}, 1, L"3.10", ""},
        {"trailing ': ' is not a separator", {"HBA Instance: 1", "Flash Image: 3.10: "}, 1, L"3.10: ", ""},
        {"later instance line switches", {"HBA Instance: 0", "HBA Instance: 63", "Flash Image: x"}, 63, L"x", ""},
        {"atoi reading", {"HBA Instance:  +2abc", "Flash Image: y"}, 2, L"y", ""},
        {"lines before any instance are ignored", {"Flash Image: 9.9", "Port Name: aa"}, 0, L"", ""},
        {"out of range instance is ignored", {"HBA Instance: 0", "HBA Instance: 64", "Flash Image: z"}, 0, L"", ""},
        {"huge instance is ignored", {"HBA Instance: 99999999999999999999", "Flash Image: z"}, 0, L"", ""},
        {"negative instance is ignored", {"HBA Instance: -1", "Flash Image: z"}, 0, L"", ""},
    };
    for (const Row& row : rows) {
        std::vector<ToolInstance> table = ReadQueryInstances(row.lines);
        ASSERT_EQ(table.size(), 64u);
        EXPECT_EQ(table[row.instance].flashImage, row.flashImage) << row.name;
        EXPECT_EQ(table[row.instance].portName, row.portName) << row.name;
        int filled = 0;
        for (const ToolInstance& t : table) filled += !t.flashImage.empty() || !t.portName.empty();
        EXPECT_EQ(filled, row.flashImage.empty() && row.portName.empty() ? 0 : 1) << row.name;
    }
}


TEST(QLogicFlash, ExitStatusTable) {
    for (int e = 0; e <= 255; ++e) {
        int expected = e;
        if (e == 0 || e == 201 || e == 255) expected = 1;
        else if (e == 1) expected = 3;
        else if ((e >= 2 && e <= 10) || e == 14 || e == 16 || e == 17) expected = 7;
        EXPECT_EQ(ExitCodeForToolStatus(e), expected) << e;
    }
}

class QLogicComponent : public ::testing::Test {
protected:
    QLogicComponent() : cwd_(dir_.path()) {
        paths_.componentLog = dir_.file("Component.log");
        component_ = std::make_unique<CComponent>(paths_);
        component_->log.setQuiet(true);
    }

    void Tool(const std::string& body) {
        WriteFile(dir_.file("qlafwupdate"), "#!/bin/sh\n" + body);
        std::filesystem::permissions(dir_.file("qlafwupdate"), std::filesystem::perms::owner_all);
    }

    hbafw::AdapterRecord& Adapter(const char* pciId, const char* subsystemId, const char* portWwn) {
        hbafw::AdapterRecord& r = component_->adapters.emplace_back();
        std::snprintf(r.pciId, sizeof r.pciId, "%s", pciId);
        std::snprintf(r.subsystemId, sizeof r.subsystemId, "%s", subsystemId);
        std::snprintf(r.portWwn, sizeof r.portWwn, "%s", portWwn);
        return r;
    }

    TempDir dir_;
    ScopedCwd cwd_;
    hbafw::SystemPaths paths_;
    std::unique_ptr<CComponent> component_;
};

std::string Instance(int i, const char* port, const char* image) {
    return "echo 'HBA Instance: " + std::to_string(i) + "'\necho 'Port Name: " + port + "'\necho 'Flash Image: " +
           image + "'\necho 'Model: QLE'\necho 'Serial: S'\n";
}

TEST_F(QLogicComponent, DiscoveryMatchesPortsAndComparesVersions) {
    Tool(Instance(0, "21-00-00-1b-32-0a-bc-de", "2.02") + Instance(1, "21-00-00-1b-32-0a-bc-df", "3.00") +
         Instance(2, "21-00-00-1b-32-0a-bc-df", "3.10"));
    component_->catalogue.devices = {
        {.device_id = L"1077.2532.1077.015C", .model = L"QLE2562", .boot = L"3.00", .duration = L"90"},
    };
    Adapter("10772532", "1077015c", "21:00:00:1B:32:0A:BC:DE");  // older: upgrade
    Adapter("10772532", "1077015c", "21:00:00:1B:32:0A:BC:DF");  // two instances: the higher one wins
    Adapter("10772532", "1077015c", "21:00:00:1B:32:0A:BC:E0");  // not in the query: empty active
    Adapter("10779999", "1077015c", "21:00:00:1B:32:0A:BC:DE");  // not in the catalogue: skipped
    component_->DiscoverFirmware();
    const auto& devices = component_->result.devices;
    ASSERT_EQ(devices.size(), 3u);
    const std::pair<std::wstring, std::wstring> expected[] = {
        {L"2.02", L"upgrade"}, {L"3.10", L"downgrade"}, {L"", L"upgrade"}};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].device_id, L"1077.2532.1077.015C");
        EXPECT_EQ(devices[i].product_id, L"QLE2562");
        ASSERT_EQ(devices[i].fw_items.size(), 1u);
        const hbafw::FirmwareItem& item = devices[i].fw_items[0];
        EXPECT_EQ(item.type, L"Multiboot Image");
        EXPECT_EQ(item.version, L"3.00");
        EXPECT_EQ(item.duration, L"90");
        EXPECT_EQ(item.shared, L"no");
        EXPECT_EQ(item.active_version, expected[i].first) << i;
        EXPECT_EQ(item.action, expected[i].second) << i;
    }
}

TEST_F(QLogicComponent, NineLinesScanOneInstance) {
    Tool(Instance(0, "aa", "1.0") + "echo 'HBA Instance: 1'\necho 'Port Name: bb'\necho 'Flash Image: 2.0'\necho x\n");
    component_->catalogue.devices = {{.device_id = L"1077.2532", .boot = L"2.0"}};
    Adapter("10772532", "N/A", "BB");
    component_->DiscoverFirmware();
    ASSERT_EQ(component_->result.devices.size(), 1u);
    EXPECT_EQ(component_->result.devices[0].fw_items[0].active_version, L"");
}

// Captured texts a well-behaved tool does not print: no final newline, the
// capture's own "ERROR", and more instances than the table holds.
TEST_F(QLogicComponent, CapturedTextEdges) {
    std::string seventy;
    for (int i = 0; i < 70; ++i)
        seventy += "HBA Instance: " + std::to_string(i) + "\nPort Name: p" + std::to_string(i) +
                   "\nFlash Image: " + std::to_string(i) + ".0\nModel: Q\nSerial: S\n";
    struct Row {
        const char* name;
        std::string output;
        const char* port;
        std::wstring active;
    };
    const Row rows[] = {
        {"no final newline", "HBA Instance: 0\nPort Name: aa\nFlash Image: 2.02\nx\ny", "AA", L"2.02"},
        {"four lines scan nothing", "HBA Instance: 0\nPort Name: aa\nFlash Image: 2.02\nx\n", "AA", L""},
        {"capture failed", "ERROR", "AA", L""},
        {"last instance in the table", seventy, "P63", L"63.0"},
        {"instances past the table", seventy, "P64", L""},
    };
    component_->catalogue.devices = {{.device_id = L"1077.2532", .boot = L"2.02"}};
    Adapter("10772532", "N/A", "");
    for (const Row& row : rows) {
        component_->result.devices.clear();
        std::snprintf(component_->adapters.front().portWwn, 256, "%s", row.port);
        component_->ReadQueryOutput(row.output);
        ASSERT_EQ(component_->result.devices.size(), 1u) << row.name;
        EXPECT_EQ(component_->result.devices[0].fw_items[0].active_version, row.active) << row.name;
    }
}

TEST_F(QLogicComponent, MissingToolStillListsCataloguedAdapters) {
    component_->catalogue.devices = {{.device_id = L"1077.2532.1077.015c", .boot = L"1.0"}};
    Adapter("10772532", "1077015c", "21:00:00:1B:32:0A:BC:DE");
    component_->DiscoverFirmware();
    ASSERT_EQ(component_->result.devices.size(), 1u);
    EXPECT_EQ(component_->result.devices[0].fw_items[0].action, L"upgrade");
}

TEST_F(QLogicComponent, ContainmentLookupAndNormalize) {
    component_->catalogue.devices = {{.device_id = L"ffff.0000"}, {.device_id = L"1077.2532.1077.015C"},
                                     {.device_id = L"1077.2532"}};
    EXPECT_EQ(component_->FindReferenceDevice(L"1077.2532"), 2);      // equality first
    EXPECT_EQ(component_->FindReferenceDevice(L"2532.1077"), 1);      // then containment
    EXPECT_EQ(component_->FindReferenceDevice(L"1077.015c"), 1);      // ignoring case
    EXPECT_EQ(component_->FindReferenceDevice(L"abcd"), -1);
    EXPECT_EQ(component_->NormalizeVersion(L"v.2.02 (beta)"), L"2.02");
    EXPECT_EQ(component_->NormalizeVersion(L"3.00v.1"), L"3.001");
    EXPECT_EQ(component_->NormalizeVersion(L"plain"), L"plain");
}

TEST_F(QLogicComponent, FlashCommandAndLog) {
    Tool("echo \"args:$*\"\necho err >&2\necho three >&3\nexit 201\n");
    component_->silent = true;
    component_->force = true;
    EXPECT_EQ(component_->Flash(), 1);
    EXPECT_EQ(ReadFile(paths_.componentLog),
              "Executing flash engine: ./qlafwupdate /s /f\nargs:/s /f\nerr\nthree\nFlash Engine exit code: 201\n");
}

TEST_F(QLogicComponent, FlashKilledBySignalFails) {
    Tool("kill -KILL $$\n");
    EXPECT_EQ(component_->Flash(), 7);
    EXPECT_EQ(ReadFile(paths_.componentLog),
              "Executing flash engine: ./qlafwupdate\nERROR! : The flash engine was ended by signal 9.\n");
}

}  // namespace
}  // namespace QLogicComp
