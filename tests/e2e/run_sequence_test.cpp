// End-to-end runs of the QLogic build on a simulated machine without adapters:
// command line, usage text, catalogue loading, silent mode and the log file,
// checked byte for byte on the console, in the log and in the exit code.
// Runs that reach adapters or tools belong to the inventory and vendor tests.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

const std::string kRule = std::string(51, '-') + "\n";
const std::string kLoading = "Loading references...";
const std::string kFailed = "FAILED!\n";
const std::string kDone = "done.\n";
const std::string kDiscovering = "Performing discovery...\n";
const std::string kNoAdapters = "WARNING! : No supported adapters found.\n";
const std::string kBadCommandLine = "ERROR! : Failed to parse command line\n";
const std::string kLogFailed = "ERROR : Unable to write to log file\n";

// What a run prints up to its end on a machine without adapters.
const std::string kNoAdapterRun = kRule + kLoading + kDone + kDiscovering + kNoAdapters;
const std::string kMissingCatalogueRun = kRule + kLoading + kFailed;

const std::string kCatalogue = *sim::Preset("qlogic").catalogue;
const std::string kOtherProductCatalogue =
    R"(<?xml version="1.0"?><other_product_reference><devices><device><type value="NIC"/></device></devices></other_product_reference>)";
const std::string kMalformedCatalogue = "<orvane_fchba_reference><devices>";

// Every write of the run, each followed by the log's own failure line.
std::string EachFollowedByLogFailure(const std::vector<std::string>& writes) {
    std::string out;
    for (const std::string& write : writes) out += write + kLogFailed;
    return out;
}

struct RunCase {
    const char* name;
    std::vector<std::string> arguments;
    std::optional<std::string> catalogue;  // none: no reference.xml
    bool logUnwritable = false;
    std::string console;
    std::optional<std::string> log;  // none: the log file must not exist
    int exitCode;
    bool stderrEmpty = true;
    std::string reportPath = "";  // relative to work/; must not exist after the run
};

const RunCase kRunCases[] = {
    {.name = "MissingCatalogue", .arguments = {}, .catalogue = std::nullopt,
     .console = kMissingCatalogueRun, .log = kMissingCatalogueRun, .exitCode = 7},
    {.name = "MissingCatalogueSilent", .arguments = {"/s"}, .catalogue = std::nullopt,
     .console = "", .log = kMissingCatalogueRun, .exitCode = 7},
    {.name = "EmptyCatalogueFile", .arguments = {}, .catalogue = "",
     .console = kMissingCatalogueRun, .log = kMissingCatalogueRun, .exitCode = 7, .stderrEmpty = false},
    {.name = "MalformedCatalogue", .arguments = {}, .catalogue = kMalformedCatalogue,
     .console = kMissingCatalogueRun, .log = kMissingCatalogueRun, .exitCode = 7, .stderrEmpty = false},
    {.name = "OtherProductCatalogue", .arguments = {}, .catalogue = kOtherProductCatalogue,
     .console = kNoAdapterRun, .log = kNoAdapterRun, .exitCode = 7},

    {.name = "Usage", .arguments = {"/h"}, .catalogue = kCatalogue,
     .console = kUsage, .log = "", .exitCode = 3},
    {.name = "UsageDash", .arguments = {"-h"}, .catalogue = kCatalogue,
     .console = kUsage, .log = "", .exitCode = 3},
    {.name = "UsageSilent", .arguments = {"/s", "/h"}, .catalogue = kCatalogue,
     .console = kUsage, .log = "", .exitCode = 3},
    {.name = "UsageAfterDiscoveryPath", .arguments = {"/d", "report.xml", "/h"}, .catalogue = kCatalogue,
     .console = kUsage, .log = "", .exitCode = 3, .reportPath = "report.xml"},
    {.name = "UsageEndsTheScan", .arguments = {"/h", "/d"}, .catalogue = kCatalogue,
     .console = kUsage, .log = "", .exitCode = 3},

    // Refused before the component exists: no log is made, and /s silences nothing of it.
    {.name = "UnknownLongOptionRefused", .arguments = {"/s", "--force"}, .catalogue = kCatalogue,
     .console = kUsage + kBadCommandLine, .log = std::nullopt, .exitCode = 7},

    {.name = "DiscoveryWithoutPath", .arguments = {"/d"}, .catalogue = kCatalogue,
     .console = kUsage + kBadCommandLine, .log = "", .exitCode = 7},
    {.name = "DiscoveryWithoutPathDash", .arguments = {"-d"}, .catalogue = kCatalogue,
     .console = kUsage + kBadCommandLine, .log = "", .exitCode = 7},
    {.name = "DiscoveryWithoutPathSilent", .arguments = {"/s", "/d"}, .catalogue = kCatalogue,
     .console = kUsage + kBadCommandLine, .log = "", .exitCode = 7},
    {.name = "SecondDiscoveryWithoutPath", .arguments = {"/d", "report.xml", "/d"}, .catalogue = kCatalogue,
     .console = kUsage + kBadCommandLine, .log = "", .exitCode = 7, .reportPath = "report.xml"},

    {.name = "NoAdapters", .arguments = {}, .catalogue = kCatalogue,
     .console = kNoAdapterRun, .log = kNoAdapterRun, .exitCode = 7},
    {.name = "NoAdaptersForced", .arguments = {"/f"}, .catalogue = kCatalogue,
     .console = kNoAdapterRun, .log = kNoAdapterRun, .exitCode = 7},
    {.name = "NoAdaptersDiscovery", .arguments = {"/d", "report.xml"}, .catalogue = kCatalogue,
     .console = kNoAdapterRun, .log = kNoAdapterRun, .exitCode = 7, .reportPath = "report.xml"},
    {.name = "NoAdaptersSilent", .arguments = {"/s"}, .catalogue = kCatalogue,
     .console = "", .log = kNoAdapterRun, .exitCode = 7},
    {.name = "NoAdaptersSilentDash", .arguments = {"-s"}, .catalogue = kCatalogue,
     .console = "", .log = kNoAdapterRun, .exitCode = 7},
    {.name = "DiscoveryPathIsSilentFlag", .arguments = {"/d", "/s"}, .catalogue = kCatalogue,
     .console = "", .log = kNoAdapterRun, .exitCode = 7},
    {.name = "UpperCaseOptionsIgnored", .arguments = {"/S", "/F", "/H", "/D", "-S"}, .catalogue = kCatalogue,
     .console = kNoAdapterRun, .log = kNoAdapterRun, .exitCode = 7},

    {.name = "LogUnwritable", .arguments = {}, .catalogue = kCatalogue, .logUnwritable = true,
     .console = EachFollowedByLogFailure({kRule, kLoading, kDone, kDiscovering, kNoAdapters}),
     .log = std::nullopt, .exitCode = 7, .stderrEmpty = false},
    {.name = "LogUnwritableSilent", .arguments = {"/s"}, .catalogue = kCatalogue, .logUnwritable = true,
     .console = kLogFailed + kLogFailed + kLogFailed + kLogFailed + kLogFailed,
     .log = std::nullopt, .exitCode = 7, .stderrEmpty = false},
    {.name = "LogUnwritableMissingCatalogue", .arguments = {}, .catalogue = std::nullopt, .logUnwritable = true,
     .console = EachFollowedByLogFailure({kRule, kLoading, kFailed}),
     .log = std::nullopt, .exitCode = 7, .stderrEmpty = false},
    {.name = "LogUnwritableUsage", .arguments = {"/h"}, .catalogue = kCatalogue, .logUnwritable = true,
     .console = kUsage, .log = std::nullopt, .exitCode = 3, .stderrEmpty = false},
};

// A failing row names itself instead of dumping its bytes.
void PrintTo(const RunCase& row, std::ostream* os) { *os << row.name; }

class RunSequenceTest : public SandboxTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(RunSequenceTest, ConsoleLogAndExitCode) {
    const RunCase& row = GetParam();
    if (row.catalogue) machine.WriteFile(sim::Machine::kReferenceFile, *row.catalogue);
    machine.SetLogUnwritable(row.logUnwritable);

    sim::RunResult run = RunQLogic(row.arguments);

    EXPECT_EQ(run.out, row.console);
    EXPECT_EQ(run.exitCode, row.exitCode) << "stderr: " << run.err;
    if (row.log) {
        ASSERT_TRUE(machine.LogExists());
        EXPECT_EQ(machine.Log(), *row.log);
    } else {
        EXPECT_FALSE(machine.LogExists()) << machine.Log();
    }
    if (row.stderrEmpty) {
        EXPECT_EQ(run.err, "");
    }
    if (!row.reportPath.empty()) {
        EXPECT_FALSE(machine.Exists("work/" + row.reportPath));
    }
}

INSTANTIATE_TEST_SUITE_P(QLogic, RunSequenceTest, ::testing::ValuesIn(kRunCases),
                         [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

using LogAcrossRunsTest = SandboxTest;

// The log is never truncated: what an earlier run (or a tool) left stays first.
TEST_F(LogAcrossRunsTest, RunsAppendToTheSameLog) {
    const std::string earlier = "left by an earlier run\n";
    machine.WriteFile(sim::Machine::kLogFile, earlier);
    machine.WriteFile(sim::Machine::kReferenceFile, kCatalogue);

    sim::RunResult first = RunQLogic({});
    sim::RunResult usage = RunQLogic({"/h"});
    sim::RunResult silent = RunQLogic({"/s"});

    EXPECT_EQ(first.out, kNoAdapterRun);
    EXPECT_EQ(usage.out, kUsage);
    EXPECT_EQ(silent.out, "");
    EXPECT_EQ(machine.Log(), earlier + kNoAdapterRun + kNoAdapterRun);
}

}  // namespace
}  // namespace hbafw::e2e
