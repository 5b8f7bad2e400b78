// The matcher's shortcuts against the plain rules: every pattern below runs
// over every short input of a small alphabet with no shortcut, each shortcut
// alone and all of them, and must leave the same answers and group positions.
// Also the bound on the failure memo for a big pattern over a 1 MiB line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace hbafw {
namespace {

const unsigned kFastPathSets[] = {kFastLiteralRuns, kFastFirstChar,    kFastAnyCharJump, kFastBackoffSkip,
                                  kFastLateMemo,    kFastRequiredText, kAllFastPaths};

// Every string over the alphabet up to maxLength characters.
template <class S>
std::vector<S> allInputs(const S& alphabet, std::size_t maxLength) {
  std::vector<S> out{S()};
  for (std::size_t from = 0; from < out.size(); ++from) {
    if (out[from].size() == maxLength) continue;
    for (auto c : alphabet) out.push_back(out[from] + c);
  }
  return out;
}

// The whole match with its groups, then every search hit with its groups.
template <class P>
std::string outcome(P& p, const typename P::String& input) {
  auto m = p.newMatcher(input);
  std::string out = m->matches() ? "M" : "-";
  auto groups = [&] {
    for (int g = 0; g < p.groupCount(); ++g) {
      out += " " + std::to_string(m->groupStart(g)) + "," + std::to_string(m->groupEnd(g));
    }
  };
  groups();
  for (int i = 0; i < 20 && m->findNext(); ++i) {
    out += " |";
    groups();
  }
  if (m->status() != MatchStatus::Ok) out += " gave-up";
  return out;
}

template <class P>
void compareShortcuts(const std::vector<const typename P::Char*>& patterns, const typename P::String& alphabet,
                      std::size_t maxLength) {
  const auto inputs = allInputs(alphabet, maxLength);
  for (const auto* text : patterns) {
    for (const std::uint64_t flags : {std::uint64_t{0}, FLAG_DOT_ALL | FLAG_MULTILINE}) {
      auto plain = P::compile(text, flags);
      auto quick = P::compile(text, flags);
      ASSERT_NE(plain, nullptr) << testing::PrintToString(typename P::String(text));
      plain->setFastPaths(0);
      std::vector<std::string> expected;
      for (const auto& input : inputs) expected.push_back(outcome(*plain, input));
      for (const unsigned fast : kFastPathSets) {
        quick->setFastPaths(fast);
        for (std::size_t i = 0; i < inputs.size(); ++i) {
          ASSERT_EQ(outcome(*quick, inputs[i]), expected[i])
              << testing::PrintToString(typename P::String(text)) << " flags " << flags << " fast " << fast
              << " on " << testing::PrintToString(inputs[i]);
        }
      }
    }
  }
}

TEST(FastPaths, NarrowResultsAsWithoutShortcuts) {
  compareShortcuts<Pattern>(
      {"ab", "a.*b", ".*ab", "(a|b).*:b", "a.*?b", "a.+?:", ".{1,2}b", ".*+b", "(.*)(a+)(.*)", "[ab]*:",
       "x*[ab]+?b", "(?i)ab.*B", "(?i:aB)+", "\\Ga", "(?=a)ab|b", "a(?!b)", "\\Qab\\E.*\\Qb\\E", "a{2,3}b",
       "(a*)*b", "(?:ab|a)*b", "b\\b.*a", "^a.*b$", "^b", "a*?$", ".*\\z", "[^a]*a", "(ab)\\1", "(?>a*)b",
       "a?b?:", "a.*(?:b|:).*", "\\n*a", "(?i)\\Qab\\E+", "(a|ab)(c|b)", ".*(a|b:).*?A", "(?=(.))b",
       "a(?=(b?)).*:", "(a)b.*\\Q:A\\E", "a+b(:)", "a.{3,1}:"},
      std::string("ab:A\n"), 4);
}

TEST(FastPaths, WideResultsAsWithoutShortcuts) {
  compareShortcuts<WidePattern>({L".*(\\d+\\.\\d+).*", L"(?i)a1.*A", L"[^a]+1", L"a.*\x4E2D", L"\\d+?\\.",
                                 L"(?i)[a\x4E2D]+1", L"\x4E2D\x4E2D|a"},
                                std::wstring(L"a1.\x4E2D"), 4);
}

TEST(FastPaths, FailureMemoStaysWithinItsBoundOnAHugePatternAndLine) {
  // About nine hundred alternatives (near the nesting bound) want one memo row
  // each per position of a 1 MiB line: far more than the bound allows.
  std::string text;
  for (int i = 0; i < 900; ++i) text += "k" + std::to_string(i) + "|";
  text += ".*.*z";
  auto p = Pattern::compile(text, FLAG_DOT_ALL);
  ASSERT_NE(p, nullptr);
  ASSERT_TRUE(p->memoUsable());
  const std::string line(1 << 20, 'a');
  const std::size_t wanted = static_cast<std::size_t>(p->memoNodeCount()) * (line.size() + 1) / 8;
  ASSERT_GT(wanted, kMaxMemoBytes);
  for (const std::string& input : std::vector<std::string>{line, line + "z", "k899"}) {
    auto m = p->newMatcher(input);
    EXPECT_EQ(m->matches(), input != line) << input.size();
    EXPECT_EQ(m->status(), MatchStatus::Ok);
    EXPECT_LE(m->memoPeakBytes(), kMaxMemoBytes);
    if (input == line) {
      EXPECT_GT(m->memoPeakBytes(), kMaxMemoBytes / 2);  // it was set up, then capped
    }
  }
}

}  // namespace
}  // namespace hbafw
