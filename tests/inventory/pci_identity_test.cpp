// The sysfs lookup against temporary trees built like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "inventory/pci_identity.h"
#include "inventory/shell_pipe.h"
#include "sim/sysfs_tree.h"

namespace hbafw::test {
namespace {

namespace fs = std::filesystem;

class PciIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hbafw-sysfs-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(PciIdentity, AddressPatternUsesDomainBusAndFunction) {
    EXPECT_EQ(PciAddressPattern(0, 5, 1), "0000:05:\\(\\w\\)*\\.1");
    EXPECT_EQ(PciAddressPattern(0, 5, 0x0a), "0000:05:\\(\\w\\)*\\.a");
    EXPECT_EQ(PciAddressPattern(0, 0, 0), "0000:00:\\(\\w\\)*\\.0");
    EXPECT_EQ(PciAddressPattern(0x12, 0xab, 7), "0012:ab:\\(\\w\\)*\\.7");
}

TEST_F(PciIdentity, LookupCases) {
    std::string sys = (root / "sys").string();
    sim::SysfsTree tree(sys);
    tree.AddFiller(20);
    // A dual-port card: two functions differing only by function number.
    tree.AddAdapter({0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c});
    tree.AddAdapter({0, 5, 0, 1, 0x1077, 0x2533, 0x1077, 0x015c});
    tree.AddAdapter({0, 7, 0, 0, 0x10df, 0xF100, 0x10df, 0xF100});  // subsystem low == high
    tree.AddAdapter({0, 8, 0, 2, 0x1657, 0x0013, 0x1657, 0x0014});
    fs::path upper = tree.AddAdapter({0, 9, 0, 0, 0, 0, 0x1077, 0x0167});
    std::ofstream(upper / "vendor") << "0x1077\n";
    std::ofstream(upper / "device") << "0x25AB\n";
    fs::path missing = tree.AddAdapter({0, 0x0a, 0, 3, 0x1077, 0x2532, 0x1077, 0x0171});
    fs::remove(missing / "device");

    struct Row {
        unsigned char domain, bus, function;
        unsigned low, high;
        const char* result;
    } rows[] = {
        {0, 5, 0, 0x1077, 0x015c, "10772532"},
        {0, 5, 1, 0x1077, 0x015c, "10772533"},
        {0, 5, 1, 0x015c, 0x1077, "10772533"},  // either order
        {0, 5, 2, 0x1077, 0x015c, "N/A"},       // no such function
        {0, 5, 0, 0x1077, 0x0999, "N/A"},       // subsystem_device differs: count 1
        {0, 7, 0, 0x10df, 0xf100, "10dff100"},
        {0, 8, 2, 0x1657, 0x1657, "N/A"},       // equal halves need both files to hold it
        {0, 9, 0, 0x1077, 0x0167, "107725ab"},  // upper-case hex reads the same
        {0, 0x0a, 3, 0x1077, 0x0171, "N/A"},    // device file missing: not a candidate
        {0, 0, 0, 0, 0, "N/A"},                 // location never filled: subsystem test decides
        {1, 5, 0, 0x1077, 0x015c, "N/A"},
    };
    PciIdentityLookup shared(sys);
    for (const Row& row : rows) {
        EXPECT_EQ(LookupPciIdentity(row.domain, row.bus, row.function, row.low, row.high, sys), row.result)
            << int(row.bus) << "." << int(row.function) << " " << std::hex << row.low << " " << row.high;
        EXPECT_EQ(shared.Lookup(row.domain, row.bus, row.function, row.low, row.high), row.result)
            << "shared " << int(row.bus) << "." << int(row.function) << " " << std::hex << row.low << " " << row.high;
    }
}

// The filter that replaces grep, against grep itself on lines built to trip it.
TEST_F(PciIdentity, AddressFilterSelectsWhatGrepSelects) {
    const std::vector<std::string> lines = {
        "/sys/devices/pci0000:00/0000:00:03.0/0000:05:00.1/subsystem_vendor",
        "/sys/devices/pci0000:00/0000:00:03.0/0000:05:1F.1/subsystem_vendor",
        "/sys/devices/pci0000:00/0000:00:03.0/0000:05:1f.0/0000:25:00.0/subsystem_vendor",
        "/sys/devices/pci0000:00/0000:00:03.0/0000:05:00.10/subsystem_vendor",
        "/sys/devices/pci0000:00/0000:00:03.0/0000:05:00.a/subsystem_vendor",
        "/sys/devices/pci0000:00/0000:00:03.0/0000:0A:00.A/subsystem_vendor",
        "/sys/x/0000:05:ab_cd.1", "/sys/x/0000:05:a-b.1", "/sys/x/0000:05:.1", "0000:05:00", "0000:05:00.",
        "0000:0000:05:0.1", "0000:05:0000:05:00.1", "/sys/x/0000:00:00.0/subsystem_vendor", "0000:05:00:1",
        "", "/sys/devices/system/cpu/subsystem_vendor", "0000:05:é.1",
    };
    struct Query {
        unsigned char domain, bus, function;
        std::size_t selected;
    } queries[] = {{0, 5, 1, 7}, {0, 5, 0, 1}, {0, 5, 0x0a, 1}, {0, 0x0a, 0x0a, 1}, {0, 0, 0, 7}, {0, 0x25, 0, 1},
                   {1, 5, 1, 0}};
    std::ofstream(root / "lines") << [&] {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        return text;
    }();
    for (const Query& q : queries) {
        std::vector<std::string> ours, grep;
        for (const std::string& line : lines)
            if (MatchesPciAddress(line, q.domain, q.bus, q.function)) ours.push_back(line);
        ReadCommandLines("LC_ALL=C grep -i -e '" + PciAddressPattern(q.domain, q.bus, q.function) + "' " +
                             QuoteShellWord((root / "lines").string()),
                         [&](const std::string& line) { return grep.push_back(line), false; });
        EXPECT_EQ(ours, grep) << PciAddressPattern(q.domain, q.bus, q.function);
        EXPECT_EQ(ours.size(), q.selected) << PciAddressPattern(q.domain, q.bus, q.function);
    }
}

TEST_F(PciIdentity, ShellCharactersInPathsCannotChangeTheCommand) {
    fs::path sys = root / "sys $(touch INJECTED)'; touch INJECTED2 #";
    sim::SysfsTree tree(sys);
    tree.AddAdapter({0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c});
    fs::path strange = sys / "devices/pci0000:00/x;touch INJECTED3;`touch INJECTED4`";
    fs::create_directories(strange);
    sim::SysfsTree(strange).AddAdapter({0, 6, 0, 0, 0x1077, 0x2031, 0x1077, 0x0170});
    EXPECT_EQ(LookupPciIdentity(0, 5, 0, 0x1077, 0x015c, sys.string()), "10772532");
    EXPECT_EQ(LookupPciIdentity(0, 6, 0, 0x1077, 0x0170, sys.string()), "10772031");
    for (const char* name : {"INJECTED", "INJECTED2", "INJECTED3", "INJECTED4"}) {
        EXPECT_FALSE(fs::exists(name)) << name;
        EXPECT_FALSE(fs::exists(root / name)) << name;
    }
}

// find, grep, cat and wc replaced, ahead on PATH, by stand-ins that log their
// name and complain on standard error before running the real command.
class NoisyCommands : public PciIdentity {
protected:
    void SetUp() override {
        PciIdentity::SetUp();
        path = std::getenv("PATH");
        for (const char* name : {"find", "grep", "cat", "wc"}) {
            std::string real = fs::exists(std::string("/usr/bin/") + name) ? "/usr/bin/" : "/bin/";
            fs::path script = root / "bin" / name;
            fs::create_directories(script.parent_path());
            std::ofstream(script) << "#!/bin/sh\necho " << name << " >> '" << (root / "runs").string()
                                  << "'\necho '" << name << ": complaint' >&2\nexec " << real << name << " \"$@\"\n";
            fs::permissions(script, fs::perms::owner_all);
        }
        ::setenv("PATH", ((root / "bin").string() + ":" + path).c_str(), 1);
    }
    void TearDown() override {
        ::setenv("PATH", path.c_str(), 1);
        PciIdentity::TearDown();
    }
    std::size_t Runs(const std::string& name) {
        std::ifstream log(root / "runs");
        std::size_t runs = 0;
        for (std::string line; std::getline(log, line);) runs += name.empty() || line == name;
        return runs;
    }
    std::string path;
};

TEST_F(NoisyCommands, LookupsPrintNothingAndTheSharedWalkRunsEachCommandOnce) {
    std::string sys = (root / "sys").string();
    sim::SysfsTree tree(sys);
    tree.AddAdapter({0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c});
    tree.AddAdapter({0, 5, 0, 1, 0x1077, 0x2533, 0x1077, 0x015c});
    struct Row {
        unsigned char bus, function;
        unsigned low, high;
        const char* result;
    } rows[] = {{5, 0, 0x1077, 0x015c, "10772532"}, {5, 1, 0x1077, 0x015c, "10772533"},
                {5, 0, 0x1077, 0x015c, "10772532"}, {5, 0, 0x1077, 0x0999, "N/A"}, {0, 0, 0, 0, "N/A"}};
    auto lookUp = [&](PciIdentityLookup& lookup) {
        for (const Row& row : rows)
            EXPECT_EQ(lookup.Lookup(0, row.bus, row.function, row.low, row.high), row.result) << int(row.bus);
    };
    ::testing::internal::CaptureStderr();
    PciIdentityLookup shared(sys);
    lookUp(shared);
    std::size_t commands = Runs("");
    lookUp(shared);  // every answer is remembered now
    EXPECT_EQ(Runs(""), commands);
    EXPECT_EQ(Runs("find"), 1u);
    PciIdentityLookup next(sys);  // a new enumeration starts from nothing
    lookUp(next);
    EXPECT_EQ(Runs(""), 2 * commands);
    for (const Row& row : rows) LookupPciIdentity(0, row.bus, row.function, row.low, row.high, sys);
    EXPECT_EQ(Runs("find"), 2 + std::size(rows));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(commands, 3u);  // the stand-ins did run
}

TEST(ShellWord, QuotesOnlyWhatTheShellWouldRead) {
    struct Row {
        const char* word;
        const char* quoted;
    } rows[] = {{"/sys", "/sys"},
                {"/sys/devices/pci0000:00/0000:00:02.0", "/sys/devices/pci0000:00/0000:00:02.0"},
                {"a b", "'a b'"},
                {"it's", "'it'\\''s'"},
                {"", "''"},
                {"$(x)", "'$(x)'"}};
    for (const Row& row : rows) EXPECT_EQ(QuoteShellWord(row.word), row.quoted);
    EXPECT_EQ(ReadFirstCommandLines("printf 'a\\nb\\nc\\n'", 2), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ReadFirstCommandLines("printf ''", 2).empty());
}

}  // namespace
}  // namespace hbafw::test
