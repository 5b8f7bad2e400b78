// Compiler behaviour: which texts are syntax errors, the exact report on
// standard error, the exact debug dump, and the nesting cap.
#include <gtest/gtest.h>

#include <string>

#include "pattern/pattern.h"

namespace hbafw {
namespace {

TEST(Compiler, SyntaxErrorsCompileToNothing) {
  const char* const bad[] = {
      "a{x}", "a{1,x}", "a{", "[a-]", "\\07", "ab**", "a+*", "(?=a)*", "(?<=a)*", "(?>a)*", "(abc", "abc)", "[a",
      "\\", "\\Qab", "*a", "a|*", "(?q)", "(?", "\\p{Foo}", "[a&&b]", "[\\Q]", "{nope}", "{a}", "(?<x)", "a{1}{2}", "{",
  };
  for (const char* text : bad) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Pattern::compile(text, 0), nullptr) << text;
    testing::internal::GetCapturedStderr();
  }
  const char* const good[] = {"a{2,1}", "a{}", "(a){2}", "(?:a)*", "(?i)a", "(?-i:a)", "[]", "\\Q\\E",
                              "\\x", "\\e", "$*", "x|", "|", "(|)", "[\\d-]"};
  for (const char* text : good) {
    testing::internal::CaptureStderr();
    EXPECT_NE(Pattern::compile(text, 0), nullptr) << text;
    testing::internal::GetCapturedStderr();
  }
}

struct ReportRow {
  const char* pattern;
  const char* report;
};

TEST(Compiler, SyntaxErrorReportText) {
  const ReportRow rows[] = {
      {"ab**", "ab**\n   ^\nSyntax Error near here. Possible unescaped meta character.\n"},
      {"a)", "a)\n ^\nSyntax Error near here. Possible unescaped meta character.\n"},
      // An unclosed group is reported by the group and again by its opener.
      {"(abc", "(abc\n   ^\nSyntax Error near here. \n(abc\n   ^\nSyntax Error near here. \n"},
  };
  for (const auto& r : rows) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Pattern::compile(r.pattern, 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.report) << r.pattern;
    testing::internal::CaptureStderr();
    EXPECT_EQ(WidePattern::compile(std::wstring(r.pattern, r.pattern + std::string(r.pattern).size()), 0), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), r.report) << "wide " << r.pattern;
  }
}

struct DumpRow {
  const char* pattern;
  std::uint64_t flags;
  const char* dump;
};

TEST(Compiler, DumpText) {
  const DumpRow rows[] = {
      {"ab", 0,
       "Pattern(ab):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  11NFACharNode(0x61)\n"
       "  11NFACharNode(0x62)\n"
       "  10NFAEndNode\n"},
      {"a*", 0,
       "Pattern(a*):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  23NFAGreedyQuantifierNode(min=0, max=2147483647)\n"
       "    inner\n"
       "      11NFACharNode(0x61)\n"
       "      13NFAAcceptNode\n"
       "  10NFAEndNode\n"},
      {"(a)+?", 0,
       "Pattern((a)+?):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  24NFAGroupLoopPrologueNode(gi=1)\n"
       "  16NFAGroupLoopNode(gi=1, min=1, max=2147483647, type=reluctant)\n"
       "  10NFAEndNode\n"},
      {"a|b", 0,
       "Pattern(a|b):\n"
       "  12NFAStartNode\n"
       "  9NFAOrNode\n"
       "    one\n"
       "      15NFASubStartNode\n"
       "      11NFACharNode(0x61)\n"
       "      13NFAAcceptNode\n"
       "      13NFAAcceptNode\n"
       "      10NFAEndNode\n"
       "    two\n"
       "      15NFASubStartNode\n"
       "      11NFACharNode(0x62)\n"
       "      13NFAAcceptNode\n"
       "      13NFAAcceptNode\n"
       "      10NFAEndNode\n"},
      {"[^a]\\xff$", 0,
       "Pattern([^a]\\xff$):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  12NFAClassNode(255 vals, inv=false)\n"
       "  11NFACharNode(0xFFFFFFFF)\n"
       "  17NFAEndOfInputNode(term=false)\n"
       "  10NFAEndNode\n"},
      {"[a]", FLAG_IGNORE_CASE,
       "Pattern([a]):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  10NFAEndNode\n"},
      {"(?<!x)(?=y)", 0,
       "Pattern((?<!x)(?=y)):\n"
       "  12NFAStartNode\n"
       "  15NFASubStartNode\n"
       "  17NFALookBehindNode(str=x, pos=false)\n"
       "  16NFALookAheadNode(pos=true)\n"
       "    15NFASubStartNode\n"
       "    11NFACharNode(0x79)\n"
       "    13NFAAcceptNode\n"
       "  10NFAEndNode\n"},
  };
  for (const auto& r : rows) {
    auto p = Pattern::compile(r.pattern, r.flags);
    ASSERT_NE(p, nullptr) << r.pattern;
    testing::internal::CaptureStdout();
    p->dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.dump) << r.pattern;
  }
}

TEST(Compiler, GroupNumbering) {
  struct Row {
    const char* pattern;
    int groups, hidden;
  } rows[] = {{"a|b", 1, 0}, {"(a|b)", 2, 0}, {"(?:a)(b)(?:c)", 2, 2}, {"(?=(a))(?>b)", 2, 0}, {"(?i)((a)b)", 3, 0}};
  for (const auto& r : rows) {
    auto p = Pattern::compile(r.pattern, 0);
    ASSERT_NE(p, nullptr) << r.pattern;
    EXPECT_EQ(p->groupCount(), r.groups) << r.pattern;
    EXPECT_EQ(p->hiddenGroupCount(), r.hidden) << r.pattern;
  }
}

TEST(Compiler, DeepNestingIsRefusedNotACrash) {
  const std::string deep = std::string(100000, '(') + "a" + std::string(100000, ')');
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::compile(deep, 0), nullptr);
  testing::internal::GetCapturedStderr();
  const std::string ok = std::string(200, '(') + "a" + std::string(200, ')');
  auto p = Pattern::compile(ok, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->matchesWhole("a"));
  std::string manyAlternatives = "a";
  for (int i = 0; i < 5000; ++i) manyAlternatives += "|a";
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::compile(manyAlternatives, 0), nullptr);
  testing::internal::GetCapturedStderr();
  // A name that reaches itself through another one is cut off the same way.
  ASSERT_TRUE(Pattern::defineName("aa", "x", 0));
  ASSERT_TRUE(Pattern::defineName("bb", "{aa}", 0));
  ASSERT_TRUE(Pattern::defineName("aa", "{bb}", 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::compile("{aa}", 0), nullptr);
  testing::internal::GetCapturedStderr();
  Pattern::clearNames();
}

}  // namespace
}  // namespace hbafw
