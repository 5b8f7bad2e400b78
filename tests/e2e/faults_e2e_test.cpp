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
const std::string kEarlierFlashUnseen = "WARNING! : The end of the last flash on this machine was not seen.\n";
const std::string kNotStarted = "ERROR! : The flash engine could not be started.\n";
const std::string kToolOutput = kQlafwupdateOutput;
const std::string kFlashHead = kUpToDiscovery + kFlashing + "Executing flash engine: ./qlafwupdate\n";
const std::string kFlashEnd = "Flash Engine exit code: 0\nFlash complete [1]\n";
const std::string kReportDone = kUpToDiscovery + "Generating self-discovery XML...done.\n";
const std::string kUsage =
    "TRXXXXXX.zelpak [options]\n    options\n    --------------------------\n    /f = Force the installation\n"
    "    /s = Execute silently\n    /d [path] = Perform self-discovery and output to [path]\n";
// Every write of a flash run, each followed by the log's own failure line; the
// engine is not started, as its output could not be recorded.
std::string EveryLogWriteFailed() {
    std::string console;
    for (const std::string& write :
         {std::string(51, '-') + "\n", std::string("Loading references..."), std::string("done.\n"),
          std::string("Performing discovery...\n"), kFlashing, std::string("Executing flash engine: "),
          std::string("./qlafwupdate"), std::string("\n"),
          kNotStarted, std::string("Flash complete ["),
          std::string("7"), std::string("]\n")})
        console += write + kLogFailed;
    return console;
}
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

// Whatever reaches the caller's process group, the engine flashes on in its
// own session, a second run is refused until it ends, and the log tells how it
// ended, also when the component itself was killed.
TEST_F(FaultsE2e, SignalsToTheProcessGroupDoNotStopTheFlash) {
    struct Row {
        const char* name;
        std::vector<int> signals;
        std::string notice;
        std::string end = kFlashEnd;
        int exitCode = 1;
        std::vector<int> afterFlash = {};  // sent once the engine's output is in the log
    };
    const auto notice = [](const std::string& name) {
        return "NOTICE : Received " + name + " during the flash; the flash was allowed to finish.\n";
    };
    const Row rows[] = {
        {"hang-up then terminate", {SIGHUP, SIGTERM}, notice("SIGTERM")},
        {"interrupt then quit", {SIGINT, SIGQUIT}, notice("SIGINT")},
        {"hang-up and broken pipe", {SIGHUP, SIGPIPE}, ""},
        // As Ctrl-Z would (SIGTSTP is dropped for this orphaned group): the
        // component stops, the engine does not.
        {"group stopped", {SIGSTOP}, "", kFlashEnd, 1, {SIGCONT}},
        // An Ansible timeout kills the whole group.
        {"killed", {SIGKILL}, "", "NOTICE : The component was stopped during the flash; Flash Engine exit code: 0\n", 128 + SIGKILL},
    };
    // Its own session, like a login's; the wrapping shell passes the exit code
    // on and, as a login shell would, outlives the catchable signals.
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
        sim::RunResult second = m.Run(QLogic({}));
        EXPECT_EQ(second.out, kAnotherRun) << row.name;
        EXPECT_EQ(second.exitCode, 7) << row.name;
        ReleaseEngine(m);
        EXPECT_TRUE(WaitFor([&] { return m.Log().find(kToolOutput) != std::string::npos; })) << row.name;
        for (int signal : row.afterFlash) EXPECT_EQ(kill(-group, signal), 0) << row.name;

        sim::RunResult run = flash.Wait();
        const std::string log = kFlashHead + kAnotherRun + kToolOutput + row.notice + row.end;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name << "\n" << run.err;
        EXPECT_TRUE(WaitFor([&] { return m.Log() == log; })) << row.name << "\n" << m.Log();
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
    const std::string console = EveryLogWriteFailed();
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

// What an unprivileged local user can try against a root run, each row with
// its sound outcome, on the qlogic preset (an upgrade pending) changed by the
// row's settings. The script runs as root in the sandbox with "$@" the QLogic
// build; ATTACKER runs a command as user 65534; what the script notes in FACTS
// is compared too.
TEST_F(FaultsE2e, LocalUserGainsNothing) {
    struct Row {
        const char* name;
        std::vector<std::string> settings;  // KEY=VALUE
        std::string script;
        std::string console;
        int exitCode;
        std::string facts = "";
        std::string flashCalls = "";
    };
    const std::string refusedLock = "ERROR! : The lock file is not a regular file of this user: /var/vkx/Component.lock\n";
    const std::string refusedTool =
        "ERROR! : Refusing to run ./qlafwupdate: it is a link or not a regular file, owned by another user, or writable "
        "by group or others.\n";
    const Row rows[] = {
        {"report over another user's set-uid file", {},
         "mkdir -m 1777 drop; $ATTACKER sh -c 'echo mine > drop/discovery.xml; chmod 6777 drop/discovery.xml'\n"
         "\"$@\" /d drop/discovery.xml; code=$?; stat -c '%u %a' drop/discovery.xml > $FACTS\n"
         "cat drop/discovery.xml >> $FACTS; exit $code",
         kUpToDiscovery + "Generating self-discovery XML...FAILED!\ndone.\n", 3, "65534 6777\nmine\n"},
        {"tool others may write", {"mode.work/qlafwupdate=777"}, "\"$@\"", kUpToDiscovery + refusedTool, 7},
        {"tool owned by another user", {"owner.work/qlafwupdate=65534:65534"}, "\"$@\"",
         kUpToDiscovery + refusedTool, 7},
        // A root-only file behind the link is neither made executable nor run.
        {"tool that is a link", {},
         "printf 'touch /etc/hbafw-sim/ran\\n' > /etc/hbafw-sim/secret; chmod 600 /etc/hbafw-sim/secret\n"
         "ln -sf /etc/hbafw-sim/secret qlafwupdate; \"$@\"; code=$?\n"
         "stat -c %a /etc/hbafw-sim/secret > $FACTS; [ ! -e /etc/hbafw-sim/ran ] || echo ran >> $FACTS; exit $code",
         kUpToDiscovery + refusedTool, 7, "600\n"},
        {"library others may write", {"mode.usr/lib/libqlsdm.so=666"}, "\"$@\"",
         kUpToDiscovery + "WARNING! : Not loading the library /usr/lib/libqlsdm.so: it is writable by group or others.\n"
         "WARNING! : No supported adapters found.\n", 7},
        {"inventory under the caller's PATH", {},
         "mkdir evil; for c in cat find grep wc; do\n"
         "printf '#!/bin/sh\\ntouch /etc/hbafw-sim/pwned\\n' > evil/$c; chmod 755 evil/$c; done\n"
         "PATH=$PWD/evil:$PATH \"${1%/*}/hbafw-inventory\" > /dev/null; code=$?\n"
         "ls /etc/hbafw-sim/pwned > $FACTS 2>/dev/null; exit $code", "", 0},
        // The user holds the lock file an earlier build left readable; the run
        // goes on, and afterwards flock cannot even open the lock file (66).
        {"user holding the lock", {},
         "lock=/var/vkx/Component.lock; : > $lock; chmod 644 $lock\n"
         "$ATTACKER sh -c 'exec 9< '$lock'; flock 9; exec sleep 60' > /dev/null 2>&1 & holder=$!\n"
         "n=0; until ! $ATTACKER flock -n $lock true || [ $n = 100 ]; do sleep 0.1; n=$((n + 1)); done\n"
         "[ $n != 100 ] || exit 99\n"
         "\"$@\" /d report.xml > /dev/null; echo $? > $FACTS\n"
         "$ATTACKER flock -n $lock true 2>/dev/null; echo $? >> $FACTS; stat -c '%u %a' $lock >> $FACTS\n"
         "kill $holder",
         "", 0, "3\n66\n0 600\n"},
        {"full log folder", {"log=full"}, "\"$@\"", EveryLogWriteFailed(), 7},
        {"umask 000", {},
         "umask 000; \"$@\" /d report.xml > /dev/null; \"$@\" > /dev/null\n"
         "stat -c %a report.xml /var/vkx/Component.log /var/vkx/Component.lock > $FACTS",
         "", 0, "644\n644\n600\n", "\n"},
        {"caller's PATH", {},
         "mkdir evil; for c in cat find grep wc mkdir chmod unzip sh; do\n"
         "printf '#!/bin/sh\\ntouch /etc/hbafw-sim/pwned\\n' > evil/$c; chmod 755 evil/$c; done\n"
         "PATH=$PWD/evil:$PATH \"$@\"; code=$?; ls /etc/hbafw-sim/pwned > $FACTS 2>/dev/null; exit $code",
         kFlashHead + kFlashEnd, 1, "", "\n"},
        {"link at the lock path", {}, "ln -s /var/vkx/other /var/vkx/Component.lock; \"$@\"", refusedLock, 7},
        {"FIFO at the lock path", {}, "mkfifo /var/vkx/Component.lock; \"$@\"", refusedLock, 7},
        {"folder at the lock path", {}, "mkdir /var/vkx/Component.lock; \"$@\"", refusedLock, 7},
        // A power cut, or the component and the flash's supervisor both killed.
        {"flash whose end nobody logged", {},
         "printf 'flashing\\n' > /var/vkx/Component.lock; chmod 600 /var/vkx/Component.lock; \"$@\"; code=$?\n"
         "stat -c %s /var/vkx/Component.lock > $FACTS; exit $code",
         kEarlierFlashUnseen + kFlashHead + kFlashEnd, 1, "0\n",
         "\n"},
        // The log's last block takes the lines, but the file system has none
        // for the mark: a flash it could not mark is not started.
        {"full file system, room in the log", {"log=full", "file.var/vkx/Component.log=earlier run\n"},
         "\"$@\"", kFlashHead + kNotStarted + "Flash complete [7]\n", 7},
        // That flash's warning cannot be logged either, so its mark stays.
        {"unseen end on a full file system",
         {"log=full", "file.var/vkx/Component.lock=flashing\n", "mode.var/vkx/Component.lock=600"},
         "\"$@\"; code=$?; cat /var/vkx/Component.lock > $FACTS; exit $code",
         kEarlierFlashUnseen + kLogFailed + EveryLogWriteFailed(), 7, "flashing\n"},
        {"ignored SIGCHLD", {}, "trap '' CHLD; exec \"$@\"", kFlashHead + kFlashEnd, 1, "", "\n"},
        {"closed standard output", {},
         "\"$@\" >&-; code=$?; stat -c %s /var/vkx/Component.lock > $FACTS; exit $code", "", 1, "0\n", "\n"},
        {"control bytes from the tool", {"image.0=2.02\x01\x1b"},
         "\"$@\" /d report.xml; xmllint --noout report.xml && echo well-formed > $FACTS", kReportDone, 0,
         "well-formed\n"},
    };
    for (const Row& row : rows) {
        sim::MachineDescription description = sim::Preset("qlogic", row.settings);
        sim::Machine m;
        m.Lay(description);
        const std::string script = "ATTACKER='setpriv --reuid=65534 --regid=65534 --clear-groups'\n"
                                   "FACTS=/etc/hbafw-sim/facts\n" + row.script + "\n";
        sim::RunResult run = m.Run({"/bin/sh", "-c", script, "sh", sim::BuildBinary("hbafw-qlogic")});
        EXPECT_EQ(run.out, row.console) << row.name << "\n" << run.err;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name << "\n" << run.err;
        EXPECT_EQ(m.ReadFile("sim/facts"), row.facts) << row.name;
        EXPECT_EQ(sim::ToolCalls(m, "qlafwupdate"), row.flashCalls) << row.name;
    }
}

}  // namespace
}  // namespace hbafw::e2e
