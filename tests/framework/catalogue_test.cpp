// Catalogue reading: structure variants, value attributes, CDATA paths, and
// inputs that must fail cleanly (missing, malformed, entities, huge values).
#include <gtest/gtest.h>

#include "framework/reference_catalogue.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

std::string Device(const std::string& id, const std::string& extra = "") {
    return "<device><type value=\"FC HBA\"/><device_id value=\"" + id + "\"/><model value=\"M-" + id + "\"/>" +
           extra + "</device>";
}

struct CatalogueRow {
    const char* name;
    std::string xml;
    bool loads;
    std::vector<std::wstring> deviceIds;
};

TEST(Catalogue, StructureVariants) {
    const CatalogueRow rows[] = {
        {"devices first, no whitespace",
         "<orvane_fchba_reference><devices>" + Device("1077.2532.1077.015c") + "</devices></orvane_fchba_reference>",
         true,
         {L"1077.2532.1077.015c"}},
        {"indented, two devices",
         "<?xml version=\"1.0\"?>\n<orvane_fchba_reference>\n  <devices>\n    " + Device("a") + "\n    " +
             Device("b") + "\n  </devices>\n</orvane_fchba_reference>\n",
         true,
         {L"a", L"b"}},
        {"two devices elements in file order",
         "<orvane_fchba_reference><devices>" + Device("a") + "</devices><x/><devices>" + Device("b") +
             "</devices></orvane_fchba_reference>",
         true,
         {L"a", L"b"}},
        {"another product's root", "<other_reference><devices>" + Device("a") + "</devices></other_reference>", true,
         {}},
        {"devices at top level without root is not a document", "<devices/><devices/>", false, {}},
        {"non-device children skipped",
         "<orvane_fchba_reference><devices><thing/>" + Device("a") + "<!-- c --></devices></orvane_fchba_reference>",
         true,
         {L"a"}},
        {"empty root", "<orvane_fchba_reference/>", true, {}},
        {"not well-formed", "<orvane_fchba_reference><devices>", false, {}},
        {"empty file", "", false, {}},
        {"binary junk", std::string("\x00\xff\xfe<<<", 6), false, {}},
        // Entities are never substituted, so a catalogue that needs them is refused.
        {"internal entity", "<!DOCTYPE r [<!ENTITY e \"a\">]><orvane_fchba_reference><devices>" + Device("&e;") +
             "</devices></orvane_fchba_reference>", false, {}},
        {"unused parameter entity", "<!DOCTYPE r [<!ENTITY % p \"a\">]><orvane_fchba_reference><devices>" +
             Device("a") + "</devices></orvane_fchba_reference>", false, {}},
        {"document type without entities", "<!DOCTYPE r><orvane_fchba_reference><devices>" + Device("a") +
             "</devices></orvane_fchba_reference>", true, {L"a"}},
        {"value beyond the limit",
         "<orvane_fchba_reference><devices>" + Device("a") + Device(std::string(kMaxCatalogueValue + 1, 'x')) +
             "</devices></orvane_fchba_reference>", false, {}},
        {"path beyond the limit", "<orvane_fchba_reference><discovery_app_path><![CDATA[" +
             std::string(kMaxCatalogueValue + 1, 'x') + "]]></discovery_app_path></orvane_fchba_reference>", false, {}},
    };
    for (const CatalogueRow& row : rows) {
        testing::TempDir dir;
        testing::WriteFile(dir.file("reference.xml"), row.xml);
        ReferenceCatalogue catalogue;
        EXPECT_EQ(LoadCatalogue(catalogue, dir.file("reference.xml")), row.loads) << row.name;
        std::vector<std::wstring> ids;
        for (const ReferenceDevice& d : catalogue.devices) ids.push_back(d.device_id);
        EXPECT_EQ(ids, row.deviceIds) << row.name;
    }
}

TEST(Catalogue, MissingFileFails) {
    testing::TempDir dir;
    ReferenceCatalogue catalogue;
    EXPECT_FALSE(LoadCatalogue(catalogue, dir.file("reference.xml")));
}

TEST(Catalogue, DeviceFields) {
    testing::TempDir dir;
    testing::WriteFile(dir.file("reference.xml"),
                       "<orvane_fchba_reference>"
                       "<discovery_app_path><![CDATA[./disc & go]]></discovery_app_path>"
                       "<installer_app_path>plain text is ignored</installer_app_path>"
                       "<devices>"
                       "<device><type value=\"t\"/><device_id value=\"ID\"/><model value=\"m\"/>"
                       "<firmware value=\"2.01\"/><bios value=\"\"/><boot value=\"3.00\"/>"
                       "<duration value=\"120\"/><model value=\"m2\"/><model other=\"x\">content ignored</model>"
                       "</device>"
                       "<device/>"
                       "<device><bios value=\"1.5\"/><bios/></device>"
                       "</devices></orvane_fchba_reference>");
    ReferenceCatalogue c;
    ASSERT_TRUE(LoadCatalogue(c, dir.file("reference.xml")));
    EXPECT_EQ(c.discovery_app_path, L"./disc & go");
    EXPECT_EQ(c.installer_app_path, L"");
    ASSERT_EQ(c.devices.size(), 3u);
    const ReferenceDevice& d = c.devices[0];
    EXPECT_EQ(d.type, L"t");
    EXPECT_EQ(d.device_id, L"ID");
    EXPECT_EQ(d.model, L"");  // the last model element has no value attribute
    EXPECT_EQ(d.firmware, L"2.01");
    EXPECT_EQ(d.bios, L"");
    EXPECT_EQ(d.biosPresent, 0);
    EXPECT_EQ(d.boot, L"3.00");
    EXPECT_EQ(d.duration, L"120");
    EXPECT_EQ(c.devices[1].biosPresent, 2);  // no children: empty texts, bios not seen
    EXPECT_EQ(c.devices[1].type, L"");
    EXPECT_EQ(c.devices[2].bios, L"");  // repeated element overwrites
    EXPECT_EQ(c.devices[2].biosPresent, 0);
}

TEST(Catalogue, HighBytesWidenAsUnsigned) {
    testing::TempDir dir;
    // UTF-8 for e-acute: two bytes, each one positive wide character.
    testing::WriteFile(dir.file("reference.xml"),
                       "<orvane_fchba_reference><devices><device><model value=\"Caf\xc3\xa9 &amp; &quot;co&quot;\"/>"
                       "</device></devices></orvane_fchba_reference>");
    ReferenceCatalogue c;
    ASSERT_TRUE(LoadCatalogue(c, dir.file("reference.xml")));
    ASSERT_EQ(c.devices.size(), 1u);
    EXPECT_EQ(c.devices[0].model, std::wstring(L"Caf") + wchar_t(0xC3) + wchar_t(0xA9) + L" & \"co\"");
}

TEST(Catalogue, ExternalEntitiesAreNotExpanded) {
    testing::TempDir dir;
    testing::WriteFile(dir.file("secret.txt"), "SECRET");
    testing::WriteFile(dir.file("reference.xml"),
                       "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + dir.file("secret.txt") +
                           "\">]>\n<orvane_fchba_reference><devices><device><model value=\"&x;\"/></device>"
                           "</devices></orvane_fchba_reference>");
    ReferenceCatalogue c;
    LoadCatalogue(c, dir.file("reference.xml"));
    for (const ReferenceDevice& d : c.devices) EXPECT_EQ(d.model.find(L"SECRET"), std::wstring::npos);
}

TEST(Catalogue, ManyDevicesLoad) {
    testing::TempDir dir;
    std::string xml = "<orvane_fchba_reference><devices>";
    for (int i = 0; i < 20000; ++i) xml += Device(std::to_string(i), "<unknown a=\"b\"><deeper/></unknown>");
    xml += "</devices></orvane_fchba_reference>";
    testing::WriteFile(dir.file("reference.xml"), xml);
    ReferenceCatalogue c;
    ASSERT_TRUE(LoadCatalogue(c, dir.file("reference.xml")));
    ASSERT_EQ(c.devices.size(), 20000u);
    EXPECT_EQ(c.devices.back().model, L"M-19999");
}

}  // namespace
}  // namespace hbafw
