// The inventory writers' escaping: adapter texts come from vendor libraries
// and may hold any byte, yet the JSON must parse and node_exporter must take
// the metrics file. Document layout is checked end to end.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace hbafw
