// End-to-end: sysfs files that make the lookup's own commands complain (cat
// on a directory, grep on binary bytes) leave the console exactly as a normal
// discovery run's, on standard output and standard error. It checks the
// console only; which adapter the lookup then finds is the unit tests' concern.
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "sim/adapters.h"
#include "sim/sysfs_tree.h"
#include "sim/vendor_tools.h"
#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kNormalDiscovery = std::string(51, '-') +
                                     "\nLoading references...done.\nPerforming discovery...\n"
                                     "Generating self-discovery XML...done.\n";

const std::string kCatalogue = R"(<?xml version="1.0"?>
<orvane_fchba_reference>
  <devices>
    <device>
      <type value="QLogic Fibre Channel HBA"/>
      <device_id value="1077.2532.1077.015c"/>
      <model value="QLE2562"/>
      <boot value="3.00"/>
    </device>
  </devices>
</orvane_fchba_reference>
)";

// Two adapters; returns the device directory of the first, the one the row breaks.
fs::path Lay(const sim::Machine& m) {
    sim::SimulatedAdapter first, second;
    first.pci = {0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
    second.name = "qlogic-QLE2562-1";
    second.nodeWwn = "20:00:00:1B:32:0A:0B:0D";
    second.portWwns = {"21:00:00:1B:32:0A:0B:0D"};
    second.pci = {0, 7, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
    sim::SysfsTree tree(m.Path("sys"));
    tree.AddFiller(10);
    fs::path broken = tree.AddAdapter(first.pci);
    tree.AddAdapter(second.pci);
    sim::InstallVendorLibrary(m.Path("usr/lib/libqlsdm.so"));
    m.WriteFile("etc/hba.conf", "qla2xxx\t/usr/lib/libqlsdm.so\n");
    m.WriteFile("sim/adapters.conf", sim::Description({first, second}));
    m.WriteFile("work/reference.xml", kCatalogue);
    sim::InstallQlafwupdate(m, {{first.portWwns[0], "2.10"}, {second.portWwns[0], "2.10"}});
    return broken;
}

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
        row.breakDevice(Lay(m));
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
