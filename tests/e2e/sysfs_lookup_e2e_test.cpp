// End-to-end: sysfs files that make the lookup's own commands complain (cat
// on a directory, grep on binary bytes) leave the console exactly as a normal
// discovery run's, on standard output and standard error. It checks the
// console only; which adapter the lookup then finds is the unit tests' concern.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kNormalDiscovery = std::string(51, '-') +
                                     "\nLoading references...done.\nPerforming discovery...\n"
                                     "Generating self-discovery XML...done.\n";

void ReplaceWithDirectory(const fs::path& file) {
    fs::remove(file);
    fs::create_directory(file);
}

class SysfsLookupE2e : public SandboxTest {};

TEST_F(SysfsLookupE2e, CommandsThatComplainLeaveTheConsoleAsANormalRun) {
    struct Row {
        const char* name;
        std::function<void(const fs::path&)> breakDevice;
    } rows[] = {
        {"normal", [](const fs::path&) {}},
        {"subsystem_device is a directory (confirmation cat)",
         [](const fs::path& d) { ReplaceWithDirectory(d / "subsystem_device"); }},
        {"device is a directory (identity cat)", [](const fs::path& d) { ReplaceWithDirectory(d / "device"); }},
        {"subsystem_vendor holds binary bytes (confirmation grep)",
         [](const fs::path& d) {
             std::ofstream(d / "subsystem_vendor", std::ios::binary) << std::string("\0\n0x1077\n", 9);
         }},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic", {"filler=10"}));
        // The first adapter's device directory is the one the row breaks.
        row.breakDevice(fs::canonical(m.Path("sys/bus/pci/devices/0000:05:00.0")));
        sim::RunResult run = m.Run({sim::BuildBinary("hbafw-qlogic"), "/d", "report.xml"});
        EXPECT_EQ(run.out, kNormalDiscovery) << row.name;
        EXPECT_EQ(run.err, "") << row.name;
        EXPECT_EQ(run.exitCode, 3) << row.name;
        EXPECT_TRUE(m.Exists("work/report.xml")) << row.name;
        EXPECT_EQ(m.Log(), kNormalDiscovery) << row.name;
    }
}

}  // namespace
}  // namespace hbafw::e2e
