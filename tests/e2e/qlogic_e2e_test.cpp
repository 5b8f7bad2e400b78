// End-to-end runs of the QLogic build over machines with simulated adapters and
// the simulated qlafwupdate: exact console, log and exit code of discovery,
// flash and every way the flash engine can end.
#include <string>
#include <vector>

#include "sim/vendor_tools.h"
#include "tests/e2e/qlogic_machine.h"
#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

sim::RunResult RunQLogicOn(const sim::Machine& m, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {sim::BuildBinary("hbafw-qlogic")};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return m.Run(command);
}

class QLogicE2e : public SandboxTest {
protected:
    void Lay(const std::string& image1, const std::string& image2, sim::EngineBehaviour flash = {}) {
        e2e::Lay(machine, image1, image2, flash);
    }
};

TEST_F(QLogicE2e, UpgradePendingIsFlashed) {
    Lay("2.10", "3.20");
    sim::RunResult run = RunQLogic({});
    std::string flash = kFlashing + "Executing flash engine: ./qlafwupdate\n";
    std::string end = "Flash Engine exit code: 0\nFlash complete [1]\n";
    EXPECT_EQ(run.out, kUpToDiscovery + flash + end);
    EXPECT_EQ(machine.Log(), kUpToDiscovery + flash + kToolOutput + end);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(sim::ToolCalls(machine, "qlafwupdate"), "\n");
}

TEST_F(QLogicE2e, OptionsAndOutcomes) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        std::string image1, image2;
        std::string console;  // after discovery
        std::string calls;    // the engine's arguments, one line per call
        int exitCode;
    };
    const Row rows[] = {
        {"rewrite only", {}, "3.00", "3.20", "NOTICE : No operation was done.\n", "", 3},
        {"downgrade only", {}, "4.00", "3.20", "NOTICE : No operation was done.\n", "", 3},
        {"forced downgrade", {"/f"}, "4.00", "3.20",
         kFlashing + "Executing flash engine: ./qlafwupdate /f\nFlash Engine exit code: 0\nFlash complete [1]\n", "/f\n",
         1},
        {"upper-case force ignored", {"/F"}, "4.00", "3.20", "NOTICE : No operation was done.\n", "", 3},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        e2e::Lay(m, row.image1, row.image2);
        sim::RunResult run = RunQLogicOn(m, row.args);
        EXPECT_EQ(run.out, kUpToDiscovery + row.console) << row.name;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
        EXPECT_EQ(sim::ToolCalls(m, "qlafwupdate"), row.calls) << row.name;
    }
}

TEST_F(QLogicE2e, SilentRunLogsEverything) {
    Lay("2.10", "3.20");
    sim::RunResult run = RunQLogic({"/s", "/f"});
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(machine.Log(), kUpToDiscovery + kFlashing + "Executing flash engine: ./qlafwupdate /s /f\n" +
                                 kToolOutput + "Flash Engine exit code: 0\nFlash complete [1]\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(sim::ToolCalls(machine, "qlafwupdate"), "/s /f\n");
}

TEST_F(QLogicE2e, EngineEndings) {
    struct Row {
        std::string mode;
        std::string logTail;  // after the "Executing" line
        int exitCode;
    };
    const Row rows[] = {
        {"exit 0", kToolOutput + "Flash Engine exit code: 0\n", 1},
        {"exit 201", kToolOutput + "Flash Engine exit code: 201\n", 1},
        {"exit 255", kToolOutput + "Flash Engine exit code: 255\n", 1},
        {"exit 1", kToolOutput + "Flash Engine exit code: 1\n", 3},
        {"exit 2", kToolOutput + "Flash Engine exit code: 2\n", 7},
        {"exit 10", kToolOutput + "Flash Engine exit code: 10\n", 7},
        {"exit 11", kToolOutput + "Flash Engine exit code: 11\n", 11},
        {"exit 12", kToolOutput + "Flash Engine exit code: 12\n", 12},
        {"exit 14", kToolOutput + "Flash Engine exit code: 14\n", 7},
        {"exit 15", kToolOutput + "Flash Engine exit code: 15\n", 15},
        {"exit 17", kToolOutput + "Flash Engine exit code: 17\n", 7},
        {"exit 18", kToolOutput + "Flash Engine exit code: 18\n", 18},
        {"signal KILL", kToolOutput + "ERROR! : The flash engine was ended by signal 9.\n", 7},
        {"silent", "Flash Engine exit code: 0\n", 1},
        {"hang 1", kToolOutput + "Flash Engine exit code: 0\n", 1},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        e2e::Lay(m, "2.10", "3.20", {row.mode});
        sim::RunResult run = RunQLogicOn(m, {});
        std::string head = kUpToDiscovery + kFlashing + "Executing flash engine: ./qlafwupdate\n";
        std::string done = "Flash complete [" + std::to_string(row.exitCode) + "]\n";
        EXPECT_EQ(m.Log(), head + row.logTail + done) << row.mode;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.mode;
    }
}

TEST_F(QLogicE2e, MissingToolIsNotSuccess) {
    Lay("2.10", "3.20");
    std::filesystem::remove(machine.Path("work/qlafwupdate"));
    sim::RunResult run = RunQLogic({});
    // Without the tool no active version is known, so every item is an upgrade;
    // the engine that cannot start is the component's failure, not a status 127.
    EXPECT_EQ(run.out, kUpToDiscovery + kFlashing +
                           "Executing flash engine: ./qlafwupdate\nERROR! : The flash engine could not be started.\n"
                           "Flash complete [7]\n");
    EXPECT_EQ(run.exitCode, 7);
}

TEST_F(QLogicE2e, DiscoveryReportListsBothAdapters) {
    Lay("2.10", "3.20");
    sim::RunResult run = RunQLogic({"/d", "report.xml"});
    EXPECT_EQ(run.out, kUpToDiscovery + "Generating self-discovery XML...done.\n");
    EXPECT_EQ(run.exitCode, 3);
    std::string report = machine.ReadFile("work/report.xml");
    for (const char* expected :
         {"<type value=\"QLogic Fibre Channel HBA\"/>", "<device_id value=\"1077.2532.1077.015C\"/>",
          "<product_id value=\"QLE2562\"/>", "<active_version value=\"2.10\"/>", "<action value=\"upgrade\"/>",
          "<device_id value=\"1077.2031.1077.0170\"/>", "<active_version value=\"3.20\"/>",
          "<action value=\"rewrite\"/>", "<type value=\"Multiboot Image\"/>", "<shared value=\"no\"/>"})
        EXPECT_NE(report.find(expected), std::string::npos) << expected << "\n" << report;
    EXPECT_LT(report.find("1077.2532"), report.find("1077.2031"));
    EXPECT_EQ(sim::ToolCalls(machine, "qlafwupdate"), "");
}

TEST_F(QLogicE2e, NineLineQueryConsidersOneInstance) {
    Lay("", "");
    sim::SetQlafwupdateQuery(machine,
                             "HBA Instance: 0\nPort Name: 21-00-00-1b-32-0a-0b-01\nFlash Image: 3.00\nx\ny\n"
                             "HBA Instance: 1\nPort Name: 21-00-00-1b-32-0a-0b-02\nFlash Image: 3.20\nz\n");
    RunQLogic({"/d", "report.xml"});
    std::string report = machine.ReadFile("work/report.xml");
    EXPECT_NE(report.find("<active_version value=\"3.00\"/>"), std::string::npos) << report;
    EXPECT_EQ(report.find("<active_version value=\"3.20\"/>"), std::string::npos) << report;
}

}  // namespace
}  // namespace hbafw::e2e
