// Writes that must never follow a link, block on a FIFO or leave half a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "framework/file_io.h"
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
        {"existing file", "report.xml", true, "folder link report.xml target "},
        {"new file", "new.xml", true, "folder link new.xml report.xml target "},
        {"dash is a name", "-", true, "- folder link report.xml target "},
        {"link", "link", false, "folder link report.xml target "},
        {"folder", "folder", false, "folder link report.xml target "},
        {"missing folder", "absent/r.xml", false, "folder link report.xml target "},
        {"trailing slash", "report.xml/", false, "folder link report.xml target "},
    };
    for (const Row& row : rows) {
        testing::TempDir dir;
        testing::WriteFile(dir.file("report.xml"), "old\n");
        chmod(dir.file("report.xml").c_str(), 0640);
        testing::WriteFile(dir.file("target"), "old\n");
        fs::create_symlink(dir.file("target"), dir.file("link"));
        fs::create_directory(dir.file("folder"));

        EXPECT_EQ(ReplaceFile(dir.file(row.path), "new\n"), row.replaced) << row.name;
        EXPECT_EQ(Listing(dir.path()), row.listing) << row.name;
        if (row.replaced) {
            EXPECT_EQ(testing::ReadFile(dir.file(row.path)), "new\n") << row.name;
        }
        EXPECT_EQ(testing::ReadFile(dir.file("target")), "old\n") << row.name;
        EXPECT_EQ(fs::is_symlink(dir.file("link")), true) << row.name;
        EXPECT_EQ(fs::status(dir.file("report.xml")).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
            << row.name;
    }
    EXPECT_FALSE(ReplaceFile("", "x"));
}

}  // namespace
}  // namespace hbafw
