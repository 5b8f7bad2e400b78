// The sysfs lookup against temporary trees built like the kernel's.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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
    for (const Row& row : rows)
        EXPECT_EQ(LookupPciIdentity(row.domain, row.bus, row.function, row.low, row.high, sys), row.result)
            << int(row.bus) << "." << int(row.function) << " " << std::hex << row.low << " " << row.high;
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
