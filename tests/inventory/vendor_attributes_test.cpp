// The vendor attribute routines against the simulated management library:
// every result code with its text, the library always closed, and both ways
// of telling whether the serving library is the vendor's.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

#include "inventory/vendor_attributes.h"
#include "tests/inventory/inventory_fixture.h"

namespace hbafw::test {
namespace {

using VendorAttributes = InventoryFixture;

HBA_WWN Wwn(std::uint8_t last) { return HBA_WWN{{0x20, 0, 0, 0x1B, 0x32, 0, 0, last}}; }

TEST_F(VendorAttributes, FindGivesEachResultCodeAndText) {
    sim::SimulatedAdapter first = Adapter("qlogic-a", "20:00:00:1B:32:00:00:01", "21:00:00:1B:32:00:00:01");
    sim::SimulatedAdapter second = Adapter("qlogic-b", "20:00:00:1B:32:00:00:02", "21:00:00:1B:32:00:00:02");
    second.pci = {0, 0x81, 0, 1, 0x1077, 0x2532, 0x1077, 0x015c};
    struct Row {
        std::string variant;  // empty: no library installed
        std::vector<std::string> faults;
        std::uint8_t wwn;
        int code;
        std::string text;
        bool othersMayWrite = false;  // then it counts as not there
    } rows[] = {
        {"full", {}, 2, 0, "pass"},
        {"", {}, 2, -1, "unable to load qlsdm"},
        {"full", {}, 2, -1, "unable to load qlsdm", true},
        {"no_vkxfc_open", {}, 2, -2, "unable to dlsym for VKXFC_OpenAdapter"},
        {"no_vkxfc_attributes", {}, 2, -2, "unable to dlsym for VKXFC_GetAdapterAttributes2"},
        {"full", {"vkx-attributes-fail adapter=qlogic-a"}, 2, -3,
         "fail to read adapter attribs, adapterHandle 0x1, retStatus 0x51"},
        {"full", {"vkx-open-fails adapter=qlogic-b"}, 2, -4, "fail to open adapter"},
        {"full", {"vkx-name-fails adapter=qlogic-b"}, 2, -5, "fail to get adapter number"},
        {"full", {}, 9, -6, "could not find WWNN match"},
        {"full", {"vkx-load-fails"}, 2, -7, "fail to load library"},
        {"full", {"vkx-adapter-count value=0x7FFFFFFF"}, 9, -5, "fail to get adapter number"},
    };
    for (const Row& row : rows) {
        std::filesystem::remove_all(root / "usr");
        std::filesystem::remove(root / "calls.log");
        if (!row.variant.empty()) Library("libqlsdm.so", row.variant);
        if (row.othersMayWrite) std::filesystem::permissions(root / "usr/lib/libqlsdm.so", std::filesystem::perms::all);
        Describe({first, second}, row.faults);
        char name[kVendorSearchNameSize] = "qlogic-b";
        char text[kStatusTextSize] = {};
        PciLocation location{0xAAAA, 0, 0, 0};
        EXPECT_EQ(FindVendorAttributes(Wwn(row.wwn), name, location, text, paths), row.code) << row.text;
        EXPECT_STREQ(text, row.text.c_str());
        if (row.code == 0) {
            EXPECT_EQ(location.subsystemIds, 0x015c1077u);
            EXPECT_EQ(location.bus, 0x81);
            EXPECT_EQ(location.function, 1);
        } else {
            EXPECT_EQ(location.subsystemIds, 0xAAAAu) << row.text;
        }
        ExpectBalanced("loaded", "unloaded");
        ExpectBalanced("VKXFC_OpenAdapter", "VKXFC_CloseAdapter");
        bool initialised = row.code != -1 && row.code != -2 && row.code != -7;
        EXPECT_EQ(Calls("VKXFC_FreeLibrary").size(), initialised ? 1u : 0u) << row.text;
    }
}

TEST_F(VendorAttributes, NoMatchOpensAndClosesEveryAdapterOnce) {
    Library("libqlsdm.so");
    Describe({Adapter("qlogic-a", "20:00:00:1B:32:00:00:01", "21:00:00:1B:32:00:00:01"),
              Adapter("qlogic-b", "20:00:00:1B:32:00:00:02", "21:00:00:1B:32:00:00:02"),
              Adapter("qlogic-c", "20:00:00:1B:32:00:00:03", "21:00:00:1B:32:00:00:03")});
    char name[kVendorSearchNameSize] = "qlogic-x";
    char text[kStatusTextSize] = {};
    PciLocation location;
    EXPECT_EQ(FindVendorAttributes(Wwn(7), name, location, text, paths), kVendorNoWwnMatch);
    EXPECT_EQ(Calls("VKXFC_OpenAdapter").size(), 3u);
    EXPECT_EQ(Calls("VKXFC_CloseAdapter").size(), 3u);
}

TEST_F(VendorAttributes, VendorIsChosenByTheAdapterNameAsWritten) {
    Library("libemsdm.so");  // only the Emulex library is installed
    Describe({Adapter("Emulex-LPe12002", "20:00:00:1B:32:00:00:01", "21:00:00:1B:32:00:00:01")});
    struct Row {
        const char* name;
        int code;
        const char* text;
    } rows[] = {{"Emulex-LPe12002", 0, "pass"},
                {"an Emulex card", 0, "pass"},
                {"emulex-lower-case", -1, "unable to load bfahbaapi"},
                {"QLogic-upper-case", -1, "unable to load bfahbaapi"},
                {"qlogic-QLE2562", -1, "unable to load qlsdm"},
                {"Brocade-825", -1, "unable to load bfahbaapi"}};
    for (const Row& row : rows) {
        char name[kVendorSearchNameSize] = {};
        std::strcpy(name, row.name);
        char text[kStatusTextSize] = {};
        PciLocation location;
        EXPECT_EQ(FindVendorAttributes(Wwn(1), name, location, text, paths), row.code) << row.name;
        EXPECT_STREQ(text, row.text) << row.name;
    }
    // The second path is tried when the first does not open.
    Library("../../lib64/libqlsdm-x86_64.so");
    char name[kVendorSearchNameSize] = "qlogic-QLE2562";
    char text[kStatusTextSize] = {};
    PciLocation location;
    EXPECT_EQ(FindVendorAttributes(Wwn(1), name, location, text, paths), kVendorFound);
}

TEST_F(VendorAttributes, ResolveAnswersWhetherTheServingLibraryIsTheVendors) {
    std::string full = Library("libqlsdm.so");
    std::string lacking = Library("libqlsdm-old.so", "no_vkxfc_attributes");
    void* handle = ::dlopen(full.c_str(), RTLD_LAZY | RTLD_LOCAL);
    void* lackingHandle = ::dlopen(lacking.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(lackingHandle, nullptr);
    struct Row {
        std::string adapter, path;
        void* handle;
        bool vendors;
        int failed;
        std::string text;
    } rows[] = {
        {"Emulex-1", full, handle, false, -1, "untouched"},
        {"qlogic-1", "/usr/lib/qlhbaapi.so", handle, false, -1, "untouched"},
        {"qlogic-1", full, nullptr, true, 1, "libHandle is NULL; cannot dlsym"},
        {"qlogic-1", lacking, lackingHandle, true, 1, "unable to dlsym for VKXFC_GetAdapterAttributes2"},
        {"qlogic-1", full, handle, true, 0, "dlsym for VKXFC_GetAdapterAttributes2 success!"},
    };
    for (const Row& row : rows) {
        char text[kStatusTextSize] = "untouched";
        int failed = -1;
        EXPECT_EQ(ResolveVendorAttributesEntry(row.adapter, row.path, row.handle, text, failed), row.vendors)
            << row.text;
        EXPECT_EQ(failed, row.failed) << row.text;
        EXPECT_STREQ(text, row.text.c_str());
    }
    ::dlclose(lackingHandle);
    ::dlclose(handle);
}

TEST_F(VendorAttributes, ReadCopiesOnlyOnWwnMatchAndUsesTheLowSixteenBits) {
    std::string lib = Library("libqlsdm.so");
    sim::SimulatedAdapter adapter = Adapter("qlogic-a", "20:00:00:1B:32:00:00:01", "21:00:00:1B:32:00:00:01");
    adapter.pci = {0, 7, 0, 1, 0x1077, 0x2532, 0x1077, 0x0167};
    Describe({adapter}, {"vkx-attributes-fail adapter=qlogic-b"});
    void* handle = ::dlopen(lib.c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    char text[kStatusTextSize] = {};
    int failed = 1;
    ASSERT_TRUE(ResolveVendorAttributesEntry("qlogic-a", lib, handle, text, failed));
    ASSERT_EQ(failed, 0);
    reinterpret_cast<VKXFCLoadLibraryFunc>(::dlsym(handle, "VKXFC_LoadLibrary"))();

    PciLocation location;
    std::strcpy(text, "before");
    EXPECT_EQ(ReadVendorAttributes(Wwn(9), location, text, 0x30001), 0);
    EXPECT_STREQ(text, "before");
    EXPECT_EQ(location.bus, 0);
    EXPECT_EQ(ReadVendorAttributes(Wwn(1), location, text, 0x30001), 0);
    EXPECT_STREQ(text, "read adapter attribs Success! handle used is 0x1");
    EXPECT_EQ(location.subsystemIds, 0x01671077u);
    EXPECT_EQ(location.bus, 7);
    EXPECT_EQ(location.function, 1);
    EXPECT_EQ(ReadVendorAttributes(Wwn(1), location, text, 0x30009), kVendorReadFailed);
    EXPECT_STREQ(text, "fail to read adapter attribs: handle used is 0x9: retStatus is 0x3");
    ::dlclose(handle);
}

}  // namespace
}  // namespace hbafw::test
