// Public face of the pattern engine: Pattern/Matcher (bytes) and
// WidePattern/WideMatcher (wchar_t), the flags, one-shot operations and the
// per-family name table and pattern cache. Single-threaded by design.
//
// Bounds: matching runs on an explicit stack, never native recursion per
// character. A match that needs more than kMaxBacktrackFrames stack entries
// ends with MatchStatus::TooDeep; one whose work passes the matcher's budget
// (kDefaultWorkBudget node steps per start of matching, see setWorkBudget)
// ends with MatchStatus::OverBudget. Both return "no match" from the
// operation and leave the group tables cleared; ask status() (of the Matcher,
// or of the Pattern for its whole-text operations, or through the one-shot
// functions' last argument) to tell them apart from an ordinary failure.
// The failure memo takes at most kMaxMemoBytes; a pattern and line that would
// need more memoise only part of the pattern and run slower. The compiler
// refuses patterns nested deeper than kMaxNesting groups, alternatives, named
// references or bracket classes as a syntax error.
#pragma once

#include <bitset>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pattern/nodes.h"

namespace hbafw {

inline constexpr std::uint64_t FLAG_IGNORE_CASE = 1;
inline constexpr std::uint64_t FLAG_LITERAL = 2;
inline constexpr std::uint64_t FLAG_DOT_ALL = 4;
inline constexpr std::uint64_t FLAG_MULTILINE = 8;
inline constexpr std::uint64_t FLAG_UNIX_LINES = 16;

inline constexpr int kMaxNesting = 1000;
inline constexpr std::size_t kMaxBacktrackFrames = std::size_t{1} << 22;
inline constexpr std::uint64_t kDefaultWorkBudget = 200'000'000;
inline constexpr std::size_t kMaxMemoBytes = std::size_t{64} << 20;

enum class MatchStatus { Ok, TooDeep, OverBudget };

// Shortcuts that change how fast a match runs, never what it finds. All are on
// by default; PatternT::setFastPaths switches them off one by one so tests can
// compare the results both ways.
enum FastPath : unsigned {
  kFastLiteralRuns = 1,    // chained literal characters compared at once
  kFastFirstChar = 2,      // search starts only where the pattern's first character can be
  kFastAnyCharJump = 4,    // a greedy "." that matches everything jumps instead of stepping
  kFastBackoffSkip = 8,    // quantifiers give back or grow only to where what follows can start
  kFastLateMemo = 16,      // the failure memo is set up only once a match has backtracked
  kFastRequiredText = 32,  // a match is not tried when text every match contains is missing
  kAllFastPaths = 63,
};

// Characters one of which must stand at a position for a sub-automaton to
// match there: a bitmap of the codes below 256, whether any code above may
// do, and the one code when there is exactly one.
struct FirstSet {
  std::bitset<256> low;
  bool high = false;
  int single = -1;
};

template <class Tr> class PatternT;

template <class Tr>
class MatcherT {
 public:
  using Char = typename Tr::Char;
  using String = typename Tr::String;
  using Node = NFANodeT<Tr>;

  MatcherT(const PatternT<Tr>* pattern, String input);

  bool matches();
  bool findFirst();
  bool findNext();
  String group(int i) const;
  int groupStart(int i) const;
  int groupEnd(int i) const;
  std::vector<String> groups(bool includeZero) const;
  std::vector<String> findAll();
  void setInput(const String& text);
  void reset();
  String expandReplacement(const String& replacement) const;

  // Outcome of the last matching operation: Ok for a match or an ordinary
  // no-match, TooDeep / OverBudget for the defined failures described above.
  MatchStatus status() const { return status_; }
  void setWorkBudget(std::uint64_t steps) { budget_ = steps; }
  // Largest number of bytes the failure memo has held (never above kMaxMemoBytes).
  std::size_t memoPeakBytes() const { return memoPeak_; }

 private:
  struct Frame {
    const Node* node;
    int op, a, b, c;
  };
  int run(int pos);
  void clearGroups();
  int& starts(int g) { return groupStarts_[g + hidden_]; }
  int& ends(int g) { return groupEnds_[g + hidden_]; }
  int& counts(int g) { return loopCounts_[g + hidden_]; }
  int& loopStart(int g) { return loopStarts_[g + hidden_]; }
  int& marks(int g) { return loopMarks_[g + hidden_]; }
  int leafStep(const Node* n, int p);
  bool memoFailed(const Node* n, int p) const;
  void memoSet(const Node* n, int p);
  bool setUpMemo();
  bool canStart(const FirstSet& f, int p) const;
  int nextStart(const FirstSet& f, int from) const;
  int lastStart(const FirstSet& f, int base, int width, int last) const;
  bool hasRequiredText(int from) const;
  void noteMemoSize();

  const PatternT<Tr>* pattern_;
  String input_;
  int groupCount_, hidden_;
  std::vector<int> groupStarts_, groupEnds_, loopCounts_, loopStarts_, loopMarks_;
  int lastMatchEnd_ = 0;
  bool wholeMode_ = false;
  bool hasMatch_ = false;
  MatchStatus status_ = MatchStatus::Ok;
  std::uint64_t budget_ = kDefaultWorkBudget;
  std::vector<Frame> stack_;
  std::vector<std::uint64_t> memo_;
  std::vector<std::size_t> memoTouched_;
  bool memoAllDirty_ = false;
  int memoLimit_ = 0;  // nodes with a memo index below it are memoised in this run
  std::size_t memoPeak_ = 0;
  std::vector<std::pair<int, int>> failedRuns_;
};

template <class Tr>
class PatternT {
 public:
  using Char = typename Tr::Char;
  using String = typename Tr::String;
  using Node = NFANodeT<Tr>;
  using Matcher = MatcherT<Tr>;

  static std::unique_ptr<PatternT> compile(const String& text, std::uint64_t flags);
  ~PatternT();
  PatternT(const PatternT&) = delete;
  PatternT& operator=(const PatternT&) = delete;

  std::unique_ptr<Matcher> newMatcher(const String& input) const;
  bool matchesWhole(const String& input);
  std::vector<String> findAll(const String& input);
  std::vector<String> split(const String& input, bool keepEmpty, int limit);
  String replace(const String& input, const String& replacement);
  void dump() const requires(!Tr::kWide);
  // Work budget of the pattern's own matcher (matchesWhole, findAll, split, replace).
  void setWorkBudget(std::uint64_t steps) { ownMatcher_->setWorkBudget(steps); }
  // How the last whole-text operation ended: Ok, or the defined failure that
  // cut its result short (the result is what was found until then).
  MatchStatus status() const { return ownMatcher_->status(); }
  // Internal: which FastPath shortcuts this pattern's matchers take.
  void setFastPaths(unsigned mask) { fastPaths_ = mask; }
  unsigned fastPaths() const { return fastPaths_; }

  const String& text() const { return text_; }
  std::uint64_t flags() const { return originalFlags_; }
  int groupCount() const { return groupCount_; }
  int hiddenGroupCount() const { return -hiddenGroupCount_; }
  const Node* head() const { return head_; }
  // Failure memo is sound only without back-references, group loops and
  // captures inside look-aheads or independent groups (see matcher).
  bool memoUsable() const { return memoUsable_; }
  int memoNodeCount() const { return memoNodes_; }

  // Each one-shot stores in *status, when given, how its operation ended (Ok
  // also for a text that does not compile).
  static bool matchesOnce(const String& pattern, const String& input, std::uint64_t flags,
                          MatchStatus* status = nullptr);
  static std::pair<String, int> nthMatch(const String& pattern, const String& input, int n, std::uint64_t flags,
                                         MatchStatus* status = nullptr);
  static std::vector<String> findAllOnce(const String& pattern, const String& input, std::uint64_t flags,
                                         MatchStatus* status = nullptr);
  static std::vector<String> splitOnce(const String& pattern, const String& input, bool keepEmpty, int limit,
                                       std::uint64_t flags, MatchStatus* status = nullptr);
  static String replaceOnce(const String& pattern, const String& input, const String& replacement,
                            std::uint64_t flags, MatchStatus* status = nullptr);

  static bool defineName(const String& name, const String& patternText, std::uint64_t flags);
  static void clearNames();
  // The returned pattern stays owned by the cache; it lives until clearCache.
  static PatternT* cachedCompile(const String& patternText, std::uint64_t flags);
  static void clearCache();
  static const std::map<String, std::pair<String, std::uint64_t>>& nameTable();

 private:
  friend class MatcherT<Tr>;
  PatternT(const String& text, std::uint64_t flags);
  template <class N, class... A> N* make(A&&... args);
  Node* parseSequence(bool inGroup, bool isAlternative, Node** endOut, int groupIndex, bool hasGroupHead);
  Node* quantify(Node* node);
  bool readQuantifier(int& min, int& max, int& kind);
  bool readBounds(int& min, int& max);
  struct Escape;
  Escape generalEscape(bool inBracket);
  CharSet bracketClass();
  CharSet foldClass(const CharSet& set) const;
  Node* namedReference(Node*& tail);
  Node* classNode(CharSet set, bool inverted);
  void syntaxError();
  void finish();
  void numberMemoNodes();
  void chainLiteralRuns();
  void computeFirstSets();
  bool firstOf(const Node* n, FirstSet& out, int& budget) const;
  void collectRequiredText();

  String text_;
  String originalText_;
  std::uint64_t flags_, originalFlags_;
  int pos_ = 0;
  int groupCount_ = 0;
  int hiddenGroupCount_ = 0;
  bool error_ = false;
  int depth_ = 0;
  Node* head_ = nullptr;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<Node*> altEndsOut_;
  bool memoUsable_ = false;
  bool pathsSkippable_ = false;
  int memoNodes_ = 0;
  int spanNodes_ = 0;
  std::vector<FirstSet> firstSets_;
  // Texts every match contains, in this order and without overlap.
  std::vector<String> requiredText_;
  unsigned fastPaths_ = kAllFastPaths;
  std::unique_ptr<Matcher> ownMatcher_;
};

using Pattern = PatternT<NarrowTraits>;
using Matcher = MatcherT<NarrowTraits>;
using WidePattern = PatternT<WideTraits>;
using WideMatcher = MatcherT<WideTraits>;

extern template class PatternT<NarrowTraits>;
extern template class PatternT<WideTraits>;
extern template class MatcherT<NarrowTraits>;
extern template class MatcherT<WideTraits>;

}  // namespace hbafw
