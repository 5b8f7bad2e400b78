// The HBA API layer over real loads of the simulated vendor library: the
// configuration file's edge cases, each registration outcome, adapter
// numbering, handle packing and checking, and the table bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "inventory/file_trust.h"
#include "inventory/hba_api.h"
#include "tests/inventory/inventory_fixture.h"

namespace hbafw::test {
namespace {

using HbaApi = InventoryFixture;

TEST_F(HbaApi, ConfigurationLinesTakeSlotsOnlyWithNameAndPath) {
    std::string lib = Library("qlhbaapi.so");
    struct Row {
        std::string line;
        bool takesSlot;
        std::string name;
        std::string path;
    } rows[] = {
        {"qla\t  " + lib + "\r", true, "qla", lib},
        {"qla " + lib, true, "qla", lib},
        {"qla\t" + lib + "+extra", true, "qla", lib},
        {"qla\t" + lib + " # comment", true, "qla", lib},
        {"nameonly", false, "", ""},
        {"name\t", false, "", ""},
        {"# qla " + lib, false, "", ""},
        {"", false, "", ""},
        {"qla\t+" + lib, false, "", ""},
    };
    for (const Row& row : rows) {
        Write("hba.conf", row.line + "\n");
        ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
        EXPECT_EQ(HbaLibrarySlotsFilled(), row.takesSlot ? 1u : 0u) << row.line;
        if (row.takesSlot) {
            EXPECT_STREQ(HbaLibrarySlot(0).name, row.name.c_str()) << row.line;
            EXPECT_STREQ(HbaLibrarySlot(0).path, row.path.c_str()) << row.line;
            EXPECT_EQ(HbaLibrarySlot(0).status, kLibraryLoaded) << row.line;
        }
    }
}

// The reading alone, on texts whose lines a load could not tell apart.
TEST(HbaConfigReading, UsableLinesInOrder) {
    std::string forty;
    std::vector<std::pair<std::string, std::string>> firstThirtyTwo;
    for (int i = 0; i < 40; ++i) {
        std::string name = "lib" + std::to_string(i), path = "/usr/lib/l" + std::to_string(i) + ".so";
        forty += name + " " + path + "\n";
        if (i < 32) firstThirtyTwo.emplace_back(name, path);
    }
    const std::string path255 = "/" + std::string(254, 'p');
    struct Row {
        const char* name;
        std::string text;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const Row rows[] = {
        {"at most 32 usable lines", "# c\n\nskip\n" + forty, firstThirtyTwo},
        {"last line without newline", "a /x.so\nb\t/y.so", {{"a", "/x.so"}, {"b", "/y.so"}}},
        {"path of 255 kept, 256 skipped", "k " + path255 + "\ns " + path255 + "p\n", {{"k", path255}}},
        {"overlong line cut, not read on", "c /x.so " + std::string(503, '#') + "d /y.so\n", {{"c", "/x.so"}}},
        {"NUL ends the path", std::string("n /a\0b.so\n", 11), {{"n", "/a"}}},
        {"name with blanks before a tab", "my lib\t/z.so\n", {{"my lib", "/z.so"}}},
    };
    for (const Row& row : rows) {
        std::istringstream config(row.text);
        std::vector<HbaConfigLine> lines = ReadHbaConfig(config);
        ASSERT_EQ(lines.size(), row.expected.size()) << row.name;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].name, row.expected[i].first) << row.name;
            EXPECT_EQ(lines[i].path, row.expected[i].second) << row.name;
        }
    }
}

TEST_F(HbaApi, MissingConfigurationReturnsOneAndLoadsNothing) {
    EXPECT_EQ(HBA_LoadLibrary((root / "absent.conf").string()), HBA_STATUS_ERROR);
    EXPECT_EQ(HBA_GetNumberOfAdapters(), 0u);
}

TEST_F(HbaApi, RegistrationOutcomeSetsSlotStatus) {
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")});
    struct Row {
        std::string variant;
        std::string fault;
        HBA_UINT32 status;
    } rows[] = {
        {"full", "", kLibraryLoaded},
        {"full", "register-fails", kLibraryNotLoaded},
        {"full", "version-zero", kLibraryNotLoaded},
        {"full", "load-fails", kLibraryNotLoaded},
        {"full", "no-entry entry=GetVersion", kLibraryNeverLoaded},
        {"full", "no-entry entry=LoadLibrary", kLibraryNeverLoaded},
        {"no_register", "", kLibraryNeverLoaded},
    };
    for (const Row& row : rows) {
        // A fresh slot number each time, since a status left by an earlier
        // load stays when registration cannot decide.
        std::string conf;
        std::string lib = Library("row-" + row.variant + std::to_string(&row - rows) + ".so", row.variant);
        for (long i = 0; i < &row - rows; ++i) conf += "x" + std::to_string(i) + " " + root.string() + "/none.so\n";
        Write("hba.conf", conf + "lib " + lib + "\n");
        Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")},
                 row.fault.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.fault});
        ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
        std::size_t slot = static_cast<std::size_t>(&row - rows);
        EXPECT_EQ(HbaLibrarySlot(slot).status, row.status) << row.variant << " " << row.fault;
        EXPECT_EQ(HBA_GetNumberOfAdapters(), row.status == kLibraryLoaded ? 1u : 0u) << row.fault;
        HBA_FreeLibrary();
    }
    // A library that does not come up is closed at once: every load is matched.
    ExpectBalanced("loaded", "unloaded");
}

// Loaded only when nobody but root or this user could have chosen what loads;
// each refusal is recorded once with its reason, and the slot stays unloaded.
TEST_F(HbaApi, LibraryOthersCouldHaveChangedIsNotLoaded) {
    namespace fs = std::filesystem;
    struct Row {
        const char* name;
        std::string file;      // laid under root
        std::string conf;      // as hba.conf names it; relative to root unless absolute
        std::string shell;     // run in root before loading
        const char* refusal;   // nullptr: loaded
    };
    const Row rows[] = {
        {"root's, closed to others", "usr/lib/plain.so", "/usr/lib/plain.so", "", nullptr},
        {"relative path", "usr/lib/relative.so", "usr/lib/relative.so", "", kNotAbsolute},
        {"writable by others", "usr/lib/open.so", "/usr/lib/open.so", "chmod 666 usr/lib/open.so", kWritableByOthers},
        {"writable by the group", "usr/lib/group.so", "/usr/lib/group.so", "chmod 775 usr/lib/group.so",
         kWritableByOthers},
        {"another user's", "usr/lib/theirs.so", "/usr/lib/theirs.so", "chown 65534 usr/lib/theirs.so", kForeignOwner},
        {"in a folder others may write", "open/lib.so", "/open/lib.so", "chmod 777 open", kUnsafeFolder},
        {"in a sticky folder others may write", "sticky/lib.so", "/sticky/lib.so", "chmod 1777 sticky", nullptr},
        {"in another user's folder", "their/lib.so", "/their/lib.so", "chown 65534 their", kUnsafeFolder},
        {"through root's links", "usr/lib/real.so", "/lib/link.so",
         "ln -s usr/lib lib && ln -s ../lib/real.so usr/lib/link.so", nullptr},
        {"through another user's link", "usr/lib/real2.so", "/usr/lib/their-link.so",
         "ln -s real2.so usr/lib/their-link.so && chown -h 65534 usr/lib/their-link.so", kUnsafeFolder},
        {"links that never end", "usr/lib/x.so", "/usr/lib/loop.so", "ln -s loop.so usr/lib/loop.so", kTooManyLinks},
    };
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")});
    fs::path saved = fs::current_path();
    fs::current_path(root);
    for (const Row& row : rows) {
        sim::InstallVendorLibrary(root / row.file, "full");
        std::string shell = "cd " + root.string() + (row.shell.empty() ? "" : " && " + row.shell);
        ASSERT_EQ(std::system(shell.c_str()), 0) << row.name;
        std::string conf = row.conf.starts_with('/') ? root.string() + row.conf : row.conf;
        Write("hba.conf", "lib " + conf + "\n");
        ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
        EXPECT_EQ(HbaLibrarySlot(0).status == kLibraryLoaded, row.refusal == nullptr) << row.name;
        const std::vector<LibraryRefusal>& refused = RefusedLibraries();
        auto found = std::find_if(refused.begin(), refused.end(), [&](const LibraryRefusal& r) { return r.path == conf; });
        EXPECT_EQ(found == refused.end() ? "" : std::string(found->reason), row.refusal ? row.refusal : "") << row.name;
        HBA_FreeLibrary();
    }
    fs::current_path(saved);
}

TEST_F(HbaApi, LibraryThatDoesNotOpenKeepsItsSlot) {
    std::string lib = Library("qlhbaapi.so");
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")});
    Write("hba.conf", "gone " + root.string() + "/missing.so\nqla " + lib + "\n");
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    EXPECT_EQ(HbaLibrarySlotsFilled(), 2u);
    EXPECT_NE(HbaLibrarySlot(0).status, kLibraryLoaded);
    EXPECT_EQ(HbaLibrarySlot(0).handle, nullptr);
    EXPECT_EQ(HbaLibrarySlot(1).status, kLibraryLoaded);
    ASSERT_EQ(HBA_GetNumberOfAdapters(), 1u);
    EXPECT_EQ(HbaAdapterSlot(0), 1u);
}

TEST_F(HbaApi, AdaptersAreNumberedThroughLibrariesInConfigurationOrder) {
    std::string first = Library("first.so"), second = Library("second.so");
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01", "first.so"),
              Adapter("qlogic-b", "20:00:00:00:00:00:00:02", "21:00:00:00:00:00:00:02", "first.so"),
              Adapter("qlogic-c", "20:00:00:00:00:00:00:03", "21:00:00:00:00:00:00:03", "second.so"),
              Adapter("qlogic-d", "20:00:00:00:00:00:00:04", "21:00:00:00:00:00:00:04", "second.so")});
    Write("hba.conf", "one " + first + "\ntwo " + second + "\n");
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    ASSERT_EQ(HBA_GetNumberOfAdapters(), 4u);
    const char* names[] = {"qlogic-a", "qlogic-b", "qlogic-c", "qlogic-d"};
    for (HBA_UINT32 i = 0; i < 4; ++i) {
        std::string name;
        EXPECT_EQ(HBA_GetAdapterName(i, name), HBA_STATUS_OK);
        EXPECT_EQ(name, names[i]);
        EXPECT_EQ(HbaAdapterSlot(i), i < 2 ? 0u : 1u);
        std::string path;
        EXPECT_NE(GetAdapterLibrary(i, path), nullptr);
        EXPECT_EQ(path, i < 2 ? first : second);
    }
    std::string name;
    EXPECT_EQ(HBA_GetAdapterName(4, name), HBA_STATUS_ERROR_ILLEGAL_INDEX);
    std::string path = "stale";
    EXPECT_EQ(GetAdapterLibrary(4, path), nullptr);
    EXPECT_EQ(path, "");
    HBA_HANDLE handle = HBA_OpenAdapter("qlogic-c");
    EXPECT_EQ(handle >> 16, 1u);
    EXPECT_EQ(HBA_OpenAdapter("qlogic-"), 0u);
}

TEST_F(HbaApi, HandlesPackTheSlotAndCutTheVendorHandle) {
    std::string first = Library("first.so"), second = Library("second.so");
    struct Row {
        unsigned long vendorBase;
        HBA_HANDLE layerHandle;
        std::string reachesVendorWith;
    } rows[] = {{0x2345, 0x12345, "0x2345"}, {0x12345, 0x12345, "0x2345"}};
    for (const Row& row : rows) {
        std::filesystem::remove(root / "calls.log");
        Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01", "first.so"),
                  Adapter("qlogic-b", "20:00:00:00:00:00:00:02", "21:00:00:00:00:00:00:02", "second.so")},
                 {"handle-base value=" + std::to_string(row.vendorBase) + " library=second.so"});
        Write("hba.conf", "one " + first + "\ntwo " + second + "\n");
        ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
        ASSERT_EQ(HBA_GetNumberOfAdapters(), 2u);
        HBA_HANDLE handle = HBA_OpenAdapter("qlogic-b");
        EXPECT_EQ(handle, row.layerHandle);
        HBA_ADAPTERATTRIBUTES attributes{};
        EXPECT_EQ(HBA_GetAdapterAttributes(handle, &attributes), HBA_STATUS_OK);
        HBA_CloseAdapter(handle);
        std::vector<std::string> reads = Calls("HBA_GetAdapterAttributes");
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0], "second.so HBA_GetAdapterAttributes " + row.reachesVendorWith + " = 0");
        HBA_FreeLibrary();
    }
}

TEST_F(HbaApi, HandleCheckRejectsImpossibleAndUnloadedSlots) {
    std::string lib = Library("qlhbaapi.so");
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")});
    Write("hba.conf", "qla " + lib + "\n");
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    HBA_ADAPTERATTRIBUTES attributes{};
    HBA_PORTATTRIBUTES port{};
    HBA_PORTSTATISTICS statistics{};
    EXPECT_EQ(HBA_GetAdapterAttributes(32u << 16, &attributes), HBA_STATUS_ERROR_INVALID_HANDLE);
    EXPECT_EQ(HBA_GetAdapterPortAttributes(0xFFFF0001u, 0, &port), HBA_STATUS_ERROR_INVALID_HANDLE);
    EXPECT_EQ(HBA_GetPortStatistics(5u << 16 | 1, 0, &statistics), HBA_STATUS_ERROR);
    EXPECT_EQ(HBA_GetAdapterAttributes(1, &attributes), HBA_STATUS_OK);
    // An entry the library registered nothing for is not called.
    EXPECT_EQ(HBA_GetFcpTargetMapping(1, nullptr), HBA_STATUS_ERROR_NOT_SUPPORTED);
    HBA_FreeLibrary();
    EXPECT_EQ(HbaLibrarySlot(0).status, kLibraryNotLoaded);
    EXPECT_EQ(HBA_GetAdapterAttributes(1, &attributes), HBA_STATUS_ERROR);
    EXPECT_EQ(HBA_GetVersion(), 1u);
}

TEST_F(HbaApi, LinesPastTheThirtySecondAreNotLoaded) {
    std::string conf;
    for (int i = 0; i < 40; ++i) conf += "lib" + std::to_string(i) + " " + Library("l" + std::to_string(i) + ".so") + "\n";
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01", "l31.so,l32.so")});
    Write("hba.conf", conf);
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    EXPECT_EQ(HbaLibrarySlotsFilled(), kMaxLibraries);
    EXPECT_STREQ(HbaLibrarySlot(31).name, "lib31");
    // Only the 32nd library's adapter is listed; the 33rd never loaded.
    ASSERT_EQ(HBA_GetNumberOfAdapters(), 1u);
    EXPECT_EQ(HbaAdapterSlot(0), 31u);
    EXPECT_TRUE(Calls("loaded").size() == 32u);
}

TEST_F(HbaApi, AdapterTableStopsAtTwoHundredFiftySixAndKeepsLongNames) {
    std::string lib = Library("qlhbaapi.so");
    std::string longName = "qlogic-" + std::string(200, 'n');
    std::vector<sim::SimulatedAdapter> adapters;
    for (int i = 0; i < 300; ++i) {
        char node[32];
        std::snprintf(node, sizeof node, "20:00:00:00:00:00:%02x:%02x", i / 256, i % 256);
        adapters.push_back(Adapter(longName + std::to_string(i), node, node));
    }
    Describe(adapters);
    Write("hba.conf", "qla " + lib + "\n");
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    ASSERT_EQ(HBA_GetNumberOfAdapters(), kMaxAdapters);
    std::string name;
    ASSERT_EQ(HBA_GetAdapterName(255, name), HBA_STATUS_OK);
    EXPECT_EQ(name, longName + "255");
    EXPECT_EQ(HBA_GetAdapterName(256, name), HBA_STATUS_ERROR_ILLEGAL_INDEX);
    // The whole name reaches the right adapter, not its prefix twin.
    EXPECT_EQ(HBA_OpenAdapter(longName + "25"), 26u);
}

TEST_F(HbaApi, AbsurdCountsAndUnterminatedNamesStayInsideTheTable) {
    std::string lib = Library("qlhbaapi.so");
    Describe({Adapter("qlogic-a", "20:00:00:00:00:00:00:01", "21:00:00:00:00:00:00:01")},
             {"adapter-count value=0xFFFFFFFF", "unterminated-texts"});
    Write("hba.conf", "qla " + lib + "\n");
    ASSERT_EQ(HBA_LoadLibrary(paths.hbaConf), HBA_STATUS_OK);
    ASSERT_EQ(HBA_GetNumberOfAdapters(), kMaxAdapters);
    std::string name;
    ASSERT_EQ(HBA_GetAdapterName(0, name), HBA_STATUS_OK);
    EXPECT_EQ(name.size(), kVendorNameBufferSize);
    EXPECT_EQ(name.substr(0, 8), "qlogic-a");
    ASSERT_EQ(HBA_GetAdapterName(1, name), HBA_STATUS_OK);
    EXPECT_EQ(name, "");
}

}  // namespace
}  // namespace hbafw::test
