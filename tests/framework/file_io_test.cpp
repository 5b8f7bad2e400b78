// Writes that must never follow a link, block on a FIFO or leave half a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "framework/file_io.h"
#include "inventory/file_trust.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

namespace fs = std::filesystem;

// What the folder holds besides the test's own fixtures, so a stray temporary shows.
std::string Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names) out += name + " ";
    return out;
}

TEST(OpenRegularForAppend, OnlyARegularFileReachedWithoutALink) {
    struct Row {
        const char* name;
        bool opens;
    };
    const Row rows[] = {{"file", true}, {"new", true}, {"link", false}, {"dangling", false},
                        {"fifo", false}, {"folder", false}};
    testing::TempDir dir;
    testing::WriteFile(dir.file("file"), "a\n");
    testing::WriteFile(dir.file("target"), "untouched\n");
    fs::create_symlink(dir.file("target"), dir.file("link"));
    fs::create_symlink(dir.file("absent"), dir.file("dangling"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);  // no reader: an open for writing would block
    fs::create_directory(dir.file("folder"));
    for (const Row& row : rows) {
        int fd = OpenRegularForAppend(dir.file(row.name));
        EXPECT_EQ(fd >= 0, row.opens) << row.name;
        if (fd >= 0) {
            EXPECT_TRUE(WriteAll(fd, "b\n")) << row.name;
            close(fd);
        }
    }
    EXPECT_EQ(testing::ReadFile(dir.file("file")), "a\nb\n");
    EXPECT_EQ(testing::ReadFile(dir.file("new")), "b\n");
    EXPECT_EQ(testing::ReadFile(dir.file("target")), "untouched\n");
    EXPECT_FALSE(fs::exists(dir.file("absent")));
}

TEST(ReplaceFile, WholeFileOrNothingAndNoTemporaryLeft) {
    struct Row {
        const char* name;
        const char* path;  // in the folder
        bool replaced;
        std::string listing;  // of the folder afterwards
    };
    const Row rows[] = {
        {"existing file", "report.xml", true, "folder link report.xml target theirs "},
        {"new file", "new.xml", true, "folder link new.xml report.xml target theirs "},
        {"dash is a name", "-", true, "- folder link report.xml target theirs "},
        {"link", "link", false, "folder link report.xml target theirs "},
        {"folder", "folder", false, "folder link report.xml target theirs "},
        {"missing folder", "absent/r.xml", false, "folder link report.xml target theirs "},
        {"trailing slash", "report.xml/", false, "folder link report.xml target theirs "},
        {"another user's file", "theirs", false, "folder link report.xml target theirs "},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        testing::WriteFile(dir.file("report.xml"), "old\n");
        chmod(dir.file("report.xml").c_str(), 0640);
        testing::WriteFile(dir.file("target"), "old\n");
        fs::create_symlink(dir.file("target"), dir.file("link"));
        fs::create_directory(dir.file("folder"));
        testing::WriteFile(dir.file("theirs"), "old\n");
        chmod(dir.file("theirs").c_str(), 06777);
        if (chown(dir.file("theirs").c_str(), 65534, 65534) != 0) GTEST_SKIP() << "needs root to make another user's file";

        EXPECT_EQ(ReplaceFile(dir.file(row.path), "new\n"), row.replaced) << row.name;
        EXPECT_EQ(Listing(dir.path()), row.listing) << row.name;
        if (row.replaced) {
            EXPECT_EQ(testing::ReadFile(dir.file(row.path)), "new\n") << row.name;
        }
        EXPECT_EQ(testing::ReadFile(dir.file("target")), "old\n") << row.name;
        EXPECT_EQ(testing::ReadFile(dir.file("theirs")), "old\n") << row.name;
        EXPECT_EQ(fs::is_symlink(dir.file("link")), true) << row.name;
        EXPECT_EQ(fs::status(dir.file("report.xml")).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
            << row.name;
    }
    EXPECT_FALSE(ReplaceFile("", "x"));
}

// Whatever the umask, and never a set-uid, set-gid or sticky bit.
TEST(ReplaceFile, ModesAreExplicit) {
    testing::TempDir dir;
    testing::WriteFile(dir.file("special"), "old\n");
    chmod(dir.file("special").c_str(), 07755);
    mode_t saved = umask(0);
    EXPECT_TRUE(ReplaceFile(dir.file("new"), "x"));
    EXPECT_TRUE(ReplaceFile(dir.file("special"), "x"));
    EXPECT_TRUE(MakeFolders(dir.file("a/b")));
    fs::create_directory(dir.file("left"));
    chmod(dir.file("left").c_str(), 01777);
    EXPECT_TRUE(MakeFolders(dir.file("left")));
    int fd = OpenRegularForAppend(dir.file("a/b/log"));
    umask(saved);
    close(fd);
    for (const auto& [name, mode] : {std::pair{"new", 0644}, {"special", 0755}, {"a", 0755}, {"a/b", 0755}, {"a/b/log", 0644}, {"left", 01755}})
        EXPECT_EQ(static_cast<int>(fs::status(dir.file(name)).permissions()), mode) << name;
}

TEST(PrepareTool, RefusesWhatOthersCouldHaveWritten) {
    struct Row {
        const char* name;
        mode_t mode;
        uid_t owner;
        ToolState state;
        int modeAfter;
        std::string entry = "tool";  // as the kit names it, inside the folder
    };
    const Row rows[] = {
        {"root's, read-only for others", 0744, 0, ToolState::Ready, 0755},
        {"writable by all", 0777, 0, ToolState::Unsafe, 0777},
        {"writable by the group", 0775, 0, ToolState::Unsafe, 0775},
        {"another user's", 0755, 65534, ToolState::Unsafe, 0755},
        {"a link to root's own file", 0600, 0, ToolState::Unsafe, 0600, "link"},
        {"below a linked folder", 0600, 0, ToolState::Unsafe, 0600, "folder/tool"},
        {"out of the folder and back", 0600, 0, ToolState::Unsafe, 0600, "../kit/tool"},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        fs::create_directory(dir.file("kit"));
        testing::WriteFile(dir.file("kit/tool"), "#!/bin/sh\n");
        fs::create_symlink("tool", dir.file("kit/link"));
        fs::create_directory_symlink(".", dir.file("kit/folder"));
        chmod(dir.file("kit/tool").c_str(), row.mode);
        if (chown(dir.file("kit/tool").c_str(), row.owner, 0) != 0) GTEST_SKIP() << "needs root to give files away";
        EXPECT_EQ(PrepareTool(dir.file("kit"), row.entry, kToolMode), row.state) << row.name;
        EXPECT_EQ(static_cast<int>(fs::status(dir.file("kit/tool")).permissions()), row.modeAfter) << row.name;
    }
    testing::TempDir dir;
    EXPECT_EQ(PrepareTool(dir.file("absent"), kToolMode), ToolState::Missing);
    EXPECT_EQ(PrepareTool(dir.path().string(), kToolMode), ToolState::Unsafe);
    fs::create_symlink("/bin/true", dir.file("link"));
    EXPECT_EQ(PrepareTool(dir.file("link"), kToolMode), ToolState::Unsafe);
}

}  // namespace
}  // namespace hbafw
