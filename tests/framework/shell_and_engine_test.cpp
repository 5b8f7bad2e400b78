// Captured commands and flash engine outcomes, with real shell commands.
#include <gtest/gtest.h>
#include <signal.h>


#include "framework/flash_engine.h"
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

TEST(FlashEngine, OutcomesAndTheirReport) {
    struct Row {
        std::string command;
        EngineOutcome::End end;
        int value;
        std::string logged;
    };
    const Row rows[] = {
        {"sh -c 'exit 0'", EngineOutcome::End::Exited, 0, ""},
        {"sh -c 'exit 201'", EngineOutcome::End::Exited, 201, ""},
        {"sh -c 'exit 17'", EngineOutcome::End::Exited, 17, ""},
        {"sh -c 'kill -KILL $$'", EngineOutcome::End::Signalled, 9,
         "ERROR! : The flash engine was ended by signal 9.\n"},
        {"sh -c 'kill -USR1 $$'", EngineOutcome::End::Signalled, 10,
         "ERROR! : The flash engine was ended by signal 10.\n"},
        // A stop request or hang-up does not reach the engine.
        {"sh -c 'kill -TERM $$; kill -HUP $$; exit 4'", EngineOutcome::End::Exited, 4, ""},
        {"./no-such-engine", EngineOutcome::End::Exited, 127, ""},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        ComponentLog log(dir.file("Component.log"));
        log.setQuiet(true);
        EngineOutcome outcome = RunFlashEngine(log, row.command + " 2>/dev/null");
        EXPECT_EQ(outcome.end, row.end) << row.command;
        EXPECT_EQ(outcome.value, row.value) << row.command;
        EXPECT_EQ(ReportAbnormalEnd(log, outcome), !row.logged.empty()) << row.command;
        EXPECT_EQ(testing::ReadFile(log.path()), row.logged) << row.command;
    }
    testing::TempDir dir;
    ComponentLog log(dir.file("Component.log"));
    log.setQuiet(true);
    EXPECT_TRUE(ReportAbnormalEnd(log, {EngineOutcome::End::NotStarted, 0}));
    EXPECT_EQ(testing::ReadFile(log.path()), "ERROR! : The flash engine could not be started.\n");
}

TEST(FlashEngine, RedirectionAppendsAllThreeStreamsToTheLog) {
    testing::TempDir dir;
    ComponentLog log(dir.file("log dir/Component.log"));
    log.setQuiet(true);
    log.Write("before\n");
    RunFlashEngine(log, "sh -c 'echo one; echo two >&2; echo three >&3'");
    log.Write("after\n");
    EXPECT_EQ(testing::ReadFile(log.path()), "before\none\ntwo\nthree\nafter\n");
    EXPECT_EQ(LogRedirection(ComponentLog(dir.file("x"))).find(" 1>> "), 0u);
}

// The engine signals its parent, the component: the component lives on, logs
// the first stop request once the engine has ended, and gets its own handling back.
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
        EngineOutcome outcome =
            RunFlashEngine(log, "sh -c 'for s in " + row.signals + "; do kill -$s $PPID; done; echo flashed; exit 4'");
        EXPECT_EQ(outcome.end, EngineOutcome::End::Exited) << row.signals;
        EXPECT_EQ(outcome.value, 4) << row.signals;
        EXPECT_EQ(testing::ReadFile(log.path()), "flashed\n" + row.logged) << row.signals;
        struct sigaction after {};
        sigaction(SIGTERM, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler) << row.signals;
    }
}

}  // namespace
}  // namespace hbafw
