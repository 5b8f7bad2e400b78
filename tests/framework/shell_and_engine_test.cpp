// Captured commands and flash engine outcomes, with real shell commands.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/flash_engine.h"
#include "framework/run_lock.h"
#include "framework/shell_capture.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

TEST(RunAndCapture, KeepsOutputByteForByte) {
    struct Row {
        std::string command;
        std::string expected;
    };
    const Row rows[] = {
        {"true", ""},
        {"printf 'a\\n\\nb'", "a\n\nb"},
        {"printf '%0300d\\n' 0", std::string(300, '0') + "\n"},
        {"printf 'x\\000y\\n'", std::string("x\0y\n", 4)},
        {"echo out; echo err >&2; exit 3", "out\n"},
        {"head -c 100000 /dev/zero | tr '\\000' z", std::string(100000, 'z')},
    };
    for (const Row& row : rows) EXPECT_EQ(RunAndCapture(row.command), row.expected) << row.command;
}

TEST(WidenText, StopsAtUnconvertibleByte) {
    EXPECT_EQ(WidenText("2.02 (x86)"), L"2.02 (x86)");
    EXPECT_EQ(WidenText(""), L"");
    EXPECT_EQ(WidenText("ab\xff" "cd"), L"ab");
}

// What the log holds after the engine: its output, then the ending line.
std::string Logged(const std::string& tail) { return "Executing flash engine: engine\n" + tail; }

TEST(FlashEngine, OutcomesAndTheirReport) {
    struct Row {
        std::vector<std::string> program;
        EngineOutcome::End end;
        int value;
        std::string tail;  // after the "Executing" line
    };
    testing::TempDir dir;
    testing::WriteFile(dir.file("plain"), "exit 0\n");  // not executable
    const std::string sid = std::to_string(getsid(0)), group = std::to_string(getpgrp());
    const std::string lock = dir.file("Component.lock");
    const Row rows[] = {
        {{"sh", "-c", "exit 0"}, EngineOutcome::End::Exited, 0, "Flash Engine exit code: 0\n"},
        {{"sh", "-c", "exit 201"}, EngineOutcome::End::Exited, 201, "Flash Engine exit code: 201\n"},
        {{"sh", "-c", "kill -KILL $$"}, EngineOutcome::End::Signalled, 9,
         "ERROR! : The flash engine was ended by signal 9.\n"},
        {{"sh", "-c", "kill -USR1 $$"}, EngineOutcome::End::Signalled, 10,
         "ERROR! : The flash engine was ended by signal 10.\n"},
        // A stop request or hang-up does not reach the engine.
        {{"sh", "-c", "kill -TERM $$; kill -HUP $$; exit 4"}, EngineOutcome::End::Exited, 4,
         "Flash Engine exit code: 4\n"},
        // Neither a missing nor a non-executable engine passes on the shell's 127 or 126.
        {{"./no-such-engine"}, EngineOutcome::End::NotStarted, 0, "ERROR! : The flash engine could not be started.\n"},
        {{dir.file("plain")}, EngineOutcome::End::NotStarted, 0, "ERROR! : The flash engine could not be started.\n"},
        // Out of the caller's session and process group, reading /dev/null, holding the lock.
        // The shell closes its pipe ends while ls lists them: those vanishing entries are no error.
        {{"sh", "-c",
          "read -r _ _ _ group _ sid _ < /proc/$$/stat; [ $sid != " + sid + " ] && [ $group != " + group +
              " ] && [ $(readlink /proc/$$/fd/0) = /dev/null ] && ls -l /proc/$$/fd 2>/dev/null | grep -q " + lock + " && grep -qx flashing " + lock + " && exit 5"},
         EngineOutcome::End::Exited, 5, "Flash Engine exit code: 5\n"},
    };
    RunLock held(lock);
    ASSERT_EQ(held.state(), RunLock::State::Held);
    for (const Row& row : rows) {
        testing::TempDir logDir;
        ComponentLog log(logDir.file("Component.log"));
        log.setQuiet(true);
        EngineOutcome outcome = RunFlashEngine(log, &held, "engine", row.program);
        EXPECT_EQ(outcome.end, row.end) << row.program.back();
        EXPECT_EQ(outcome.value, row.value) << row.program.back();
        EXPECT_EQ(testing::ReadFile(log.path()), Logged(row.tail)) << row.program.back();
        EXPECT_EQ(testing::ReadFile(lock), "") << row.program.back();
    }
}

TEST(FlashEngine, RedirectionAppendsAllThreeStreamsToTheLog) {
    testing::TempDir dir;
    ComponentLog log(dir.file("log dir/Component.log"));
    log.setQuiet(true);
    log.Write("before\n");
    RunFlashEngine(log, nullptr, "engine", {"sh", "-c", "echo one; echo two >&2; echo three >&3"});
    log.Write("after\n");
    EXPECT_EQ(testing::ReadFile(log.path()), "before\n" + Logged("one\ntwo\nthree\nFlash Engine exit code: 0\nafter\n"));
    EXPECT_EQ(LogRedirection(ComponentLog(dir.file("x"))).find(" 1>> "), 0u);
}

// The engine signals the component: the component lives on, logs the first
// stop request once the engine has ended, and gets its own handling back.
TEST(FlashEngine, StopRequestsWaitForTheEngine) {
    struct Row {
        std::string signals;
        std::string logged;
    };
    const Row rows[] = {
        {"HUP TERM", "NOTICE : Received SIGTERM during the flash; the flash was allowed to finish.\n"},
        {"QUIT", "NOTICE : Received SIGQUIT during the flash; the flash was allowed to finish.\n"},
        {"HUP PIPE", ""},
    };
    for (const Row& row : rows) {
        struct sigaction before {};
        sigaction(SIGTERM, nullptr, &before);
        testing::TempDir dir;
        ComponentLog log(dir.file("Component.log"));
        log.setQuiet(true);
        EngineOutcome outcome = RunFlashEngine(
            log, nullptr, "engine",
            {"sh", "-c", "for s in " + row.signals + "; do kill -$s " + std::to_string(getpid()) + "; done; echo flashed; exit 4"});
        EXPECT_EQ(outcome.end, EngineOutcome::End::Exited) << row.signals;
        EXPECT_EQ(outcome.value, 4) << row.signals;
        EXPECT_EQ(testing::ReadFile(log.path()), Logged("flashed\n" + row.logged + "Flash Engine exit code: 4\n"))
            << row.signals;
        struct sigaction after {};
        sigaction(SIGTERM, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler) << row.signals;
    }
}

// A component killed mid-flash: the engine flashes on, the lock stays held
// until it ends, and the supervisor logs how it ended.
TEST(FlashEngine, EndOfAFlashOutlivesItsComponent) {
    testing::TempDir dir;
    const std::string lock = dir.file("Component.lock"), release = dir.file("release");
    ComponentLog log(dir.file("Component.log"));
    pid_t component = fork();
    ASSERT_GE(component, 0);
    if (component == 0) {
        RunLock held(lock);
        log.setQuiet(true);
        RunFlashEngine(log, &held, "engine", {"sh", "-c", "kill -KILL $0; while [ ! -e $1 ]; do sleep 0.05; done; exit 3",
                                        std::to_string(getpid()), release});
        _exit(0);
    }
    int status = 0;
    waitpid(component, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(RunLock(lock).state(), RunLock::State::HeldElsewhere);
    EXPECT_EQ(testing::ReadFile(lock), "flashing\n");  // the mark of a flash whose end is not logged yet
    testing::WriteFile(release, "");
    const std::string ended = Logged(std::string(kStoppedDuringFlash) + "Flash Engine exit code: 3\n");
    for (int tick = 0; tick < 500 && testing::ReadFile(log.path()) != ended; ++tick) usleep(10000);
    EXPECT_EQ(testing::ReadFile(log.path()), ended);
    for (int tick = 0; tick < 500 && RunLock(lock).state() != RunLock::State::Held; ++tick) usleep(10000);
    EXPECT_EQ(RunLock(lock).state(), RunLock::State::Held);
    EXPECT_EQ(testing::ReadFile(lock), "");
}

}  // namespace
}  // namespace hbafw
