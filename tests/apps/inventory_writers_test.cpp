// The inventory writers' escaping: adapter texts come from vendor libraries
// and may hold any byte, yet the JSON must parse and node_exporter must take
// the metrics file; the fleet module's last history record as read back; and
// a capture's identities in every form. Document layout is checked end to end.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "apps/capture_anonymize.h"
#include "apps/inventory_json.h"
#include "apps/inventory_metrics.h"

namespace hbafw {
namespace {

struct EscapeRow {
    const char* name;
    std::string text, json, label;
};

const EscapeRow kEscapeRows[] = {
    {"Plain", "QLE2562", R"("QLE2562")", R"("QLE2562")"},
    {"QuoteAndBackslash", R"(a"b\c)", R"("a\"b\\c")", R"("a\"b\\c")"},
    {"Newline", "a\nb", R"("a\u000ab")", R"("a\nb")"},
    {"OtherControls", std::string("a\x01\x7f\tb"), R"("a\u0001\u007f\u0009b")", "\"a\x01\x7f\tb\""},
    {"HighBytesAsLatin1", "caf\xe9 \xff", "\"caf\xc3\xa9 \xc3\xbf\"", "\"caf\xc3\xa9 \xc3\xbf\""},
    {"Empty", "", R"("")", R"("")"},
};

TEST(InventoryWriters, EscapeEveryByte) {
    for (const EscapeRow& row : kEscapeRows) {
        EXPECT_EQ(JsonString(row.text), row.json) << row.name;
        EXPECT_EQ(LabelValue(row.text), row.label) << row.name;
    }
}

struct LastRunRow {
    const char* name;
    std::string line;
    bool read;
    std::time_t time = 0;
    std::optional<long long> exitCode = {};
    std::string action = {}, outcome = {};
};

// As the fleet module writes them: json.dumps with sorted keys.
const LastRunRow kLastRunRows[] = {
    {"Update", R"({"action": "updated", "builds": ["hbafw-qlogic"], "exit_code": 1, "items": [{"after": "3.10", )"
               R"("before": "2.02", "outcome": "failed"}], "outcome": "updated, reboot required", )"
               R"("reboot_required": true, "run_id": "x", "time": 1796781348})",
     true, 1796781348, 1, "updated", "updated, reboot required"},
    {"StillFlashing", R"({"action": "updated", "exit_code": null, "items": [], "outcome": "still flashing", "time": 5})",
     true, 5, std::nullopt, "updated", "still flashing"},
    {"EscapedTextLeftOut", R"({"action": "up\"d", "outcome": null, "time": 7})", true, 7},
    {"NoTime", R"({"action": "updated", "exit_code": 1})", false},
    {"NotJson", "garbage", false},
};

TEST(InventoryWriters, LastRunFromTheHistoryLine) {
    for (const LastRunRow& row : kLastRunRows) {
        std::optional<LastRun> run = LastRunFromLine(row.line);
        ASSERT_EQ(run.has_value(), row.read) << row.name;
        if (!run) continue;
        EXPECT_EQ(run->time, row.time) << row.name;
        EXPECT_EQ(run->exitCode, row.exitCode) << row.name;
        EXPECT_EQ(run->action, row.action) << row.name;
        EXPECT_EQ(run->outcome, row.outcome) << row.name;
    }
}

// A capture's identities in every form a tool or library writes them; the
// check must see what replacement would have missed.
TEST(InventoryWriters, AnonymizeEveryFormWholeTokens) {
    const Identities ids = {{"2100001B320A0B0C"}, {"SN 7", "SN", "S1"}};
    const std::pair<std::string, std::string> rows[] = {
        {"port 21:00:00:1B:32:0A:0B:0C up", "port 21:00:00:00:00:00:00:01 up"},
        {"21-00-00-1b-32-0a-0b-0c", "21-00-00-00-00-00-00-01"},
        {"WWPN=2100001B320A0B0C;", "WWPN=2100000000000001;"},
        {"(0x2100001b320a0b0c)", "(0x2100000000000001)"},
        {"serial=SN 7 and SN", "serial=SERIAL1 and SERIAL2"},
        {"QLE2562S1X S1", "QLE2562S1X SERIAL3"},
        {"a2100001B320A0B0C", "a2100001B320A0B0C"},
    };
    Anonymizer anonymizer(ids);
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(anonymizer.Apply(text), expected) << text;
        EXPECT_EQ(LeftIdentity(expected, ids), "") << expected;
    }
    EXPECT_EQ(LeftIdentity("serial=SN%207", ids), "SN 7");
    EXPECT_EQ(LeftIdentity("0X2100001B320A0B0C", ids), "2100001B320A0B0C");
    EXPECT_EQ(LeftIdentity("21-00-00-1B-32-0a-0b-0c", ids), "2100001B320A0B0C");
}

}  // namespace
}  // namespace hbafw
