// The Brocade component: option ROM versions, the flash statuses and the
// kernel release check with release texts given by the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "../framework/temp_dir.h"
#include "components/brocade/component.h"

namespace BrocadeComp {
namespace {

using hbafw::testing::ReadFile;
using hbafw::testing::ScopedCwd;
using hbafw::testing::TempDir;
using hbafw::testing::WriteFile;

struct Fixture {
    Fixture(KernelReleaseSource source = UnameRelease) : cwd(dir.path()) {
        paths.componentLog = dir.file("Component.log");
        component = std::make_unique<CComponent>(paths, std::move(source));
        component->log.setQuiet(true);
    }
    TempDir dir;
    ScopedCwd cwd;
    hbafw::SystemPaths paths;
    std::unique_ptr<CComponent> component;
};

TEST(Brocade, NormalizeVersion) {
    Fixture f;
    struct Row {
        std::wstring in, out;
    };
    for (const Row& row : {Row{L"BIOS 3.0.3.2 (x86)", L"3.0.3.2"}, Row{L"rev 10.2.3.4", L"10.2.3.4"},
                           Row{L"BIOS_10.1.0.0_(x86)", L"10.1.0.0"}, Row{L"1.2.3.4 then 5.6.7.8", L"5.6.7.8"},
                           Row{L"Undefined", L"Undefined"}, Row{L"3.0.3", L"3.0.3"}, Row{L"", L""},
                           Row{L"a\n1.2.3.4\nb", L"1.2.3.4"}})
        EXPECT_EQ(f.component->NormalizeVersion(row.in), row.out);
}

TEST(Brocade, DiscoverFirmwareFromOptionRom) {
    Fixture f;
    f.component->catalogue.devices = {{.device_id = L"1657.0013.1657.0014", .model = L"825", .bios = L"3.2.0.0"}};
    for (const char* rom : {"BIOS 3.0.3.2 (x86)", "3.2.0.0", "Undefined"}) {
        hbafw::AdapterRecord& r = f.component->adapters.emplace_back();
        std::snprintf(r.pciId, sizeof r.pciId, "16570013");
        std::snprintf(r.subsystemId, sizeof r.subsystemId, "16570014");
        std::snprintf(r.optionRomVersion, sizeof r.optionRomVersion, "%s", rom);
    }
    hbafw::AdapterRecord& unknown = f.component->adapters.emplace_back();
    std::snprintf(unknown.pciId, sizeof unknown.pciId, "N/A");
    f.component->DiscoverFirmware();
    const auto& d = f.component->result.devices;
    ASSERT_EQ(d.size(), 3u);
    const std::pair<std::wstring, std::wstring> expected[] = {
        {L"3.0.3.2", L"upgrade"}, {L"3.2.0.0", L"rewrite"}, {L"Undefined", L"downgrade"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d[i].device_id, L"1657.0013.1657.0014");
        EXPECT_EQ(d[i].product_id, L"825");
        EXPECT_EQ(d[i].fw_items[0].type, L"Boot BIOS ROM");
        EXPECT_EQ(d[i].fw_items[0].active_version, expected[i].first) << i;
        EXPECT_EQ(d[i].fw_items[0].action, expected[i].second) << i;
        EXPECT_EQ(d[i].fw_items[0].shared, L"no");
    }
}

TEST(Brocade, FlashStatuses) {
    for (int status : {0, 1, 2, 255}) {
        Fixture f;
        WriteFile(f.dir.file("bcu_bootupdate"), "#!/bin/sh\necho \"args:$*\"\nexit " + std::to_string(status) + "\n");
        EXPECT_EQ(f.component->Flash(), status == 0 ? 1 : 7) << status;
        EXPECT_EQ(ReadFile(f.paths.componentLog),
                  "Executing flash engine: ./bcu_bootupdate boot --update bfa_boot_fw -a\n"
                  "args:boot --update bfa_boot_fw -a\nFlash Engine exit code: " +
                      std::to_string(status) + "\n");
    }
}

TEST(Brocade, KernelVersion) {
    struct Row {
        const char* release;  // nullptr: uname fails
        bool expected;
        std::string logged;
    };
    const Row rows[] = {
        {"2.6.32-220.el6.x86_64", true, "Kernel : 2  major : 6  minor : 32\n"},
        {"2.6.18-194.el5", false, "Kernel : 2  major : 6  minor : 18\n"},
        {"3.0.13-0.27-default", true, "Kernel : 3  major : 0  minor : 13\n"},
        {"2.4.21", false, "Kernel : 2  major : 4  minor : 21\n"},
        {"2.7.0", true, "Kernel : 2  major : 7  minor : 0\n"},
        {"1.99.99", false, "Kernel : 1  major : 99  minor : 99\n"},
        {"2.6", false, "uname -r: 2.6 is not in a proper format.\n"},
        {"", false, "uname -r:  is not in a proper format.\n"},
        {nullptr, false, "Failed to read kernel version.\n"},
    };
    for (const Row& row : rows) {
        Fixture f([&row](std::string& release) {
            if (row.release == nullptr) return false;
            release = row.release;
            return true;
        });
        EXPECT_EQ(f.component->CheckKernelVersion(), row.expected) << (row.release ? row.release : "(fails)");
        EXPECT_EQ(ReadFile(f.paths.componentLog), row.logged);
    }
}

}  // namespace
}  // namespace BrocadeComp
