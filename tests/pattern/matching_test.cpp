// Match rules of the narrow engine, as tables of {pattern, flags, input,
// expected}: whole matches with their group positions, searches with every
// match found, and the order in which alternatives are tried. Every table runs
// with the matcher's shortcuts all off, each one alone, and all on.
#include <gtest/gtest.h>

#include <string>

#include "pattern/pattern.h"

namespace hbafw {
namespace {

// "s,e;s,e;..." for groups 0 .. G-1.
std::string spans(const Matcher& m, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (i) out += ';';
    out += std::to_string(m.groupStart(i)) + "," + std::to_string(m.groupEnd(i));
  }
  return out;
}

// No shortcut, each one alone, all of them.
const unsigned kFastPathSets[] = {0,
                                  kFastLiteralRuns,
                                  kFastFirstChar,
                                  kFastAnyCharJump,
                                  kFastBackoffSkip,
                                  kFastLateMemo,
                                  kFastRequiredText,
                                  kAllFastPaths};

struct WholeRow {
  const char* pattern;
  std::uint64_t flags;
  std::string input;
  bool matches;
  const char* groups;  // spans after the whole match, "" to skip
};

TEST(Matching, WholeMatchesAndGroups) {
  const WholeRow rows[] = {
      {"HBA Instance.*: (.+).*", FLAG_DOT_ALL, "HBA Instance 0: 2", true, "0,17;16,17"},
      {"\\d+", 0, "123", true, ""},
      {"\\d+", 0, "12a", false, ""},
      {"\\d+", 0, "", false, ""},
      {"(a|b)", 0, "b", true, "0,1;0,1"},
      {"a{2,3}", 0, "aa", true, ""},
      {"a{2,3}", 0, "aaa", true, ""},
      {"a{2,3}", 0, "a", false, ""},
      {"a{,2}", 0, "", true, ""},
      {"a{,2}", 0, "aa", true, ""},
      {"a{,2}", 0, "aaa", false, ""},
      {"a*", 0, "aaa", true, ""},
      {"a*?", 0, "aaa", true, ""},
      {"a*+a", 0, "aaa", false, ""},
      {"(ab)*", 0, "abab", true, "0,4;2,4"},
      {"(a)?b\\1", 0, "b", true, ""},
      {"(a*)+b", 0, "aab", true, "0,3;2,2"},
      {"(a|ab)(c|bcd)(d*)", 0, "abcd", true, "0,4;0,1;1,4;4,4"},
      {"(a+)(a+)", 0, "aaaa", true, "0,4;0,3;3,4"},
      {"(a+?)(a+)", 0, "aaaa", true, "0,4;0,1;1,4"},
      {"(a|b)*c", 0, "abac", true, "0,4;2,3"},
      {"(a|b)*?b", 0, "aab", true, "0,3;1,2"},
      {"(?:ab)+c", 0, "ababc", true, "0,5"},
      {"(a)++a", 0, "aaa", false, ""},
      {"(a){2}", 0, "aa", true, "0,2;1,2"},
      {"(a){2}", 0, "aaa", false, ""},
      {"(?>a*)a", 0, "aaa", false, ""},
      {"(?>a|ab)c", 0, "abc", false, ""},
      {"(?=ab)a.", 0, "ab", true, ""},
      {"(?!ab)a.", 0, "ab", false, ""},
      {"a(?<=a)b", 0, "ab", true, ""},
      {"a(?<!a)b", 0, "ab", false, ""},
      {"(a)\\1", 0, "aa", true, "0,2;0,1"},
      {"(a)\\1", FLAG_IGNORE_CASE, "aA", false, ""},
      {"(a)\\7", 0, "a", true, ""},  // names no group: matches empty
      {"(?i)aB", 0, "Ab", true, ""},
      {"(?i:a)B", 0, "AB", true, ""},
      {"(?i:a)B", 0, "Ab", false, ""},
      {"abc", FLAG_IGNORE_CASE, "ABC", true, ""},
      {"\\x41", FLAG_IGNORE_CASE, "a", false, ""},
      {"\\x41", 0, "A", true, ""},
      {"\\x4g", 0, " 4g", true, ""},
      {"\\012", 0, "\n", true, ""},
      {"a.b", FLAG_LITERAL, "a.b", true, ""},
      {"a.b", FLAG_LITERAL, "axb", false, ""},
      {"\\QAbC\\E!", FLAG_IGNORE_CASE, "aBc!", true, ""},
      {"[a-c&&[b-d]]+", 0, "bc", true, ""},
      {"[a-c&&[b-d]]", 0, "a", false, ""},
      {"[^a]", 0, "b", true, ""},
      {"[^a]", FLAG_IGNORE_CASE, "A", false, ""},
      {"[]", 0, "", false, ""},
      {"[z-a]", 0, "\xff", true, ""},  // a reversed byte range wraps
      {"[z-a]", 0, "m", false, ""},
      {"\\p{Alpha}+\\P{Digit}", 0, "ab!", true, ""},
      {".", 0, "\n", false, ""},
      {".", 0, "\r", false, ""},
      {".", FLAG_UNIX_LINES, "\r", true, ""},
      {".", FLAG_DOT_ALL, "\n", true, ""},
      {"a$", 0, "a", true, ""},
      {"^a", 0, "a", true, ""},
      {"a\\b", 0, "a", true, ""},
      {"1\\b", 0, "1", true, ""},
      {"a\\Z", 0, "a\r\n", false, ""},
      {"(a*)*", 0, "", true, "0,0;0,0"},
      {"$*a", 0, "a", true, ""},
      {"Red Hat Enterprise Linux.*release 5.*", FLAG_DOT_ALL | FLAG_MULTILINE,
       "Red Hat Enterprise Linux Server release 5.3 (Tikanga)\n", true, ""},
      {"SUSE Linux Enterprise Server 11.*", FLAG_DOT_ALL | FLAG_MULTILINE,
       "SUSE Linux Enterprise Server 10 (x86_64)\nVERSION = 10\n", false, ""},
  };
  for (const unsigned fast : kFastPathSets) {
    for (const auto& r : rows) {
      auto p = Pattern::compile(r.pattern, r.flags);
      ASSERT_NE(p, nullptr) << r.pattern;
      p->setFastPaths(fast);
      auto m = p->newMatcher(r.input);
      EXPECT_EQ(m->matches(), r.matches) << r.pattern << " flags " << r.flags << " on '" << r.input << "' fast "
                                         << fast;
      EXPECT_EQ(m->status(), MatchStatus::Ok) << r.pattern;
      if (*r.groups) {
        EXPECT_EQ(spans(*m, p->groupCount()), r.groups) << r.pattern << " on '" << r.input << "' fast " << fast;
      }
    }
  }
}

struct FindRow {
  const char* pattern;
  std::uint64_t flags;
  std::string input;
  const char* found;  // "s,e;..." of every findNext until the first false
};

TEST(Matching, SearchFindsEveryMatchInOrder) {
  const FindRow rows[] = {
      {"a*", 0, "baa", "0,0;1,3"},
      {"(a*)*", 0, "b", "0,0"},
      {"\\bfoo", 0, "x foo", "2,5"},
      {"\\bfoo", 0, "xfoo", ""},
      {"a\\B", 0, "a ", ""},
      {"a\\B", 0, "a", "0,1"},
      {"1\\b", 0, "12", ""},
      {"a\\Z", 0, "a\r\n", "0,1"},
      {"a\\z", 0, "a\r\n", ""},
      {"a$", 0, "a\r\n", ""},
      {"a$", FLAG_MULTILINE, "a\r\na", "0,1;3,4"},
      {"^b", FLAG_MULTILINE, "a\nb", "2,3"},
      {"\\Ga", 0, "aab", "0,1;1,2"},
      {"\\d", 0, "a1b2", "1,2;3,4"},
      {"x|", 0, "ax", "0,0;1,2"},
  };
  for (const unsigned fast : kFastPathSets) {
    for (const auto& r : rows) {
      auto p = Pattern::compile(r.pattern, r.flags);
      ASSERT_NE(p, nullptr) << r.pattern;
      p->setFastPaths(fast);
      auto m = p->newMatcher(r.input);
      std::string found;
      for (int i = 0; i < 100 && m->findNext(); ++i) {
        if (!found.empty()) found += ';';
        found += std::to_string(m->groupStart(0)) + "," + std::to_string(m->groupEnd(0));
      }
      EXPECT_EQ(found, r.found) << r.pattern << " flags " << r.flags << " over '" << r.input << "' fast " << fast;
    }
  }
}

// The system's adapter-query pattern, on the real line shape and on lines
// built to make it backtrack.
const char* const kAdapterPattern =
    "HBA=(.+),.*PCI ID=(\\w{1,4}),.*VID=(\\w{1,4}),.*SSID=(\\w{1,4}),.*SVID=(\\w{1,4}),.*Firmware=(.+),.*"
    "Boot Code=([\\w\\.]+).*";

TEST(Matching, AdapterQueryLineGivesItsSevenFields) {
  auto p = Pattern::compile(kAdapterPattern, FLAG_DOT_ALL);
  ASSERT_NE(p, nullptr);
  auto m = p->newMatcher(
      "HBA=QLE2562,PCI ID=2532,VID=1077,SSID=015D,SVID=103C,Firmware=5.06.01,Boot Code=2.10,Extra=1");
  ASSERT_TRUE(m->matches());
  const std::vector<std::string> expected = {"QLE2562", "2532", "1077", "015D", "103C", "5.06.01", "2.10"};
  EXPECT_EQ(m->groups(false), expected);
}

TEST(Matching, HostileAndHugeLinesFinishWithTheRightAnswer) {
  auto p = Pattern::compile(kAdapterPattern, FLAG_DOT_ALL);
  ASSERT_NE(p, nullptr);
  std::string repeated = "HBA=x";
  while (repeated.size() < 64 * 1024) repeated += ",PCI ID=";
  auto m = p->newMatcher(repeated);
  EXPECT_FALSE(m->matches());
  EXPECT_EQ(m->status(), MatchStatus::Ok);

  std::string big = "HBA=QLE2562,PCI ID=2532,VID=1077,SSID=015D,SVID=103C,Firmware=" + std::string(1 << 20, '5') +
                    ",Boot Code=2.10";
  m = p->newMatcher(big);
  EXPECT_TRUE(m->matches());
  EXPECT_EQ(m->status(), MatchStatus::Ok);
  EXPECT_EQ(m->group(7), "2.10");
  EXPECT_EQ(m->group(6).size(), std::size_t{1} << 20);

  auto wide = WidePattern::compile(L".*(\\d+\\.\\d+\\.\\d+\\.\\d+).*", FLAG_DOT_ALL);
  auto wm = wide->newMatcher(std::wstring(1 << 20, L'v') + L"1.2.3.4");
  EXPECT_TRUE(wm->matches());
  EXPECT_EQ(wm->group(1), L"1.2.3.4");
}

TEST(Matching, DefinedFailuresAreDistinguishable) {
  // Back-references switch the failure memo off, so this one explodes (the
  // "b" is there so that the missing-text check does not end it at once).
  auto p = Pattern::compile("(a*)*\\1b", 0);
  ASSERT_NE(p, nullptr);
  auto m = p->newMatcher(std::string(40, 'a') + "!b");
  m->setWorkBudget(100000);
  EXPECT_FALSE(m->matches());
  EXPECT_EQ(m->status(), MatchStatus::OverBudget);
  EXPECT_EQ(m->groupStart(0), -1);

  // One frame per iteration of a group loop: a long enough input is too deep.
  auto loop = Pattern::compile("(a)*", 0);
  auto deep = loop->newMatcher(std::string(kMaxBacktrackFrames, 'a'));
  EXPECT_FALSE(deep->matches());
  EXPECT_EQ(deep->status(), MatchStatus::TooDeep);
  // The same matcher recovers on a short input.
  deep->setInput("aa");
  EXPECT_TRUE(deep->matches());
  EXPECT_EQ(deep->status(), MatchStatus::Ok);
}

}  // namespace
}  // namespace hbafw
