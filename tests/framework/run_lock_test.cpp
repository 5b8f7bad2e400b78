// The run lock: one holder at a time, released with its holder, and never kept
// by a program the holder started.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/run_lock.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

TEST(RunLock, OneHolderAtATime) {
    testing::TempDir dir;
    std::string path = dir.file("Component.lock");
    {
        RunLock first(path);
        EXPECT_EQ(first.state(), RunLock::State::Held);
        RunLock second(path);
        EXPECT_EQ(second.state(), RunLock::State::HeldElsewhere);
    }
    EXPECT_EQ(RunLock(path).state(), RunLock::State::Held);
    EXPECT_EQ(RunLock(dir.file("absent/Component.lock")).state(), RunLock::State::Unavailable);
}

TEST(RunLock, StartedProgramsDoNotKeepIt) {
    testing::TempDir dir;
    std::string path = dir.file("Component.lock");
    pid_t child;
    {
        RunLock lock(path);
        ASSERT_EQ(lock.state(), RunLock::State::Held);
        // The pipe's write end closes on exec, so end-of-file means the program runs.
        int execed[2];
        ASSERT_EQ(pipe2(execed, O_CLOEXEC), 0);
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(execed[1]);
        char byte;
        while (read(execed[0], &byte, 1) > 0) {
        }
        close(execed[0]);
    }
    // The program outlives the run that started it, and must not block the next.
    EXPECT_EQ(RunLock(path).state(), RunLock::State::Held);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace hbafw
