// The matcher and pattern interface: split, replace, one-shot results, the
// name table and cache, and the wide family's own differences.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace hbafw {
namespace {

using Texts = std::vector<std::string>;

TEST(Interface, SplitRows) {
  struct Row {
    const char* pattern;
    std::string input;
    bool keepEmpty;
    int limit;
    Texts expected;
  } rows[] = {
      {",", "a,b,,c", false, 0, {"a", "b", "c"}},
      {",", "a,b,,c", true, 0, {"a", "b", "", "c"}},
      {",", "a,b,,c", false, 2, {"a", "b", ",c"}},
      {",", ",a", true, 0, {"", "", "a"}},
      {"x*", "ab", false, 0, {"ab"}},  // empty matches split nothing
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Pattern::splitOnce(r.pattern, r.input, r.keepEmpty, r.limit, 0), r.expected)
        << r.pattern << " over '" << r.input << "' keepEmpty " << r.keepEmpty << " limit " << r.limit;
  }
}

TEST(Interface, ReplaceRows) {
  struct Row {
    const char* pattern;
    const char* input;
    const char* replacement;
    const char* expected;
  } rows[] = {
      {"(\\d)", "a1b2", "<\\1>", "a<1>b<2>"},
      {"(\\d)", "a1b2", "\\\\", "a\\b\\"},
      {"(\\d)", "a1b2", "x\\", "ax\\bx\\"},
      {"(\\d)", "a1", "\\9\\99999999999", "a"},
      {"b", "abc", "\\n", "anc"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Pattern::replaceOnce(r.pattern, r.input, r.replacement, 0), r.expected)
        << r.pattern << " over '" << r.input << "' with '" << r.replacement << "'";
  }
}

TEST(Interface, OneShotsAndGroupQueries) {
  EXPECT_EQ(Pattern::nthMatch("\\d", "a1b2", 1, 0), std::make_pair(std::string("2"), 3));
  EXPECT_EQ(Pattern::nthMatch("\\d", "a1b2", 2, 0), std::make_pair(std::string(), -1));
  EXPECT_EQ(Pattern::findAllOnce("a*", "baa", 0), (Texts{"", "aa"}));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Pattern::matchesOnce("(", "", 0));
  EXPECT_EQ(Pattern::nthMatch("(", "a", 0, 0), std::make_pair(std::string(), -1));
  EXPECT_TRUE(Pattern::findAllOnce("*", "a", 0).empty());
  EXPECT_TRUE(Pattern::splitOnce("*", "a", false, 0, 0).empty());
  EXPECT_EQ(Pattern::replaceOnce("*", "abc", "x", 0), "");
  testing::internal::GetCapturedStderr();

  auto p = Pattern::compile("(a)(b)", 0);
  auto m = p->newMatcher("ab");
  ASSERT_TRUE(m->matches());
  EXPECT_EQ(m->group(5), "");
  EXPECT_EQ(m->groupStart(5), -1);
  EXPECT_EQ(m->groupStart(-1), -1);
  EXPECT_EQ(m->groups(true), (Texts{"ab", "a", "b"}));
  m->setInput("ax");
  EXPECT_FALSE(m->matches());
  EXPECT_EQ(m->group(0), "");
}

TEST(Interface, NamesAndCache) {
  ASSERT_TRUE(Pattern::defineName("num", "(\\d+)", 0));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Pattern::defineName("bad", "(", 0));
  testing::internal::GetCapturedStderr();
  auto p = Pattern::compile("([a-z]+)={num}", 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->groupCount(), 3);  // the sub-pattern's group continues the numbering
  auto m = p->newMatcher("abc=42");
  ASSERT_TRUE(m->matches());
  EXPECT_EQ(m->group(2), "42");
  Pattern::clearNames();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::compile("{num}", 0), nullptr);
  testing::internal::GetCapturedStderr();

  Pattern* first = Pattern::cachedCompile("abc", 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Pattern::cachedCompile("abc", FLAG_IGNORE_CASE), first);
  EXPECT_FALSE(first->matchesWhole("ABC"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::cachedCompile("(", 0), nullptr);
  EXPECT_EQ(Pattern::cachedCompile("(", 0), nullptr);
  testing::internal::GetCapturedStderr();
  Pattern::clearCache();
  EXPECT_NE(Pattern::cachedCompile("abc", FLAG_IGNORE_CASE), nullptr);
  EXPECT_TRUE(Pattern::cachedCompile("abc", 0)->matchesWhole("ABC"));
  Pattern::clearCache();

  // The wide family keeps tables of its own.
  ASSERT_TRUE(WidePattern::defineName(L"num", L"\\d+", 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(Pattern::compile("{num}", 0), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(WidePattern::matchesOnce(L"{num}", L"12", 0));
  WidePattern::clearNames();
}

TEST(Interface, WideRows) {
  struct Row {
    const wchar_t* pattern;
    std::uint64_t flags;
    std::wstring input;
    bool matches;
    int group;
    const wchar_t* value;
  } rows[] = {
      {L"\\d+", 0, L"2", true, 0, L"2"},
      {L"\\d+", 0, L"0123", true, 0, L"0123"},
      {L"\\d+", 0, L"1a", false, 0, L""},
      {L"\\d+", 0, L"", false, 0, L""},
      {L".*(\\d+\\.\\d+\\.\\d+\\.\\d+).*", FLAG_DOT_ALL, L"v 12.3.4.5", true, 1, L"2.3.4.5"},
      {L"(\\d+\\.\\d+\\.\\d+).*", FLAG_DOT_ALL, L"7.2.0.1 build", true, 1, L"7.2.0"},
      {L"\\x0041", 0, L"A", true, 0, L"A"},
      {L"\\x41z", 0, L"Az", true, 0, L"Az"},
      {L"\\x12345", 0, L"\x1234" L"5", true, 0, L"\x1234" L"5"},
      {L"ABC", FLAG_IGNORE_CASE, L"abc", true, 0, L"abc"},
      {L"\x00C4", FLAG_IGNORE_CASE, L"\x00E4", false, 0, L""},  // default "C" locale folds ASCII only
      {L"[^a]", 0, L"\x4E2D", true, 0, L"\x4E2D"},  // negated classes reach past 255
      {L"[\\x0100-\\x4E2D]", 0, L"\x1000", true, 0, L"\x1000"},
      {L"[^\\d]", 0, L"\x10000", true, 0, L"\x10000"},
      {L"\\QAb\\E", FLAG_IGNORE_CASE, L"aB", true, 0, L"aB"},
  };
  for (const auto& r : rows) {
    auto p = WidePattern::compile(r.pattern, r.flags);
    ASSERT_NE(p, nullptr);
    auto m = p->newMatcher(r.input);
    EXPECT_EQ(m->matches(), r.matches) << testing::PrintToString(std::wstring(r.pattern));
    EXPECT_EQ(m->group(r.group), r.value) << testing::PrintToString(std::wstring(r.pattern));
  }
  // A reversed wide range would wrap through the whole character range: refused.
  testing::internal::CaptureStderr();
  EXPECT_EQ(WidePattern::compile(L"[z-a]", 0), nullptr);
  testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace hbafw

namespace hbafw {
namespace {

// A give-up leaves each whole-text operation's result as it is and says so
// through the pattern's status; one-shots through their last argument.
TEST(Interface, GivenUpMatchIsVisibleAtEveryLevel) {
  const std::string explosive = std::string(40, 'a') + "!b";
  auto p = Pattern::compile("(a*)*\\1b", 0);  // back-references keep the memo off: exponential
  ASSERT_NE(p, nullptr);
  p->setWorkBudget(100000);
  EXPECT_FALSE(p->matchesWhole(explosive));
  EXPECT_EQ(p->status(), MatchStatus::OverBudget);
  EXPECT_TRUE(p->findAll(explosive).empty());
  EXPECT_EQ(p->status(), MatchStatus::OverBudget);
  EXPECT_EQ(p->split(explosive, false, 0), (Texts{explosive}));
  EXPECT_EQ(p->status(), MatchStatus::OverBudget);
  EXPECT_EQ(p->replace(explosive, "x"), explosive);
  EXPECT_EQ(p->status(), MatchStatus::OverBudget);
  EXPECT_EQ(p->replace("ab", "x"), "x");
  EXPECT_EQ(p->status(), MatchStatus::Ok);

  // One frame per group-loop iteration: this line is too deep for any of them.
  const std::string deep(kMaxBacktrackFrames, 'a');
  const char* const loop = "(a)*";
  MatchStatus s = MatchStatus::Ok;
  EXPECT_FALSE(Pattern::matchesOnce(loop, deep, 0, &s));
  EXPECT_EQ(s, MatchStatus::TooDeep);
  s = MatchStatus::Ok;
  EXPECT_EQ(Pattern::nthMatch(loop, deep, 0, 0, &s), std::make_pair(std::string(), -1));
  EXPECT_EQ(s, MatchStatus::TooDeep);
  s = MatchStatus::Ok;
  EXPECT_TRUE(Pattern::findAllOnce(loop, deep, 0, &s).empty());
  EXPECT_EQ(s, MatchStatus::TooDeep);
  s = MatchStatus::Ok;
  EXPECT_EQ(Pattern::splitOnce(loop, deep, false, 0, 0, &s), (Texts{deep}));
  EXPECT_EQ(s, MatchStatus::TooDeep);
  s = MatchStatus::Ok;
  EXPECT_EQ(Pattern::replaceOnce(loop, deep, "x", 0, &s), deep);
  EXPECT_EQ(s, MatchStatus::TooDeep);
  EXPECT_TRUE(Pattern::matchesOnce(loop, "aa", 0, &s));
  EXPECT_EQ(s, MatchStatus::Ok);
}

}  // namespace
}  // namespace hbafw
