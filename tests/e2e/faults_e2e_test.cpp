// End-to-end runs of the QLogic build under faults an unattended run meets: a
// second run at once, signals to the process group mid-flash, a console that is
// gone, a full file system under the report, a report path that looks like a
// URL or standard output, and a link at the log path.
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

const std::string kAnotherRun = "ERROR! : Another firmware update is running on this machine.\n";
const std::string kLogFailed = "ERROR : Unable to write to log file\n";
const std::string kToolOutput = kQlafwupdateOutput;
const std::string kFlashHead = kUpToDiscovery + kFlashing + "Executing flash engine: ./qlafwupdate\n";
const std::string kFlashEnd = "Flash Engine exit code: 0\nFlash complete [1]\n";
const std::string kReportDone = kUpToDiscovery + "Generating self-discovery XML...done.\n";
const std::string kUsage =
    "TRXXXXXX.zelpak [options]\n    options\n    --------------------------\n    /f = Force the installation\n"
    "    /s = Execute silently\n    /d [path] = Perform self-discovery and output to [path]\n";
// Long enough for any test step; the test releases the engine far sooner.
const std::vector<std::string> kSlowFlash = {"flash=slow 40"};

std::vector<std::string> QLogic(const std::vector<std::string>& arguments) {
    return sim::BuildCommand("hbafw-qlogic", arguments);
}

// Waits up to 30 s for ready(); false when it never became true.
template <typename Ready>
bool WaitFor(Ready ready) {
    for (int tick = 0; tick < 1500; ++tick) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class FaultsE2e : public SandboxTest {
protected:
    bool WaitForFlashCall(const sim::Machine& m) const {
        return WaitFor([&] { return !sim::ToolCalls(m, "qlafwupdate").empty(); });
    }
    static void ReleaseEngine(const sim::Machine& m) { m.WriteFile("sim/qlafwupdate/release", ""); }
};

TEST_F(FaultsE2e, SecondRunWhileOneFlashesStartsNothing) {
    machine.Lay(sim::Preset("qlogic", kSlowFlash));
    sim::BackgroundRun first(machine, QLogic({}), "first");
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(WaitForFlashCall(machine));

    struct Row {
        std::vector<std::string> arguments;
        std::string console;
        int exitCode;
        bool logged;
    };
    const Row rows[] = {
        {{}, kAnotherRun, 7, true},
        {{"/s"}, kAnotherRun, 7, true},  // the caller must learn why, even when silent
        {{"/d", "report.xml"}, kAnotherRun, 7, true},
        {{"/h"}, kUsage, 3, false},
        {{"/d"}, kUsage + "ERROR! : Failed to parse command line\n", 7, false},
    };
    std::string secondRuns;
    for (const Row& row : rows) {
        sim::RunResult second = machine.Run(QLogic(row.arguments));
        std::string label = row.arguments.empty() ? "no option" : row.arguments[0];
        EXPECT_EQ(second.out, row.console) << label;
        EXPECT_EQ(second.exitCode, row.exitCode) << label;
        if (row.logged) secondRuns += kAnotherRun;
    }
    EXPECT_FALSE(machine.Exists("work/report.xml"));
    ReleaseEngine(machine);

    sim::RunResult run = first.Wait();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, kFlashHead + kFlashEnd);
    EXPECT_EQ(sim::ToolCalls(machine, "qlafwupdate"), "\n");
    EXPECT_EQ(machine.Log(), kFlashHead + secondRuns + kToolOutput + kFlashEnd);

    // The lock went with the first run.
    sim::RunResult later = machine.Run(QLogic({"/d", "report.xml"}));
    EXPECT_EQ(later.out, kReportDone);
}

TEST_F(FaultsE2e, SignalsToTheProcessGroupDoNotStopTheFlash) {
    struct Row {
        const char* name;
        std::vector<int> signals;
        std::string notice;
    };
    const auto notice = [](const std::string& name) {
        return "NOTICE : Received " + name + " during the flash; the flash was allowed to finish.\n";
    };
    const Row rows[] = {
        {"hang-up then terminate", {SIGHUP, SIGTERM}, notice("SIGTERM")},
        {"interrupt then quit", {SIGINT, SIGQUIT}, notice("SIGINT")},
        {"hang-up and broken pipe", {SIGHUP, SIGPIPE}, ""},
    };
    // Its own session, like a login's; the wrapping shell passes the exit code
    // on and, as a login shell would, outlives the signals.
    const std::string wrapper =
        "echo $$ > /etc/hbafw-sim/group; trap : HUP INT QUIT TERM PIPE; \"$@\"; exit $?";
    for (const Row& row : rows) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic", kSlowFlash));
        std::vector<std::string> command = {"setsid", "/bin/sh", "-c", wrapper, "sh"};
        command.push_back(sim::BuildBinary("hbafw-qlogic"));
        sim::BackgroundRun flash(m, command, "flash");
        ASSERT_TRUE(flash.started()) << row.name;
        ASSERT_TRUE(WaitForFlashCall(m)) << row.name;
        pid_t group = std::atoi(m.ReadFile("sim/group").c_str());
        ASSERT_GT(group, 1) << row.name;
        for (int signal : row.signals) EXPECT_EQ(kill(-group, signal), 0) << row.name;
        ReleaseEngine(m);

        sim::RunResult run = flash.Wait();
        EXPECT_EQ(run.exitCode, 1) << row.name << "\n" << run.err;
        EXPECT_EQ(m.Log(), kFlashHead + kToolOutput + row.notice + kFlashEnd) << row.name;
        EXPECT_EQ(sim::ToolCalls(m, "qlafwupdate"), "\n") << row.name;
    }
}

TEST_F(FaultsE2e, LostConsoleStopsNothing) {
    struct Row {
        std::vector<std::string> arguments;
        std::string log;
        int exitCode;
    };
    const Row rows[] = {
        {{}, kFlashHead + kToolOutput + kFlashEnd, 1},
        {{"/d", "report.xml"}, kReportDone, 3},
    };
    for (const Row& row : rows) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic"));
        sim::BackgroundRun run(m, QLogic(row.arguments), "closed", sim::BackgroundRun::Console::Closed);
        ASSERT_TRUE(run.started());
        sim::RunResult result = run.Wait();
        std::string label = row.arguments.empty() ? "flash" : "discovery";
        EXPECT_EQ(result.exitCode, row.exitCode) << label;
        EXPECT_EQ(m.Log(), row.log) << label;
    }
}

TEST_F(FaultsE2e, ReportOnAFullFileSystemKeepsWhatWasThere) {
    struct Row {
        const char* name;
        const char* before;  // nullptr: no report yet
        std::string listing;
    };
    const Row rows[] = {
        {"old report", "old report\n", "filler\nreport.xml\n"},
        {"no report", nullptr, "filler\n"},
    };
    // A report larger than a page, so it cannot fit where a one-page old report was.
    sim::MachineDescription description = sim::Preset("qlogic");
    description.catalogue->replace(description.catalogue->find("QLE2562"), 7, std::string(6000, 'Q'));
    for (const Row& row : rows) {
        sim::Machine m;
        m.Lay(description);
        // The tiny file system lives only in the sandbox, so it is looked at there.
        std::string script =
            "mkdir -p full && mount -t tmpfs -o size=16k tiny full || exit 90\n"
            "cd full\n" +
            std::string(row.before ? "printf 'old report\\n' > report.xml\n" : "") +
            "dd if=/dev/zero of=filler bs=1024 2>/dev/null\n"
            "cd ..\n"
            "\"$@\" /d full/report.xml; code=$?\n"
            "ls -A full > /etc/hbafw-sim/listing; cat full/report.xml > /etc/hbafw-sim/after 2>/dev/null\n"
            "exit $code\n";
        std::vector<std::string> command = {"/bin/sh", "-c", script, "sh", sim::BuildBinary("hbafw-qlogic")};
        sim::RunResult run = m.Run(command);
        EXPECT_EQ(run.exitCode, 3) << row.name << "\n" << run.err;
        EXPECT_EQ(run.out, kUpToDiscovery + "Generating self-discovery XML...FAILED!\ndone.\n") << row.name;
        EXPECT_EQ(m.ReadFile("sim/listing"), row.listing) << row.name;
        EXPECT_EQ(m.ReadFile("sim/after"), row.before ? row.before : "") << row.name;
    }
}

TEST_F(FaultsE2e, ReportPathIsALiteralFileName) {
    machine.Lay(sim::Preset("qlogic"));
    for (const std::string path : {"-", "%41.xml", "file:report.xml"}) {
        sim::RunResult run = machine.Run(QLogic({"/d", path}));
        EXPECT_EQ(run.out, kReportDone) << path;
        EXPECT_EQ(run.exitCode, 3) << path;
        EXPECT_NE(machine.ReadFile("work/" + path).find("<tellin_rom_discovery version=\"2.0.0.0\">"),
                  std::string::npos)
            << path;
    }
    EXPECT_FALSE(machine.Exists("work/A.xml"));
    EXPECT_FALSE(machine.Exists("work/report.xml"));
}

TEST_F(FaultsE2e, LinkAtTheLogPathIsNeverWrittenThrough) {
    struct Row {
        const char* name;
        const char* target;  // relative to the machine; nullptr: a dangling link
    };
    const Row rows[] = {
        {"link to a file", "var/vkx/other.log"},
        {"dangling link", nullptr},
    };
    // Every write of a flash run, each followed by the log's own failure line;
    // the engine is not started, as its output could not be recorded.
    std::string console;
    for (const std::string& write :
         {std::string(51, '-') + "\n", std::string("Loading references..."), std::string("done.\n"),
          std::string("Performing discovery...\n"), kFlashing, std::string("Executing flash engine: "),
          std::string("./qlafwupdate"), std::string("\n"),
          std::string("ERROR! : The flash engine could not be started.\n"), std::string("Flash complete ["),
          std::string("7"), std::string("]\n")})
        console += write + kLogFailed;
    for (const Row& row : rows) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic"));
        if (row.target) m.WriteFile(row.target, "someone else's file\n");
        std::filesystem::create_symlink("/var/vkx/other.log", m.Path(sim::Machine::kLogFile));

        sim::RunResult run = m.Run(QLogic({}));
        EXPECT_EQ(run.out, console) << row.name;
        EXPECT_EQ(run.exitCode, 7) << row.name;
        EXPECT_TRUE(std::filesystem::is_symlink(m.Path(sim::Machine::kLogFile))) << row.name;
        EXPECT_EQ(m.Exists("var/vkx/other.log"), row.target != nullptr) << row.name;
        if (row.target) {
            EXPECT_EQ(m.ReadFile(row.target), "someone else's file\n") << row.name;
        }
        EXPECT_EQ(sim::ToolCalls(m, "qlafwupdate"), "") << row.name;
    }
}

}  // namespace
}  // namespace hbafw::e2e
