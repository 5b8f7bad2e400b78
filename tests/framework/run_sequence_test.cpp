// The run sequence through a component whose virtual operations are scripted:
// every exit code and message path, without adapters.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/entry.h"
#include "framework/file_io.h"
#include "framework/finished_flash.h"
#include "framework/firmware_action.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

struct Script {
    bool discovers = true;
    std::vector<std::wstring> actions;  // one device holding one item per action; none: no device
    bool reportWritten = true;
    int flashResult = 1;
};

class ScriptedComponent : public CBaseCmp {
public:
    ScriptedComponent(const SystemPaths& paths, Script script) : CBaseCmp(paths), script_(std::move(script)) {}

    bool DiscoverAdapters() override {
        if (!script_.discovers) return CBaseCmp::DiscoverAdapters();  // nothing enumerates in a unit test
        if (!script_.actions.empty()) {
            DiscoveredDevice device;
            for (const std::wstring& action : script_.actions) device.fw_items.push_back({.action = action});
            result.devices.push_back(device);
        }
        return true;
    }
    bool WriteDiscoveryXml() override { return script_.reportWritten; }
    int Flash() override {
        ++flashCalls;
        return script_.flashResult;
    }

    int flashCalls = 0;

private:
    Script script_;
};

// Every file the run may write, in dir; boot id b1.
SystemPaths PathsIn(const testing::TempDir& dir) {
    SystemPaths paths;
    paths.componentLog = dir.file("Component.log");
    paths.runLock = dir.file("Component.lock");
    paths.finishedFlash = dir.file("flashes/finished");
    paths.rebootRequired = dir.file("reboot-required");
    paths.rebootRequiredPackages = dir.file("reboot-required.pkgs");
    paths.bootId = dir.file("boot_id");
    testing::WriteFile(paths.bootId, "b1\n");
    return paths;
}

const std::string kStart = "---------------------------------------------------\nLoading references...";
const std::string kDiscovery = kStart + "done.\nPerforming discovery...\n";

struct RunRow {
    const char* name;
    std::vector<const char*> args;
    bool catalogue;
    Script script;
    int exitCode;
    std::string console;  // what the log file must hold too (without /s both agree)
    int flashCalls;
};

TEST(RunSequence, ExitCodesAndMessages) {
    const RunRow rows[] = {
        {"missing catalogue", {}, false, {}, 7, kStart + "FAILED!\n", 0},
        {"no adapters", {}, true, {.discovers = false}, 7, kDiscovery + "WARNING! : No supported adapters found.\n",
         0},
        {"no adapters, self-discovery", {"/d", "r.xml"}, true, {.discovers = false}, 7,
         kDiscovery + "WARNING! : No supported adapters found.\n", 0},
        {"self-discovery written", {"/d", "r.xml", "/f"}, true, {.actions = {L"upgrade"}}, 3,
         kDiscovery + "Generating self-discovery XML...done.\n", 0},
        {"self-discovery failed", {"/d", "r.xml"}, true, {.reportWritten = false}, 3,
         kDiscovery + "Generating self-discovery XML...FAILED!\ndone.\n", 0},
        {"upgrade pending", {}, true, {.actions = {L"rewrite", L"upgrade"}, .flashResult = 1}, 1,
         kDiscovery + "Performing flash -- DO NOT INTERRUPT!\nFlash complete [1]\n", 1},
        {"flash result passed on", {}, true, {.actions = {L"upgrade"}, .flashResult = -5}, -5,
         kDiscovery + "Performing flash -- DO NOT INTERRUPT!\nFlash complete [-5]\n", 1},
        {"rewrite only", {}, true, {.actions = {L"rewrite"}}, 3, kDiscovery + "NOTICE : No operation was done.\n", 0},
        {"downgrade forced", {"-g"}, true, {.actions = {L"downgrade"}, .flashResult = 7}, 7,
         kDiscovery + "Performing flash -- DO NOT INTERRUPT!\nFlash complete [7]\n", 1},
        {"no device", {}, true, {}, 3, kDiscovery + "NOTICE : No operation was done.\n", 0},
        {"no device forced", {"/f"}, true, {}, 3, kDiscovery + "ERROR! : No supported hardware was found.\n", 0},
        {"upper-case options ignored", {"/F", "/S"}, true, {.actions = {L"rewrite"}}, 3,
         kDiscovery + "NOTICE : No operation was done.\n", 0},
    };
    for (const RunRow& row : rows) {
        for (bool silent : {false, true}) {
            testing::TempDir dir;
            if (row.catalogue) testing::WriteFile(dir.file("reference.xml"), "<orvane_fchba_reference/>");
            testing::ScopedCwd cwd(dir.path());
            SystemPaths paths = PathsIn(dir);
            ScriptedComponent component(paths, row.script);
            std::vector<const char*> argv = {"hbafw-test"};
            argv.insert(argv.end(), row.args.begin(), row.args.end());
            if (silent) argv.push_back("/s");
            ::testing::internal::CaptureStdout();
            int code = ParseAndRun(component, static_cast<int>(argv.size()), argv.data());
            std::string console = ::testing::internal::GetCapturedStdout();
            std::string label = std::string(row.name) + (silent ? " /s" : "");
            EXPECT_EQ(code, row.exitCode) << label;
            EXPECT_EQ(console, silent ? "" : row.console) << label;
            EXPECT_EQ(testing::ReadFile(paths.componentLog), row.console) << label;
            EXPECT_EQ(component.flashCalls, row.flashCalls) << label;
            // Only a flash that ended well is recorded, and raises the signal.
            EXPECT_EQ(FinishedFlashThisBoot(paths).has_value(), code == kExitSuccess) << label;
            EXPECT_EQ(testing::ReadFile(paths.rebootRequiredPackages), code == kExitSuccess ? "hbafw\n" : "") << label;
        }
    }
}

// The record keeps this boot's first flash; one of an earlier boot is
// replaced, and the signal's other packages stay.
TEST(RunSequence, FinishedFlashHoldsUntilTheNextBoot) {
    testing::TempDir dir;
    SystemPaths paths = PathsIn(dir);
    testing::WriteFile(paths.rebootRequiredPackages, "linux-image");
    RecordFinishedFlash(paths, 100);
    RecordFinishedFlash(paths, 200);
    EXPECT_EQ(FinishedFlashThisBoot(paths), std::optional<std::time_t>(100));
    EXPECT_EQ(testing::ReadFile(paths.rebootRequiredPackages), "linux-image\nhbafw\n");
    EXPECT_EQ(testing::ReadFile(paths.rebootRequired), "*** System restart required ***\n");
    EXPECT_EQ(std::filesystem::status(FolderOf(paths.finishedFlash)).permissions(), std::filesystem::perms::owner_all);
    testing::WriteFile(paths.bootId, "b2\n");
    EXPECT_EQ(FinishedFlashThisBoot(paths), std::nullopt);
    RecordFinishedFlash(paths, 300);
    EXPECT_EQ(testing::ReadFile(paths.finishedFlash), FinishedFlashText("b2", 300));
    EXPECT_EQ(testing::ReadFile(paths.rebootRequiredPackages), "linux-image\nhbafw\n");
}

TEST(RunSequence, CommandLineOutcomesBypassTheLog) {
    struct Row {
        std::vector<const char*> args;
        int exitCode;
        bool error;
    };
    for (const Row& row : {Row{{"/d"}, 7, true}, Row{{"/s", "/d"}, 7, true}, Row{{"/d", "x", "/h"}, 3, false}}) {
        testing::TempDir dir;
        testing::ScopedCwd cwd(dir.path());
        SystemPaths paths = PathsIn(dir);
        ScriptedComponent component(paths, {});
        std::vector<const char*> argv = {"hbafw-test"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        ::testing::internal::CaptureStdout();
        int code = ParseAndRun(component, static_cast<int>(argv.size()), argv.data());
        std::string console = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, row.exitCode);
        EXPECT_EQ(console.rfind("TRXXXXXX.zelpak [options]\n", 0), 0u);
        EXPECT_EQ(console.ends_with("ERROR! : Failed to parse command line\n"), row.error);
        EXPECT_EQ(testing::ReadFile(paths.componentLog), "");
    }
}

TEST(ActionSummary, PrecedenceOfActions) {
    struct Row {
        std::vector<std::vector<std::wstring>> devices;
        int expected;
    };
    const Row rows[] = {
        {{}, 0},
        {{{}}, 0},
        {{{L"rewrite"}}, 2},
        {{{L"rewrite", L"downgrade"}}, 4},
        {{{L"downgrade"}, {L"rewrite", L"upgrade"}}, 1},
        {{{L"Upgrade", L"other"}}, 0},
    };
    for (const Row& row : rows) {
        DiscoveryResult result;
        for (const auto& actions : row.devices) {
            DiscoveredDevice device;
            for (const auto& a : actions) device.fw_items.push_back({.action = a});
            result.devices.push_back(device);
        }
        EXPECT_EQ(ActionSummary(result), row.expected);
    }
    EXPECT_EQ(ActionFromComparison(1), L"upgrade");
    EXPECT_EQ(ActionFromComparison(0), L"rewrite");
    EXPECT_EQ(ActionFromComparison(-1), L"downgrade");
}

TEST(FindReferenceDevice, IgnoresCaseOnly) {
    testing::TempDir dir;
    SystemPaths paths;
    paths.componentLog = dir.file("Component.log");
    CBaseCmp component(paths);
    component.catalogue.devices = {{.device_id = L"1077.2532.1077.015C"}, {.device_id = L"1077.2532.1077.015c"}};
    EXPECT_EQ(component.FindReferenceDevice(L"1077.2532.1077.015c"), 0);
    EXPECT_EQ(component.FindReferenceDevice(L"1077.2532.1077.015"), -1);
    EXPECT_EQ(component.FindReferenceDevice(L" 1077.2532.1077.015c"), -1);
}

}  // namespace
}  // namespace hbafw
