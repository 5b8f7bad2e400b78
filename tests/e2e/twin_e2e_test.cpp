// Twins: a machine captured by hbafw-inventory --capture and laid again by the
// builder (capture:DIR) answers the component as the original did: the same
// discovery report, a full run's console, log and exit code, and the report
// after that run.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/fc_host_tree.h"
#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

namespace fs = std::filesystem;

struct Twin {
    const char* name;
    const char* preset;
    std::vector<std::string> settings = {};
    std::vector<std::string> replay = {};  // settings for the twin alone
    const char* build = "hbafw-qlogic";
    void (*adjust)(sim::MachineDescription&) = nullptr;
    bool anonymize = false;
    bool afterFlash = false;  // the report after the full run is compared too
    // Beside the QLogic library, Debian's libhbalinux over an FCoE port.
    bool libhbalinux = false;
    // Texts the captured folder must not hold.
    std::vector<std::string> hidden = {};
};

const Twin kTwins[] = {
    {.name = "QLogic", .preset = "qlogic"},
    {.name = "Emulex", .preset = "emulex", .build = "hbafw-emulex"},
    {.name = "Brocade", .preset = "brocade", .build = "hbafw-brocade"},
    {.name = "MixedVendors", .preset = "qlogic+emulex+brocade", .build = "hbafw-brocade"},
    {.name = "MixedVendorsQLogicBuild", .preset = "qlogic+brocade"},
    {.name = "ToolQueryFails", .preset = "qlogic",
     .adjust = [](sim::MachineDescription& d) { d.qlafwupdate.query = "qlafwupdate: no adapter answered (-5)\n"; }},
    {.name = "LibraryMissing", .preset = "qlogic", .settings = {"library./usr/lib/libqlsdm.so=none"}},
    {.name = "NoAdapter", .preset = "qlogic", .settings = {"adapters=0"}},
    {.name = "Anonymized", .preset = "qlogic", .anonymize = true,
     .hidden = {"20:00:00:1B:32:0A:0B:0C", "21-00-00-1b-32-0a-0b-0c", "21:01:00:1B:32:0A:0B:0C", "SIM0001", "SIM0000"}},
    // Tool states no capture can see, given to the twin by the builder's keys;
    // the preset's flash makes the images 3.10 and 3.28.
    {.name = "FlashModeOnTheTwin", .preset = "qlogic", .settings = {"flash=exit 12"}, .replay = {"flash=exit 12"}},
    {.name = "FlashedImagesOnTheTwin", .preset = "qlogic", .replay = {"flashed.0=3.10", "flashed.1=3.28"},
     .afterFlash = true},
    {.name = "Libhbalinux", .preset = "qlogic", .libhbalinux = true},
};

void PrintTo(const Twin& row, std::ostream* os) { *os << row.name; }

std::string FolderText(const fs::path& folder) {
    std::string text;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        if (entry.is_regular_file()) text.append(std::istreambuf_iterator<char>(file), {});
    }
    return text;
}

// The machine's files but the simulated library's own (sim/) and the capture's.
std::vector<std::string> Listing(const fs::path& root, const fs::path& captured) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string relative = fs::relative(entry.path(), root).string();
        if (!relative.starts_with("sim/") && !entry.path().string().starts_with(captured.string()))
            names.push_back(relative);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class TwinE2e : public SandboxTest, public ::testing::WithParamInterface<Twin> {};

TEST_P(TwinE2e, AnswersTheComponentAsTheOriginal) {
    const Twin& row = GetParam();
    if (row.libhbalinux && !sim::LibhbalinuxUnavailable().empty()) GTEST_SKIP() << sim::LibhbalinuxUnavailable();
    sim::MachineDescription description = sim::Preset(row.preset, row.settings);
    if (row.adjust) row.adjust(description);
    if (row.libhbalinux) {
        *description.hbaConf += sim::HbaConf({{"hbalinux", sim::kLibhbalinuxPath}});
        description.fcoePorts = {sim::FcoePort{}};
    }
    machine.Lay(description);
    if (row.libhbalinux) SuppressTheLibrarysOwnLeaks();

    const fs::path captured = machine.Path("captured");
    const std::vector<std::string> before = Listing(machine.root(), captured);
    std::vector<std::string> arguments = {"--capture", captured.string()};
    if (row.anonymize) arguments.push_back("--anonymize");
    sim::RunResult capture = machine.RunBuild("hbafw-inventory", arguments);
    ASSERT_EQ(capture.exitCode, 0) << row.name << ": " << capture.out << capture.err;
    EXPECT_EQ(Listing(machine.root(), captured), before) << row.name << ": the capture wrote outside its folder";
    EXPECT_EQ(fs::status(captured).permissions(), fs::perms::owner_all) << row.name;
    std::string capturedText = FolderText(captured);
    for (const std::string& text : row.hidden)
        EXPECT_EQ(capturedText.find(text), std::string::npos) << row.name << ": " << text << " left in the capture";

    sim::Machine twin;
    twin.Lay(sim::Preset("capture:" + captured.string(), row.replay));
    std::vector<std::vector<std::string>> runs = {{"/d", "report.xml"}, {}};
    if (row.afterFlash) runs.push_back({"/d", "report.xml"});
    for (const std::vector<std::string>& run : runs) {
        fs::remove(machine.Path(sim::Machine::kLogFile));
        fs::remove(twin.Path(sim::Machine::kLogFile));
        sim::RunResult original = machine.RunBuild(row.build, run), replayed = twin.RunBuild(row.build, run);
        std::string what = std::string(row.name) + (run.empty() ? ", full run" : ", discovery report");
        EXPECT_EQ(replayed.exitCode, original.exitCode) << what;
        EXPECT_EQ(replayed.out, original.out) << what;
        EXPECT_EQ(twin.Log(), machine.Log()) << what;
        EXPECT_EQ(twin.ReadFile("work/report.xml"), machine.ReadFile("work/report.xml")) << what;
    }
}

// A capture goes into a new or empty folder, with no option but --anonymize.
TEST_F(SandboxTest, CaptureWantsAFolderOfItsOwn) {
    machine.Lay(sim::Preset("qlogic"));
    machine.WriteFile("taken/notes", "an operator's\n");
    const std::string taken = machine.Path("taken").string();
    std::filesystem::permissions(taken, std::filesystem::perms(0755));
    sim::RunResult refused = machine.RunBuild("hbafw-inventory", {"--capture", taken});
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_EQ(refused.err, "ERROR! : the capture folder must be new or empty, a folder of root's: " + taken + "\n");
    EXPECT_EQ(machine.ReadFile("taken/notes"), "an operator's\n");
    EXPECT_EQ(std::filesystem::status(taken).permissions(), std::filesystem::perms(0755));
    for (const std::vector<std::string>& words : {std::vector<std::string>{"--anonymize"},
                                                  {"--capture", "twin", "--json"},
                                                  {"--capture", "twin", "--anonymize", "--anonymize"}})
        EXPECT_EQ(machine.RunBuild("hbafw-inventory", words).exitCode, 2) << words.back();
    EXPECT_FALSE(machine.Exists("work/twin"));
}

INSTANTIATE_TEST_SUITE_P(Machines, TwinE2e, ::testing::ValuesIn(kTwins),
                         [](const ::testing::TestParamInfo<Twin>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hbafw::e2e
