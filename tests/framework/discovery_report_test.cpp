// The report read back with libxml2, element by element.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "framework/discovery_report.h"
#include "temp_dir.h"

namespace hbafw {
namespace {

// A compact rendering of the tree: name[value](children...), so one string
// comparison checks order, names and values.
std::string Render(const xmlNode* node) {
    std::string out = reinterpret_cast<const char*>(node->name);
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
        xmlChar* v = xmlNodeListGetString(node->doc, a->children, 1);
        out.append("[").append(reinterpret_cast<const char*>(a->name)).append("=");
        out.append(v ? reinterpret_cast<const char*>(v) : "").append("]");
        xmlFree(v);
    }
    std::string children;
    for (const xmlNode* c = node->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) children.append(children.empty() ? "" : ",").append(Render(c));
    if (!children.empty()) out.append("(").append(children).append(")");
    return out;
}

std::string ReadBack(const std::string& path) {
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    if (doc == nullptr) return "<unreadable>";
    std::string text = Render(xmlDocGetRootElement(doc));
    xmlFreeDoc(doc);
    return text;
}

const std::string kHeader = "tellin_rom_discovery[version=2.0.0.0](type[value=FC],alt_name[value=],version[value=],"
                            "takes_effect[value=],devices";

TEST(DiscoveryReport, NoDevice) {
    testing::TempDir dir;
    DiscoveryResult result;
    result.type = L"FC";
    ASSERT_TRUE(WriteDiscoveryReport(result, dir.file("r.xml")));
    EXPECT_EQ(ReadBack(dir.file("r.xml")), kHeader + ")");
}

TEST(DiscoveryReport, DevicesAndItemsInOrderWithEscapedValues) {
    testing::TempDir dir;
    DiscoveryResult result;
    result.type = L"FC";
    DiscoveredDevice device{L"1077.2532.1077.015c", L"QLE & \"2562\" <x>", L"", L"", {}};
    device.fw_items.push_back({L"Multiboot Image", L"", L"3.00", L"2.10", L"upgrade", L"120", L"", L"no"});
    device.fw_items.push_back({L"Firmware", L"", L"1", L"1", L"rewrite", L"", L"", L""});
    result.devices.push_back(device);
    result.devices.push_back({L"second", std::wstring(L"Caf") + wchar_t(0xC3) + wchar_t(0xA9), L"", L"", {}});
    testing::WriteFile(dir.file("r.xml"), "an existing file is replaced");
    ASSERT_TRUE(WriteDiscoveryReport(result, dir.file("r.xml")));
    EXPECT_EQ(ReadBack(dir.file("r.xml")),
              kHeader +
                  "(device(device_id[value=1077.2532.1077.015c],product_id[value=QLE & \"2562\" <x>],"
                  "busnumber[value=],funcnumber[value=],"
                  "fw_item(type[value=Multiboot Image],firmware_id[value=],version[value=3.00],"
                  "active_version[value=2.10],action[value=upgrade],duration[value=120],message[value=],"
                  "shared[value=no]),"
                  "fw_item(type[value=Firmware],firmware_id[value=],version[value=1],active_version[value=1],"
                  "action[value=rewrite],duration[value=],message[value=],shared[value=])),"
                  "device(device_id[value=second],product_id[value=Caf\xc3\xa9],busnumber[value=],"
                  "funcnumber[value=])))");
}

TEST(DiscoveryReport, UnwritablePathsFail) {
    testing::TempDir dir;
    DiscoveryResult result;
    for (const std::string& path : {std::string(), dir.file("missing-dir/r.xml"), dir.path().string()})
        EXPECT_FALSE(WriteDiscoveryReport(result, path)) << "'" << path << "'";
}

// "-" is a file name, not standard output; the bytes are the library's formatted save.
TEST(DiscoveryReport, DashIsAFileHoldingTheFormattedReport) {
    testing::TempDir dir;
    testing::ScopedCwd cwd(dir.path());
    DiscoveryResult result;
    result.type = L"FC";
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(WriteDiscoveryReport(result, "-"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::ReadFile(dir.file("-")),
              "<?xml version=\"1.0\"?>\n<tellin_rom_discovery version=\"2.0.0.0\">\n  <type value=\"FC\"/>\n"
              "  <alt_name value=\"\"/>\n  <version value=\"\"/>\n  <takes_effect value=\"\"/>\n  <devices/>\n"
              "</tellin_rom_discovery>\n");
}

}  // namespace
}  // namespace hbafw
