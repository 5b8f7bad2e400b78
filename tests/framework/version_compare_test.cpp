// Device identifiers and version comparison, table-driven.
#include <gtest/gtest.h>

#include <cstdio>

#include "framework/version_compare.h"

namespace hbafw {
namespace {

TEST(VersionCompare, Table) {
    struct Row {
        std::wstring first, second;
        int expected;
    };
    const Row rows[] = {
        {L"4.00.27", L"4.00.27", 0},
        {L"4.02.01", L"4.00.27", 1},
        {L"4.00.27", L"4.02.01", -1},
        {L"2.1", L"2.01", 0},
        {L"1.2.0", L"1.2", 1},
        {L"1.2", L"1.2.0", -1},
        {L"5.a", L"5.B", 1},
        {L"3", L"", 1},
        {L"", L"", 0},
        {L"", L"3", -1},
        {L"10", L"9", 1},
        {L"007", L"7", 0},
        {L"2a", L"10", 1},
        {L"1..3", L"1..3", 0},
        {L"1..3", L"1.0.3", -1},
        {L"1.", L"1", 0},
        // Parts too long for an int still compare by value.
        {L"99999999999999999999", L"99999999999999999998", 1},
        {L"00000000000000000000001", L"1", 0},
        {L"1.123456789012345678901234567890", L"1.99", 1},
        {L"0", L"000", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(CompareVersionTexts(row.first, row.second), row.expected)
            << "'" << std::string(row.first.begin(), row.first.end()) << "' vs '"
            << std::string(row.second.begin(), row.second.end()) << "'";
}

TEST(VersionCompare, SplitVersion) {
    using V = std::vector<std::wstring>;
    EXPECT_EQ(SplitVersion(L"1.2.3", L'.'), (V{L"1", L"2", L"3"}));
    EXPECT_EQ(SplitVersion(L"1..3", L'.'), (V{L"1", L"", L"3"}));
    EXPECT_EQ(SplitVersion(L"1.2.", L'.'), (V{L"1", L"2"}));
    EXPECT_EQ(SplitVersion(L".5", L'.'), (V{L"", L"5"}));
    EXPECT_EQ(SplitVersion(L"", L'.'), V{});
}

TEST(DeviceIdentifier, GroupsOfFour) {
    struct Row {
        const char* pciId;
        const char* subsystemId;
        std::wstring expected;
    };
    const Row rows[] = {
        {"10772532", "1077015c", L"1077.2532.1077.015c"},
        {"n/a", "1077015c", L"1077.015c"},
        {"10772532", "N/A", L"1077.2532"},
        {"N/A", "n/A", L""},
        {"123", "", L"123"},
        {"12345", "", L"1234.5"},
    };
    for (const Row& row : rows) {
        AdapterRecord record;
        std::snprintf(record.pciId, sizeof record.pciId, "%s", row.pciId);
        std::snprintf(record.subsystemId, sizeof record.subsystemId, "%s", row.subsystemId);
        EXPECT_EQ(DeviceIdentifier(record), row.expected) << row.pciId << " " << row.subsystemId;
    }
    EXPECT_EQ(UpperCase(L"1077.015c"), L"1077.015C");
}

}  // namespace
}  // namespace hbafw
