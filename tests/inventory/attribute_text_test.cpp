// Attribute text clean-up, WWN text and the port texts, as tables.
#include <gtest/gtest.h>

#include <cstring>

#include "inventory/attribute_text.h"
#include "inventory/fc_hba_port.h"

namespace hbafw::test {
namespace {

TEST(AttributeText, NormalizeCutsTrailingAndCollapsesSpaces) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"  AB  C \r\n", " AB C"},
        {"    ", " "},
        {"ABC\x7F", "ABC"},
        {"ABC~", "ABC"},          // 0x7E is outside the kept range
        {"AB}", "AB}"},
        {"A\xC3\xA9", "A"},       // bytes of 0x80 and above count as outside
        {"\x7F", "\x7F"},         // the first character is never examined
        {"", ""},
        {"a\t\tb", "a\t\tb"},     // tabs are not collapsed
        {"5.06.05   ", "5.06.05"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(NormalizedAttributeText(row.in), row.out) << row.in;
        char field[32];
        std::memset(field, 'Z', sizeof field);
        std::memcpy(field, row.in.c_str(), row.in.size() + 1);
        NormalizeAttributeText(field, sizeof field);
        EXPECT_STREQ(field, row.out.c_str());
        for (std::size_t i = row.out.size(); i < row.in.size(); ++i) EXPECT_EQ(field[i], '\0') << row.in;
        EXPECT_EQ(field[row.in.size() + 1], 'Z') << "wrote past the old text";
    }
}

TEST(AttributeText, UnterminatedFieldsAreReadWithinTheirWidth) {
    char field[8];
    std::memset(field, 'x', sizeof field);
    EXPECT_EQ(BoundedText(field), std::string(8, 'x'));
    NormalizeAttributeText(field, sizeof field);
    EXPECT_EQ(std::string(field, 8), std::string(8, 'x'));
    char record[4];
    CopyToField(record, sizeof record, "abcdef");
    EXPECT_STREQ(record, "abc");
}

TEST(AttributeText, FormatWwnIsUpperCaseColonHex) {
    const std::uint8_t wwn[8] = {0x20, 0x00, 0x00, 0x1B, 0x32, 0x0A, 0x0B, 0x0C};
    EXPECT_EQ(FormatWwn(wwn), "20:00:00:1B:32:0A:0B:0C");
    const std::uint8_t zero[8] = {};
    EXPECT_EQ(FormatWwn(zero), "00:00:00:00:00:00:00:00");
}

TEST(PortText, SpeedStateAndType) {
    struct Speed {
        HBA_UINT32 bits;
        const char* text;
    } speeds[] = {{0x8000 | 0x20, "Not Negotiated"}, {0x20 | 0x4, "16 GB"}, {0x4 | 0x10, "10 GB"}, {0x10 | 0x8, "8 GB"},
                  {0x8 | 0x1, "4 GB"}, {0x2, "2 GB"}, {0x1, "1 GB"}, {0, "Unknown"}, {0x40, "Unknown"}};
    for (const Speed& row : speeds) EXPECT_STREQ(PortSpeedText(row.bits), row.text) << row.bits;
    struct Value {
        HBA_UINT32 value;
        const char* text;
    } states[] = {{0, "Unknown"}, {1, "Unknown"}, {2, "Online"}, {3, "Offline"}, {4, "Bypassed"},
                  {5, "Diagnostics Mode"}, {6, "Link Down"}, {7, "Error"}, {8, "Loopback"}, {9, "Unknown"}};
    for (const Value& row : states) EXPECT_STREQ(PortStateText(row.value), row.text) << row.value;
    Value types[] = {{1, "Unknown"}, {2, "Other"}, {3, "Not Present"}, {4, "Unknown"}, {5, "Fabric"},
                     {6, "Public Loop"}, {7, "FL Port"}, {8, "Fabric Port"}, {9, "Fabric expansion port"},
                     {10, "Generic Fabric Port"}, {11, "Unknown"}, {19, "Unknown"}, {20, "Private Loop"},
                     {21, "Point to Point"}, {22, "Unknown"}};
    for (const Value& row : types) EXPECT_STREQ(PortTypeText(row.value), row.text) << row.value;
}

TEST(PortText, StatisticsKeepZeroForUnsupportedCounters) {
    HBA_PORTSTATISTICS statistics;
    HBA_INT64 counters[kPortStatisticsCount];
    for (std::size_t i = 0; i < kPortStatisticsCount; ++i) counters[i] = static_cast<HBA_INT64>(100 + i);
    counters[4] = -1;
    counters[5] = 0;
    std::memcpy(&statistics, counters, sizeof counters);
    FcHbaPort port;
    port.SetStatistics(statistics);
    EXPECT_EQ(port.GetStatistics()[0], 100);
    EXPECT_EQ(port.GetStatistics()[4], 0);
    EXPECT_EQ(port.GetStatistics()[5], 0);
    EXPECT_EQ(port.GetStatistics()[14], 114);
    EXPECT_EQ(port.GetPortType(), 1u);
    EXPECT_EQ(port.GetPortSymbolicName(), "Undefined");
}

}  // namespace
}  // namespace hbafw::test
