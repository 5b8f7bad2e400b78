// The option table: aliases, the word after "/d", early stop on "/h", and
// the GNU-style words answered or refused before a component exists.
#include <gtest/gtest.h>

#include <vector>

#include "framework/command_line.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

struct ParseRow {
    std::vector<const char*> args;  // after the program name
    int expected;
    bool silent, force, selfDiscovery;
    const char* path;
    bool usageShown;
};

TEST(CommandLine, OptionTable) {
    const ParseRow rows[] = {
        {{}, kParseRun, false, false, false, "", false},
        {{"/s"}, kParseRun, true, false, false, "", false},
        {{"-s"}, kParseRun, true, false, false, "", false},
        {{"/S", "/F"}, kParseRun, false, false, false, "", false},
        {{"/f"}, kParseRun, false, true, false, "", false},
        {{"-f"}, kParseRun, false, true, false, "", false},
        {{"/e"}, kParseRun, false, true, false, "", false},
        {{"-e"}, kParseRun, false, true, false, "", false},
        {{"/g"}, kParseRun, false, true, false, "", false},
        {{"-g"}, kParseRun, false, true, false, "", false},
        {{"/d", "out.xml"}, kParseRun, false, false, true, "out.xml", false},
        {{"-d", "out.xml", "/f"}, kParseRun, false, true, true, "out.xml", false},
        {{"/d"}, kParseBad, false, false, true, "", true},
        {{"/s", "/d"}, kParseBad, true, false, true, "", true},
        {{"/d", "/s"}, kParseRun, true, false, true, "/s", false},
        {{"/d", "/h"}, kParseUsage, false, false, true, "/h", true},
        {{"/d", "a.xml", "/d", "b.xml"}, kParseRun, false, false, true, "b.xml", false},
        {{"/h", "/s"}, kParseUsage, false, false, false, "", true},
        {{"-h"}, kParseUsage, false, false, false, "", true},
        {{"x", "--force", "/ f"}, kParseRun, false, false, false, "", false},
    };
    testing::TempDir dir;
    for (const ParseRow& row : rows) {
        SystemPaths paths;
        paths.componentLog = dir.file("Component.log");
        CBaseCmp component(paths);
        std::vector<const char*> argv = {"hbafw-qlogic"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        std::string joined;
        for (const char* a : row.args) joined += std::string(a) + " ";
        ::testing::internal::CaptureStdout();
        int r = ParseCommandLine(component, static_cast<int>(argv.size()), argv.data());
        std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(r, row.expected) << joined;
        EXPECT_EQ(component.silent, row.silent) << joined;
        EXPECT_EQ(component.log.quiet(), row.silent) << joined;
        EXPECT_EQ(component.force, row.force) << joined;
        EXPECT_EQ(component.selfDiscovery, row.selfDiscovery) << joined;
        EXPECT_EQ(component.discoveryXmlPath, row.path) << joined;
        EXPECT_EQ(!out.empty(), row.usageShown) << joined;
    }
}

struct ScanRow {
    std::vector<const char*> args;  // after the program name
    int expected;
    bool usageShown;
};

TEST(CommandLine, LongOptionsAnsweredBeforeTheComponent) {
    const ScanRow rows[] = {
        {{"/s", "/f", "/d", "out.xml"}, kParseRun, false},
        {{"/s", "--help", "/f"}, kParseUsage, true},
        {{"--version"}, kParseVersion, false},
        {{"/f", "-V"}, kParseVersion, false},
        {{"--force"}, kParseBad, true},
        {{"/d", "--report"}, kParseBad, true},
        {{"--bogus", "--help"}, kParseBad, true},
        // The slash options' own usage comes first; unknown single words stay ignored.
        {{"/h", "--bogus"}, kParseRun, false},
        {{"-v", "-help", "/help", "/V"}, kParseRun, false},
    };
    for (const ScanRow& row : rows) {
        std::vector<const char*> argv = {"hbafw-qlogic"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        ::testing::internal::CaptureStdout();
        int r = ScanLongOptions(static_cast<int>(argv.size()), argv.data());
        bool shown = !::testing::internal::GetCapturedStdout().empty();
        EXPECT_EQ(r, row.expected) << ::testing::PrintToString(row.args);
        EXPECT_EQ(shown, row.usageShown) << ::testing::PrintToString(row.args);
    }
}

TEST(CommandLine, UsageText) {
    ::testing::internal::CaptureStdout();
    PrintUsage();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "TRXXXXXX.zelpak [options]\n"
              "    options\n"
              "    --------------------------\n"
              "    /f = Force the installation\n"
              "    /s = Execute silently\n"
              "    /d [path] = Perform self-discovery and output to [path]\n");
}

}  // namespace
}  // namespace hbafw
