// The log: console and file receive the same characters; quiet spares only the
// console; a log that cannot be opened is reported on every write.
#include <gtest/gtest.h>

#include <filesystem>

#include "framework/component_log.h"
#include "framework/console.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

TEST(ComponentLog, CreatesDirectoryAndFile) {
    testing::TempDir dir;
    std::string path = dir.file("var vkx/Component.log");  // a space must not split the command
    ComponentLog log(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(ComponentLog, WritesReachConsoleAndFileAlike) {
    struct Row {
        bool quiet;
        std::string expectedConsole;
    };
    for (const Row& row : {Row{false, "Loading references...done.\n-1 wide\xe9!\n"}, Row{true, ""}}) {
        testing::TempDir dir;
        ComponentLog log(dir.file("Component.log"));
        log.setQuiet(row.quiet);
        ::testing::internal::CaptureStdout();
        log.Write("Loading references...").Write("done.\n");
        log.Write(-1).Write(L" wide").Write(std::wstring(1, wchar_t(0xE9))).Write("!\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), row.expectedConsole) << "quiet=" << row.quiet;
        EXPECT_EQ(testing::ReadFile(dir.file("Component.log")), "Loading references...done.\n-1 wide\xe9!\n");
    }
}

TEST(ComponentLog, AppendsAcrossLogObjects) {
    testing::TempDir dir;
    ComponentLog(dir.file("Component.log")).Write("first run\n");
    ComponentLog(dir.file("Component.log")).Write("second run\n");
    EXPECT_EQ(testing::ReadFile(dir.file("Component.log")), "first run\nsecond run\n");
}

TEST(ComponentLog, UnwritableLogIsReportedEvenWhenQuiet) {
    testing::TempDir dir;
    testing::WriteFile(dir.file("blocker"), "a file where a directory should be");
    for (bool quiet : {false, true}) {
        ComponentLog log(dir.file("blocker/Component.log"));
        log.setQuiet(quiet);
        ::testing::internal::CaptureStdout();
        log.Write("done.\n").Write(L"wide").Write(7);
        std::string echo = quiet ? "" : "done.\n";
        std::string expected = echo + std::string(kLogWriteFailed) + (quiet ? "" : "wide") +
                               std::string(kLogWriteFailed) + (quiet ? "" : "7") + std::string(kLogWriteFailed);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected) << "quiet=" << quiet;
    }
}

TEST(Console, UnconvertibleWideCharactersBecomeReplacements) {
    // Characters past 0xFF have no byte in the C locale: each becomes '?', and
    // text after them still arrives.
    EXPECT_EQ(NarrowForConsole(L"a\x263A" L"b\x80"), std::string("a?b\x80"));
    ::testing::internal::CaptureStdout();
    ConsoleWrite(std::string_view("narrow "));
    ConsoleWrite(std::wstring_view(L"wide\x4E2D "));
    ConsoleWrite(std::string_view("narrow again\n"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "narrow wide? narrow again\n");
}

}  // namespace
}  // namespace hbafw
