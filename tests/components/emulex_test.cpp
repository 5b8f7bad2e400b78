// The Emulex component against a scripted kit script in a temporary working
// folder: the line pattern and its rules, the split comparison, the statuses.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "../framework/temp_dir.h"
#include "components/emulex/component.h"
#include "framework/trust_refusals.h"

namespace EmulexComp {
namespace {

using hbafw::testing::ReadFile;
using hbafw::testing::ScopedCwd;
using hbafw::testing::TempDir;
using hbafw::testing::WriteFile;

TEST(EmulexSplitCompare, Table) {
    struct Row {
        std::wstring v, a;
        int expected;
    };
    const Row rows[] = {
        {L"202A1", L"202A1", 0},  {L"2.82A4", L"2.82A3", 1}, {L"2.82A4", L"3.00A1", -1},
        {L"202", L"101", 0},      // digits only: empty head and tail on both sides
        {L"2.10", L"2.9", 1},     // tails compare as versions: 10 > 9
        {L"5.12a0", L"5.12A0", 1}, {L"", L"1.0", -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SplitCompare(row.v, row.a), row.expected)
            << std::string(row.v.begin(), row.v.end()) << " vs " << std::string(row.a.begin(), row.a.end());
}

TEST(EmulexStatus, Table) {
    const std::string notice =
        "For RX410SFP or TK2000E CNAs, please use the \"Firmware image for offline update\" (OneConnect ISO) tool "
        "available on " + std::string(kSupportAddress) + "\n";
    struct Row {
        int status;
        std::string logged;
        int exitCode;
    };
    const Row rows[] = {
        {0, "All updates were successful.  Reboot needed.\n", 1},
        {1, "No operation performed.  No updates needed or discovery command executed.\n", 3},
        {2, "All updates failed.\n", 7},
        {6, "All updates failed.\n", 7},
        {7, "", 7},
        {8, "", 8},
        {10, "", 10},
        {11, "All updates were successful.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {12, "No updates needed.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {13, "All updates failed.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {14, "Some updates failed.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {15, "No supported hardware found.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {16, "No updates available.  Skipped any RX410SFP or TK2000E CNAs.\n" + notice, 7},
        {17, "", 17},
        {255, "", 255},
    };
    for (const Row& row : rows) {
        TempDir dir;
        hbafw::ComponentLog log(dir.file("Component.log"));
        log.setQuiet(true);
        EXPECT_EQ(ReportScriptStatus(log, row.status), row.exitCode) << row.status;
        EXPECT_EQ(ReadFile(log.path()), row.logged) << row.status;
    }
}

class EmulexComponent : public ::testing::Test {
protected:
    EmulexComponent() : cwd_(dir_.path()) {
        paths_.componentLog = dir_.file("Component.log");
        paths_.kitFolders = var_.file("vkx/kits");
        component_ = std::make_unique<CComponent>(paths_);
        component_->log.setQuiet(true);
    }
    // A kit zip whose script prints these lines for "/q /sysfs". An older kit's
    // unpacked folder lies beside it, and its script must never run.
    void Kit(const std::vector<std::string>& lines, const std::string& update = "exit 0") {
        std::string script = "#!/bin/sh\nif [ \"$1\" = /q ]; then\ncat <<'END'\n";
        for (const std::string& line : lines) script += line + "\n";
        script += "END\nexit 0\nfi\necho \"args:$*\"\n" + update + "\n";
        Script("kit/elxflashStandalone-x/lx/elxflash.sh", script);
        ASSERT_EQ(std::system(("cd " + dir_.file("kit") + " && zip -qr ../elxflashStandalone-x.zip . && cd .. && rm -r kit").c_str()), 0);
        Script("elxflashStandalone-old/lx/elxflash.sh", "#!/bin/sh\necho old kit ran >&2\nexit 9\n");
    }
    // The kit's private copies, kept outside the working folder.
    int KitFolders() const {
        int count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(var_.path()))
            count += entry.path().filename().string().starts_with("hbafw-kit.");
        return count;
    }
    void Script(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir_.file(path)).parent_path());
        WriteFile(dir_.file(path), text);
        std::filesystem::permissions(dir_.file(path), std::filesystem::perms::owner_all);
    }
    TempDir dir_, var_;
    ScopedCwd cwd_;
    hbafw::SystemPaths paths_;
    std::unique_ptr<CComponent> component_;
};

std::string Line(const std::string& model, const std::string& ids, const std::string& firmware,
                 const std::string& boot) {
    return "HBA=" + model + ", Port=0, " + ids + ", Firmware=" + firmware + ", Boot Code=" + boot + ", Status=ok";
}

TEST_F(EmulexComponent, LineRules) {
    const std::string ids = "PCI ID=F100, VID=10DF, SSID=F100, SVID=10DF";
    Kit({"Emulex discovery", "", Line("LPe16002", ids, "11.2.156.27", "US11.2.156.12"),
         Line("LPe12002", ids, "ab2.02A1", "xx5.12A0"), Line("OCe11102", ids, "4.2.433.3", "4.2.433.3"),
         Line("LPe11002", "PCI ID=DF, VID=10DF, SSID=F1, SVID=10DF", "US2.82A4", "UU1.71"),
         Line("LPe1150", "PCI ID=1, VID=10DF, SSID=F100, SVID=10DF", "X", "B"),
         "HBA=broken line without fields"});
    component_->catalogue.devices = {
        {.device_id = L"10df.f100.10df.f100", .model = L"Any", .firmware = L"202A1", .bios = L"5.12A0", .duration = L"9"},
        {.device_id = L"10DF.00DF.10DF.00F1", .model = L"Padded", .firmware = L"2.82A4", .bios = L""},
        {.device_id = L"10DF.0001.10DF.F100", .model = L"Short", .firmware = L"1", .bios = L"1"},
    };
    component_->catalogue.devices[1].biosPresent = 0;
    ASSERT_TRUE(component_->DiscoverAdapters());
    const auto& d = component_->result.devices;
    ASSERT_EQ(d.size(), 5u);
    struct Expect {
        std::wstring deviceId, version, active, action;
        std::size_t items;
        std::wstring biosActive, biosAction;
    };
    const Expect expected[] = {
        {L"10DF.F100.10DF.F100", L"12.0.346.48", L"11.2.156.27", L"upgrade", 2, L"11.2.156.12", L"downgrade"},
        {L"10DF.F100.10DF.F100", L"202A1", L"202A1", L"rewrite", 2, L"5.12A0", L"rewrite"},
        {L"10DF.F100.10DF.F100", L"202A1", L"424333", L"downgrade", 2, L"4.2.433.3", L"upgrade"},
        {L"10DF.00DF.10DF.00F1", L"2.82A4", L"2.82A4", L"rewrite", 1, L"", L""},
        {L"10DF.0001.10DF.F100", L"1", L"", L"upgrade", 2, L"", L"rewrite"},  // "1" is all digits: empty pieces
    };
    for (std::size_t i = 0; i < d.size(); ++i) {
        EXPECT_EQ(d[i].device_id, expected[i].deviceId) << i;
        ASSERT_EQ(d[i].fw_items.size(), expected[i].items) << i;
        EXPECT_EQ(d[i].fw_items[0].type, L"Firmware");
        EXPECT_EQ(d[i].fw_items[0].version, expected[i].version) << i;
        EXPECT_EQ(d[i].fw_items[0].active_version, expected[i].active) << i;
        EXPECT_EQ(d[i].fw_items[0].action, expected[i].action) << i;
        EXPECT_EQ(d[i].fw_items[0].shared, L"no");
        if (expected[i].items == 2) {
            EXPECT_EQ(d[i].fw_items[1].type, L"Boot BIOS ROM");
            EXPECT_EQ(d[i].fw_items[1].active_version, expected[i].biosActive) << i;
            EXPECT_EQ(d[i].fw_items[1].action, expected[i].biosAction) << i;
            EXPECT_EQ(d[i].fw_items[1].shared, L"");
        }
    }
    EXPECT_EQ(component_->result.type, L"");  // the header is not set by this discovery
    EXPECT_EQ(ReadFile(paths_.componentLog), "Preparing the Emulex Kit...done\n");
}

TEST_F(EmulexComponent, CapturedTextEdges) {
    const std::string line = Line("LPe12002", "PCI ID=F100, VID=10DF, SSID=F100, SVID=10DF", "ab2.02A1", "xx5.12A0");
    struct Row {
        const char* name;
        std::string output;
        std::size_t devices;
    };
    const Row rows[] = {
        {"no final newline", "head\n" + line, 1},
        {"CRLF lines", line + "\r\n" + line + "\r\n", 2},
        {"capture failed", "ERROR", 0},
        {"a NUL byte before the line's end", line + std::string(1, '\0') + "\n", 1},
        {"an id of five characters", "HBA=LPe12002, PCI ID=F1000, VID=10DF, SSID=F100, SVID=10DF, Firmware=ab1, Boot Code=x1", 0},
    };
    component_->catalogue.devices = {{.device_id = L"10df.f100.10df.f100", .firmware = L"2.02A1", .bios = L"5.12A0"}};
    for (const Row& row : rows) {
        component_->result.devices.clear();
        component_->ReadQueryOutput(row.output);
        EXPECT_EQ(component_->result.devices.size(), row.devices) << row.name;
    }
}

// Never "nothing to do": each kit that cannot serve fails discovery, with its reason logged.
TEST_F(EmulexComponent, KitThatCannotServeFailsDiscovery) {
    struct Row {
        const char* name;
        std::function<void()> lay;
        std::string reason;
    };
    const auto zip = [&](const char* name, const char* content) { WriteFile(dir_.file(name), content); };
    const Row rows[] = {
        {"no kit", [] {}, kNoKit},
        {"two kits", [&] { Kit({}); zip("elxflashStandalone-y.zip", "PK"); }, kSeveralKits},
        {"corrupt kit", [&] { zip("elxflashStandalone-x.zip", "not a zip"); },
         std::string(kKitNotUnpacked) + "elxflashStandalone-x.zip, unzip exit code 9.\n"},
        {"kit without script", [&] {
             Script("kit/other/readme", "");
             ASSERT_EQ(std::system(("cd " + dir_.file("kit") + " && zip -qr ../elxflashStandalone-x.zip .").c_str()), 0);
         }, kKitWithoutScript},
        {"kit whose script is a link", [&] {
             Script("kit/elxflashStandalone-x/readme", "");
             std::filesystem::create_directory_symlink("/etc", dir_.file("kit/elxflashStandalone-x/lx"));
             ASSERT_EQ(std::system(("cd " + dir_.file("kit") + " && zip -qry ../elxflashStandalone-x.zip .").c_str()), 0);
         }, hbafw::kToolRefused},
        {"kit others may write", [&] { Kit({}); chmod(dir_.file("elxflashStandalone-x.zip").c_str(), 0666); },
         std::string(hbafw::kToolRefused) + "./elxflashStandalone-x.zip" + hbafw::kToolRefusedWhy},
    };
    for (const Row& row : rows) {
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) std::filesystem::remove_all(entry);
        row.lay();
        CComponent component(paths_);
        component.log.setQuiet(true);
        EXPECT_FALSE(component.DiscoverAdapters()) << row.name;
        std::string log = ReadFile(paths_.componentLog);
        EXPECT_EQ(log.substr(0, log.find('\n') + 1), "Preparing the Emulex Kit...FAILED!\n") << row.name;
        EXPECT_EQ(log.find(row.reason), log.find('\n') + 1) << row.name << "\n" << log;
    }
}

TEST_F(EmulexComponent, FlashCommands) {
    for (bool force : {false, true}) {
        TempDir log;
        Kit({}, "exit 11");
        hbafw::SystemPaths paths = paths_;
        paths.componentLog = log.file("Component.log");
        std::filesystem::create_directories(paths.kitFolders);
        chmod(paths.kitFolders.c_str(), 0777);
        {
            CComponent component(paths);
            component.log.setQuiet(true);
            component.force = force;
            ASSERT_EQ(component.PrepareKit(), 0);
            EXPECT_EQ(component.Flash(), 7);
            EXPECT_EQ(KitFolders(), 1) << "a private copy per run";
            EXPECT_EQ(std::filesystem::status(paths.kitFolders).permissions(), std::filesystem::perms::owner_all);
        }
        EXPECT_EQ(KitFolders(), 0) << "the private copy goes with the run";
        std::filesystem::remove(dir_.file("elxflashStandalone-x.zip"));
        std::string mode = force ? " /f " : " /update ";
        std::string text = ReadFile(paths.componentLog);
        EXPECT_EQ(text.find("Preparing the Emulex Kit...done\nExecuting flash engine: ./elxflashStandalone*/lx/elxflash.sh "
                            "/sysfs " + mode + "1>> " + paths.componentLog + " 2>> "),
                  0u)
            << text;
        EXPECT_EQ(text.find("old kit"), std::string::npos) << text;
        EXPECT_NE(text.find("args:/sysfs" + std::string(force ? " /f" : " /update") + "\nFlash Engine exit code: 11\n"),
                  std::string::npos)
            << text;
    }
    EXPECT_EQ(component_->NormalizeVersion(L"2.02 beta"), L"2.02");
}

}  // namespace
}  // namespace EmulexComp
