// The run lock: one holder at a time, released with its holder, closed to
// others. That a flash engine keeps it is the flash engine's test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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
        EXPECT_EQ(RunLock(path, RunLock::Join::IfPresent).state(), RunLock::State::HeldElsewhere);
    }
    {
        RunLock reader(path, RunLock::Join::IfPresent);
        EXPECT_EQ(reader.state(), RunLock::State::Held);
        EXPECT_EQ(RunLock(path).state(), RunLock::State::HeldElsewhere);
    }
    EXPECT_EQ(RunLock(path).state(), RunLock::State::Held);
    EXPECT_EQ(RunLock(dir.file("absent/Component.lock")).state(), RunLock::State::Unavailable);
}

// Only those who may run the component can hold the lock, and nothing but a
// regular file of this user serves as one. A reader (IfPresent) first, which
// must leave the path as it found it.
TEST(RunLock, OnlyARegularFileClosedToOthers) {
    struct Row {
        const char* name;
        std::function<void(const std::string&)> lay;
        RunLock::State state;
        bool earlierFlashUnseen = false;
        RunLock::State reader = RunLock::State::Refused;
    };
    int oldHolder = -1;
    const Row rows[] = {
        {"new", [](const std::string&) {}, RunLock::State::Held, false, RunLock::State::Unavailable},
        // Someone who opened it while it was readable holds that file, not the lock.
        {"left readable by an earlier build, and held",
         [&](const std::string& p) {
             testing::WriteFile(p, "");
             chmod(p.c_str(), 0644);
             oldHolder = open(p.c_str(), O_RDONLY);
             ASSERT_EQ(flock(oldHolder, LOCK_EX | LOCK_NB), 0);
         },
         RunLock::State::Held, false, RunLock::State::Unavailable},
        {"marked by a flash whose end was not logged",
         [](const std::string& p) { testing::WriteFile(p, "flashing\n"); chmod(p.c_str(), 0600); },
         RunLock::State::Held, true, RunLock::State::Held},
        {"link", [](const std::string& p) { EXPECT_EQ(symlink((p + ".target").c_str(), p.c_str()), 0); }, RunLock::State::Refused},
        {"FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, RunLock::State::Refused},
        {"folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }, RunLock::State::Refused},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        std::string path = dir.file("Component.lock");
        row.lay(path);
        auto seen = [&path] {
            std::error_code error;
            auto status = std::filesystem::symlink_status(path, error);
            return std::pair(status.type(), status.permissions());
        };
        const auto laid = seen();
        {
            RunLock reader(path, RunLock::Join::IfPresent);
            EXPECT_EQ(reader.state(), row.reader) << row.name;
            EXPECT_EQ(reader.EarlierFlashUnseen(), row.earlierFlashUnseen && row.reader == RunLock::State::Held)
                << row.name;
        }
        EXPECT_EQ(seen(), laid) << row.name;
        mode_t saved = umask(0);
        RunLock lock(path);
        umask(saved);
        EXPECT_EQ(lock.state(), row.state) << row.name;
        EXPECT_EQ(lock.EarlierFlashUnseen(), row.earlierFlashUnseen) << row.name;
        EXPECT_EQ(lock.descriptor() >= 0, row.state == RunLock::State::Held) << row.name;
        if (row.state == RunLock::State::Held) {
            EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                                      std::filesystem::perms::owner_write)
                << row.name;
        }
        EXPECT_FALSE(std::filesystem::exists(path + ".target")) << row.name;
        if (oldHolder >= 0) close(oldHolder);
        oldHolder = -1;
    }
}

}  // namespace
}  // namespace hbafw
