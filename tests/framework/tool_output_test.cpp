// Splitting a tool's output into lines.
#include <gtest/gtest.h>

#include "framework/tool_output.h"

namespace hbafw {
namespace {

TEST(ToolOutput, SplitLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("a\n\nb"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\n"), V{"a"});
    EXPECT_EQ(SplitLines("\n"), V{""});
    EXPECT_EQ(SplitLines("a\r\nb"), (V{"a\r", "b"}));
}

}  // namespace
}  // namespace hbafw
