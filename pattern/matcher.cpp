// The matcher: match tables, whole-input and search operations, and the
// machine that runs the node graph. The machine keeps the exact order in which
// the recursive rules try alternatives and the exact group values they leave,
// but holds every pending alternative and every undo on an explicit stack, so
// input length never turns into native stack depth. The shortcuts it takes
// (see FastPath) skip only work whose outcome is already known.
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

#include "pattern/pattern.h"

namespace hbafw {

namespace {

enum Op : int {
  kUndoStart, kUndoEnd, kUndoPrologue, kUndoLoop, kMemo,
  kOrRight, kGreedyBack, kLazyMore, kLoopGreedySkip, kLoopLazyMore, kLoopPossessiveSkip,
  kSearchNext, kBarrier, kGreedyRunFailed,
};

template <class C>
bool isAsciiLetter(C c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Backtracks a match may take before the failure memo is set up for it.
constexpr int kMemoAfterBacktracks = 32;
// Words of the memo a run may list for clearing; past this it is cleared whole.
constexpr std::size_t kMemoTouchedCap = std::size_t{1} << 18;

bool isLeaf(NodeKind k) {
  switch (k) {
    case NodeKind::Char: case NodeKind::CIChar: case NodeKind::Class: case NodeKind::CIClass:
    case NodeKind::Quote: case NodeKind::CIQuote: case NodeKind::LookBehind: case NodeKind::StartOfLine:
    case NodeKind::EndOfLine: case NodeKind::StartOfInput: case NodeKind::EndOfInput:
    case NodeKind::WordBoundary: case NodeKind::EndOfMatch: case NodeKind::Reference:
      return true;
    default:
      return false;
  }
}

}  // namespace

template <class Tr>
MatcherT<Tr>::MatcherT(const PatternT<Tr>* pattern, String input)
    : pattern_(pattern), input_(std::move(input)), groupCount_(pattern->groupCount_),
      hidden_(-pattern->hiddenGroupCount_) {
  const auto n = static_cast<std::size_t>(groupCount_ + hidden_);
  groupStarts_.assign(n, 0);
  groupEnds_.assign(n, 0);
  loopCounts_.assign(n, 0);
  loopStarts_.assign(n, 0);
  loopMarks_.assign(n, 0);
  stack_.reserve(64);
}

template <class Tr>
void MatcherT<Tr>::clearGroups() {
  for (int g = 0; g < groupCount_; ++g) starts(g) = ends(g) = counts(g) = -1;
  for (int g = -1; g >= -hidden_; --g) counts(g) = -1;
  lastMatchEnd_ = 0;
}

// One step of a node that tests the input at p and moves by a fixed width:
// the new position, or -1. It reads the match state but never changes it.
template <class Tr>
int MatcherT<Tr>::leafStep(const Node* n, int p) {
  const int len = static_cast<int>(input_.size());
  switch (n->kind) {
    case NodeKind::Char:
      return (p < len && input_[p] == static_cast<const NFACharNodeT<Tr>*>(n)->ch) ? p + 1 : -1;
    case NodeKind::CIChar:
      return (p < len && Tr::lower(input_[p]) == static_cast<const NFACharNodeT<Tr>*>(n)->ch) ? p + 1 : -1;
    case NodeKind::Class:
    case NodeKind::CIClass: {
      if (p >= len) return -1;
      const auto* c = static_cast<const NFAClassNodeT<Tr>*>(n);
      const Char ch = n->kind == NodeKind::CIClass ? Tr::lower(input_[p]) : input_[p];
      return c->members.contains(Tr::code(ch)) != c->inverted ? p + 1 : -1;
    }
    case NodeKind::Quote:
    case NodeKind::CIQuote: {
      const auto& lit = static_cast<const NFAQuoteNodeT<Tr>*>(n)->literal;
      const int k = static_cast<int>(lit.size());
      if (p > len - k) return -1;
      const bool same = n->kind == NodeKind::Quote
                            ? input_.compare(static_cast<std::size_t>(p), lit.size(), lit) == 0
                            : Tr::quoteEqualIgnoringCase(input_.data() + p, lit.data(), lit.size());
      return same ? p + k : -1;
    }
    case NodeKind::LookBehind: {
      const auto* lb = static_cast<const NFALookBehindNodeT<Tr>*>(n);
      const int k = static_cast<int>(lb->literal.size());
      if (p < k) return lb->positive ? -1 : p;
      const bool same = input_.compare(static_cast<std::size_t>(p - k), lb->literal.size(), lb->literal) == 0;
      return same == lb->positive ? p : -1;
    }
    case NodeKind::StartOfLine:
      return (p == 0 || input_[p - 1] == '\n' || input_[p - 1] == '\r') ? p : -1;
    case NodeKind::EndOfLine:
      return (p >= len || input_[p] == '\n' || input_[p] == '\r') ? p : -1;
    case NodeKind::StartOfInput:
      return p == 0 ? p : -1;
    case NodeKind::EndOfInput: {
      if (p == len) return p;
      if (!static_cast<const NFAFlagNodeT<Tr>*>(n)->flag) return -1;
      const int rest = len - p;
      const bool terminator = (rest == 1 && (input_[p] == '\r' || input_[p] == '\n')) ||
                              (rest == 2 && input_[p] == '\r' && input_[p + 1] == '\n');
      return terminator ? p : -1;
    }
    case NodeKind::WordBoundary: {
      if (p >= len) return p;
      const bool prev = p > 0 && isAsciiLetter(input_[p - 1]);
      const bool cur = isAsciiLetter(input_[p]);
      return (prev != cur) == static_cast<const NFAFlagNodeT<Tr>*>(n)->flag ? p : -1;
    }
    case NodeKind::EndOfMatch:
      return p == lastMatchEnd_ ? p : -1;
    case NodeKind::Reference: {
      // A number that names no group of this pattern matches the empty string,
      // as an unset group does; it never indexes outside the tables.
      const int g = static_cast<const NFAGroupNodeT<Tr>*>(n)->groupIndex;
      if (g <= 0 || g >= groupCount_) return p;
      const int s = starts(g), e = ends(g), k = e - s;
      if (s < 0 || e < s || k == 0) return p;
      if (p > len - k) return -1;
      return input_.compare(static_cast<std::size_t>(p), static_cast<std::size_t>(k), input_,
                            static_cast<std::size_t>(s), static_cast<std::size_t>(k)) == 0
                 ? p + k
                 : -1;
    }
    default:
      return -1;
  }
}

template <class Tr>
bool MatcherT<Tr>::memoFailed(const Node* n, int p) const {
  const std::size_t bit = static_cast<std::size_t>(n->memoIndex) * (input_.size() + 1) + static_cast<std::size_t>(p);
  return (memo_[bit >> 6] >> (bit & 63)) & 1u;
}

template <class Tr>
void MatcherT<Tr>::memoSet(const Node* n, int p) {
  const std::size_t bit = static_cast<std::size_t>(n->memoIndex) * (input_.size() + 1) + static_cast<std::size_t>(p);
  std::uint64_t& word = memo_[bit >> 6];
  if (word == 0 && !memoAllDirty_) {
    if (memoTouched_.size() >= kMemoTouchedCap) {
      memoAllDirty_ = true;
    } else {
      const bool grows = memoTouched_.size() == memoTouched_.capacity();
      memoTouched_.push_back(bit >> 6);
      if (grows) noteMemoSize();
    }
  }
  word |= std::uint64_t{1} << (bit & 63);
}

template <class Tr>
void MatcherT<Tr>::noteMemoSize() {
  const std::size_t bytes = memo_.capacity() * sizeof(std::uint64_t) +
                            memoTouched_.capacity() * sizeof(std::size_t) +
                            failedRuns_.capacity() * sizeof(std::pair<int, int>);
  memoPeak_ = std::max(memoPeak_, bytes);
}

// Sizes and clears the memo for this input. Rows go to the memoised nodes in
// their order until kMaxMemoBytes is reached; the nodes left over are simply
// not memoised, which costs time, never a wrong result.
template <class Tr>
bool MatcherT<Tr>::setUpMemo() {
  memoLimit_ = 0;
  const std::size_t cols = input_.size() + 1;
  const std::size_t fixed = kMemoTouchedCap * sizeof(std::size_t) +
                            static_cast<std::size_t>(pattern_->spanNodes_) * sizeof(std::pair<int, int>);
  if (fixed >= kMaxMemoBytes / 2) return false;
  const std::size_t rowsFit = ((kMaxMemoBytes - fixed) * 8 - 64) / cols;
  const std::size_t rows = std::min(rowsFit, static_cast<std::size_t>(pattern_->memoNodes_));
  if (rows == 0) return false;
  const std::size_t words = (rows * cols + 63) / 64;
  if (memoAllDirty_) {
    std::fill(memo_.begin(), memo_.end(), 0);
  } else {
    for (std::size_t w : memoTouched_) memo_[w] = 0;
  }
  memoTouched_.clear();
  memoAllDirty_ = false;
  try {
    if (memo_.size() < words) {
      // Released first and allocated to the exact size, so the old and the new
      // memo never exist together and no growth slack is added.
      std::vector<std::uint64_t>().swap(memo_);
      std::vector<std::uint64_t>(words, 0).swap(memo_);
    }
    failedRuns_.assign(static_cast<std::size_t>(pattern_->spanNodes_), {-1, -2});
  } catch (const std::bad_alloc&) {
    std::vector<std::uint64_t>().swap(memo_);
    return false;
  }
  memoLimit_ = static_cast<int>(rows);
  noteMemoSize();
  return true;
}

template <class Tr>
bool MatcherT<Tr>::canStart(const FirstSet& f, int p) const {
  if (p >= static_cast<int>(input_.size())) return false;
  const std::uint32_t c = Tr::code(input_[static_cast<std::size_t>(p)]);
  return c < 256 ? f.low.test(c) : f.high;
}

// First position from `from` on where f can start, or the input length.
template <class Tr>
int MatcherT<Tr>::nextStart(const FirstSet& f, int from) const {
  const int len = static_cast<int>(input_.size());
  if (from >= len) return len;
  if (f.single >= 0) {
    const Char* at = input_.data() + from;
    const Char* hit;
    if constexpr (Tr::kWide) hit = std::wmemchr(at, static_cast<Char>(f.single), static_cast<std::size_t>(len - from));
    else hit = static_cast<const Char*>(std::memchr(at, f.single, static_cast<std::size_t>(len - from)));
    return hit == nullptr ? len : static_cast<int>(hit - input_.data());
  }
  for (int p = from; p < len; ++p) {
    if (canStart(f, p)) return p;
  }
  return len;
}

// Whether the texts every match contains stand in the input from `from` on.
template <class Tr>
bool MatcherT<Tr>::hasRequiredText(int from) const {
  std::size_t at = static_cast<std::size_t>(from);
  for (const auto& text : pattern_->requiredText_) {
    at = input_.find(text, at);
    if (at == String::npos) return false;
    at += text.size();
  }
  return true;
}

// Largest i in 0 .. last with f able to start at base + i * width, or -1.
template <class Tr>
int MatcherT<Tr>::lastStart(const FirstSet& f, int base, int width, int last) const {
  if constexpr (!Tr::kWide) {
    if (f.single >= 0 && width == 1) {
      const void* hit = memrchr(input_.data() + base, f.single, static_cast<std::size_t>(last) + 1);
      return hit == nullptr ? -1 : static_cast<int>(static_cast<const Char*>(hit) - (input_.data() + base));
    }
  }
  for (int i = last; i >= 0; --i) {
    if (canStart(f, base + i * width)) return i;
  }
  return -1;
}

template <class Tr>
int MatcherT<Tr>::run(int startPos) {
  using Quant = NFAQuantifierNodeT<Tr>;
  using Loop = NFAGroupLoopNodeT<Tr>;
  using GroupNode = NFAGroupNodeT<Tr>;
  using CharNode = NFACharNodeT<Tr>;
  status_ = MatchStatus::Ok;
  stack_.clear();
  const int len = static_cast<int>(input_.size());
  const unsigned fast = pattern_->fastPaths_;
  const bool literalRuns = fast & kFastLiteralRuns;
  const bool firstChar = fast & kFastFirstChar;
  const bool anyJump = fast & kFastAnyCharJump;
  const bool backoffSkip = fast & kFastBackoffSkip;
  const bool memoPossible = pattern_->memoUsable_ && pattern_->memoNodes_ > 0;
  const int memoAfter = (fast & kFastLateMemo) ? kMemoAfterBacktracks : 0;
  int backtracks = 0;
  bool useMemo = memoPossible && memoAfter == 0 && setUpMemo();
  const FirstSet* sets = pattern_->firstSets_.data();
  std::uint64_t steps = 0;
  int barrier = -1;
  const Node* node = pattern_->head_;
  int p = startPos;
  if ((fast & kFastRequiredText) && !pattern_->requiredText_.empty() && !hasRequiredText(startPos)) {
    // The tables are left as the failed match would leave them.
    if (wholeMode_) {
      starts(0) = startPos == 0 ? 0 : -1;
    } else {
      if (startPos < len) clearGroups();
      starts(0) = -1;
    }
    return -1;
  }
  auto push = [this](const Node* n, int op, int a = 0, int b = 0, int c = 0) {
    stack_.push_back(Frame{n, op, a, b, c});
  };
  auto groupOf = [](const Node* n) { return static_cast<const GroupNode*>(n)->groupIndex; };
  // What may follow n: null when anything may (or the shortcut is off).
  auto follow = [sets](const Node* n, bool on) -> const FirstSet* {
    return on && n->firstIndex >= 0 ? &sets[n->firstIndex] : nullptr;
  };
  // A "." that matches every character (dot-all) moves by one, always.
  auto matchesAnything = [anyJump](const Node* n) {
    if (!anyJump || n->kind != NodeKind::Class) return false;
    const auto* c = static_cast<const NFAClassNodeT<Tr>*>(n);
    return c->inverted && c->members.intervals().empty();
  };

forward:
  for (;;) {
    if (++steps > budget_ || stack_.size() >= kMaxBacktrackFrames) {
      status_ = steps > budget_ ? MatchStatus::OverBudget : MatchStatus::TooDeep;
      stack_.clear();
      clearGroups();
      starts(0) = ends(0) = -1;
      return -1;
    }
    if (node == nullptr) return p;  // not built by the compiler; ends a chain like an accept
    if (useMemo && node->memoIndex >= 0 && node->memoIndex < memoLimit_) {
      if (memoFailed(node, p)) goto fail;
      push(node, kMemo, p);
    }
    switch (node->kind) {
      case NodeKind::Start: {
        starts(0) = p;
        const FirstSet* first = follow(node, firstChar);
        if (wholeMode_) {
          if (p != 0) {
            starts(0) = -1;
            goto fail;
          }
          if (first != nullptr && !canStart(*first, p)) goto fail;
        } else {
          if (first != nullptr) {
            // Every start before the next possible first character fails.
            const int s = nextStart(*first, p);
            if (s != p) clearGroups();
            if (s >= len) {
              starts(0) = -1;
              goto fail;
            }
            starts(0) = p = s;
          }
          push(node, kSearchNext, p);
        }
        node = node->next;
        continue;
      }
      case NodeKind::End:
        ends(0) = p;
        if (wholeMode_ && p != len) {
          ends(0) = -1;
          goto fail;
        }
        stack_.clear();
        return p;
      case NodeKind::Accept:
        if (node->next != nullptr) {
          node = node->next;
          continue;
        }
        if (barrier < 0) {
          stack_.clear();
          return p;
        }
        {
          // The body of a look-ahead or independent group matched: its pending
          // alternatives are dropped, the captures it made stay.
          const Frame b = stack_[static_cast<std::size_t>(barrier)];
          stack_.resize(static_cast<std::size_t>(barrier));
          barrier = b.b;
          if (b.node->kind == NodeKind::LookAhead) {
            if (!static_cast<const NFALookAheadNodeT<Tr>*>(b.node)->positive) goto fail;
            p = b.a;
          }
          node = b.node->next;
        }
        continue;
      case NodeKind::SubStart:
        node = node->next;
        continue;
      case NodeKind::Or:
        push(node, kOrRight, p);
        node = static_cast<const NFAOrNodeT<Tr>*>(node)->left;
        continue;
      case NodeKind::LookAhead:
        push(node, kBarrier, p, barrier);
        barrier = static_cast<int>(stack_.size()) - 1;
        node = static_cast<const NFALookAheadNodeT<Tr>*>(node)->inner;
        continue;
      case NodeKind::GroupHead: {
        const int g = groupOf(node);
        push(node, kUndoStart, starts(g));
        starts(g) = p;
        node = node->next;
        continue;
      }
      case NodeKind::GroupTail: {
        const int g = groupOf(node);
        push(node, kUndoEnd, ends(g));
        ends(g) = p;
        node = node->next;
        continue;
      }
      case NodeKind::GroupLoopPrologue: {
        const int g = groupOf(node);
        push(node, kUndoPrologue, counts(g), marks(g), loopStart(g));
        counts(g) = 0;
        marks(g) = 0;
        loopStart(g) = -1;
        node = node->next;
        continue;
      }
      case NodeKind::GroupLoop: {
        const auto* loop = static_cast<const Loop*>(node);
        const int g = loop->groupIndex;
        const bool progress = loopStart(g) < p;
        if (progress && counts(g) < loop->min) {
          push(node, kUndoLoop, counts(g), loopStart(g));
          ++counts(g);
          loopStart(g) = p;
          node = loop->inner;
          continue;
        }
        if (!progress || counts(g) >= loop->max) {
          node = node->next;
          continue;
        }
        switch (loop->loopKind) {
          case 0:
            push(node, kLoopGreedySkip, loopStart(g), counts(g), p);
            loopStart(g) = p;
            ++counts(g);
            node = loop->inner;
            continue;
          case 1:
            push(node, kLoopLazyMore, 0, 0, p);
            node = node->next;
            continue;
          case 2:
            push(node, kLoopPossessiveSkip, loopStart(g), counts(g), p);
            marks(g) = counts(g);
            loopStart(g) = p;
            ++counts(g);
            node = loop->inner;
            continue;
          default:
            goto fail;
        }
      }
      case NodeKind::GreedyQuantifier:
      case NodeKind::LazyQuantifier:
      case NodeKind::PossessiveQuantifier: {
        const auto* q = static_cast<const Quant*>(node);
        if (useMemo && node->spanIndex >= 0) {
          const auto& run = failedRuns_[static_cast<std::size_t>(node->spanIndex)];
          if (p >= run.first && p <= run.second) goto fail;
        }
        if (!isLeaf(q->inner->kind)) {
          // Only an independent group has a body here (min = max = 1).
          if (node->kind != NodeKind::PossessiveQuantifier) goto fail;
          push(node, kBarrier, p, barrier);
          barrier = static_cast<int>(stack_.size()) - 1;
          node = q->inner;
          continue;
        }
        const bool jump = matchesAnything(q->inner);
        const FirstSet* then = follow(node, backoffSkip);
        // The minimum part; an empty repetition counts for the rest of it.
        int c = p, t = p;
        if (jump) {
          ++steps;
          t = len - p >= q->min ? p + q->min : -1;
        } else {
          for (int i = 0; i < q->min; ++i) {
            ++steps;
            t = leafStep(q->inner, c);
            if (t <= c) break;
            c = t;
          }
        }
        if (t < 0) goto fail;
        if (node->kind == NodeKind::LazyQuantifier) {
          int i = q->min;
          // Growing past the places where what follows cannot start.
          while (then != nullptr && !canStart(*then, t)) {
            ++steps;
            const int u = i < q->max ? leafStep(q->inner, t) : -1;
            if (u <= t) goto fail;
            t = u;
            ++i;
          }
          if (i < q->max) push(node, kLazyMore, t, i);
          node = node->next;
          p = t;
          continue;
        }
        // Greedy and possessive take the longest run. A leaf moves by the same
        // width every time, so the positions to give back are t + i * width.
        int count = q->min, k = 0, width = 0, at = t;
        if (useMemo && node->spanIndex >= 0) {
          // A failed run that this one flows into ends where it ended, and every
          // try from its own start + min onward is known to fail: only the
          // positions before that are left.
          const auto run = failedRuns_[static_cast<std::size_t>(node->spanIndex)];
          if (run.first > p) {
            if (jump) {
              at = std::max(at, run.first);
            } else {
              while (at < run.first) {
                ++steps;
                const int u = leafStep(q->inner, at);
                if (u <= at) break;
                at = u;
              }
            }
            if (at == run.first) {
              push(node, kGreedyRunFailed, p, run.second);
              const int last = std::min(run.first + q->min - 1, run.second);
              if (last < t) goto fail;
              if (last > t) push(node, kGreedyBack, t, 1, last - t);
              node = node->next;
              p = last;
              if (then != nullptr && !canStart(*then, p)) goto fail;
              continue;
            }
            at = t;
          }
        }
        if (jump) {
          ++steps;
          const long long room = std::max(0LL, static_cast<long long>(q->max) - q->min);
          at = static_cast<int>(std::min<long long>(len, t + room));
          k = at - t;
          width = 1;
        } else {
          while (count < q->max) {
            ++steps;
            const int u = leafStep(q->inner, at);
            if (u <= at) break;
            width = u - at;
            at = u;
            ++count;
            ++k;
          }
        }
        if (useMemo && node->spanIndex >= 0) push(node, kGreedyRunFailed, p, at);
        if (node->kind == NodeKind::GreedyQuantifier && k > 0) push(node, kGreedyBack, t, width, k);
        node = node->next;
        p = at;
        if (then != nullptr && !canStart(*then, p)) goto fail;
        continue;
      }
      case NodeKind::Char:
      case NodeKind::CIChar: {
        const auto* cn = static_cast<const CharNode*>(node);
        if (literalRuns && !cn->run.empty()) {
          // The whole chain of characters in one comparison.
          const int k = static_cast<int>(cn->run.size());
          if (p > len - k) goto fail;
          const Char* at = input_.data() + p;
          if (node->kind == NodeKind::Char) {
            if (std::char_traits<Char>::compare(at, cn->run.data(), cn->run.size()) != 0) goto fail;
          } else {
            for (int i = 0; i < k; ++i) {
              if (Tr::lower(at[i]) != cn->run[static_cast<std::size_t>(i)]) goto fail;
            }
          }
          node = cn->afterRun;
          p += k;
          continue;
        }
        const int q = leafStep(node, p);
        if (q < 0) goto fail;
        node = node->next;
        p = q;
        continue;
      }
      default: {
        const int q = leafStep(node, p);
        if (q < 0) goto fail;
        node = node->next;
        p = q;
        continue;
      }
    }
  }

fail:
  for (;;) {
    if (stack_.empty()) return -1;
    const Frame f = stack_.back();
    stack_.pop_back();
    if (f.op >= kOrRight && !useMemo && memoPossible && ++backtracks > memoAfter) useMemo = setUpMemo();
    switch (f.op) {
      case kUndoStart: starts(groupOf(f.node)) = f.a; break;
      case kUndoEnd: ends(groupOf(f.node)) = f.a; break;
      case kUndoPrologue: {
        const int g = groupOf(f.node);
        counts(g) = f.a;
        marks(g) = f.b;
        loopStart(g) = f.c;
        break;
      }
      case kUndoLoop: {
        const int g = static_cast<const Loop*>(f.node)->groupIndex;
        counts(g) = f.a;
        loopStart(g) = f.b;
        break;
      }
      case kMemo: memoSet(f.node, f.a); break;
      case kGreedyRunFailed: failedRuns_[static_cast<std::size_t>(f.node->spanIndex)] = {f.a, f.b}; break;
      case kOrRight:
        node = static_cast<const NFAOrNodeT<Tr>*>(f.node)->right;
        p = f.a;
        goto forward;
      case kGreedyBack: {
        int i = f.c - 1;
        if (const FirstSet* then = follow(f.node, backoffSkip)) {
          ++steps;
          i = lastStart(*then, f.a, f.b, i);
          if (i < 0) break;
        }
        if (i > 0) push(f.node, kGreedyBack, f.a, f.b, i);
        node = f.node->next;
        p = f.a + i * f.b;
        goto forward;
      }
      case kLazyMore: {
        const auto* q = static_cast<const Quant*>(f.node);
        ++steps;
        int u = leafStep(q->inner, f.a);
        if (u <= f.a) break;
        int i = f.b + 1;
        if (const FirstSet* then = follow(f.node, backoffSkip)) {
          bool dead = false;
          while (!dead && !canStart(*then, u)) {
            ++steps;
            const int v = i < q->max ? leafStep(q->inner, u) : -1;
            dead = v <= u;
            u = v;
            ++i;
          }
          if (dead) break;
        }
        if (i < q->max) push(f.node, kLazyMore, u, i);
        node = f.node->next;
        p = u;
        goto forward;
      }
      case kLoopGreedySkip: {
        const int g = static_cast<const Loop*>(f.node)->groupIndex;
        loopStart(g) = f.a;
        counts(g) = f.b;
        node = f.node->next;
        p = f.c;
        goto forward;
      }
      case kLoopLazyMore: {
        const auto* loop = static_cast<const Loop*>(f.node);
        const int g = loop->groupIndex;
        push(f.node, kUndoLoop, counts(g), loopStart(g));
        loopStart(g) = f.c;
        ++counts(g);
        node = loop->inner;
        p = f.c;
        goto forward;
      }
      case kLoopPossessiveSkip: {
        const int g = static_cast<const Loop*>(f.node)->groupIndex;
        loopStart(g) = f.a;
        counts(g) = f.b;
        if (counts(g) != marks(g)) break;
        node = f.node->next;
        p = f.c;
        goto forward;
      }
      case kSearchNext: {
        if (f.a >= len) {
          starts(0) = -1;
          break;
        }
        clearGroups();
        int s = f.a + 1;
        if (const FirstSet* first = follow(f.node, firstChar)) {
          s = nextStart(*first, s);
          if (s >= len) {
            starts(0) = -1;
            break;
          }
        }
        starts(0) = s;
        push(f.node, kSearchNext, s);
        node = f.node->next;
        p = s;
        goto forward;
      }
      case kBarrier:
        barrier = f.b;
        if (f.node->kind == NodeKind::LookAhead &&
            !static_cast<const NFALookAheadNodeT<Tr>*>(f.node)->positive) {
          node = f.node->next;
          p = f.a;
          goto forward;
        }
        break;
      default: break;
    }
  }
}

template <class Tr>
bool MatcherT<Tr>::matches() {
  wholeMode_ = true;
  hasMatch_ = false;
  clearGroups();
  lastMatchEnd_ = 0;
  return run(0) == static_cast<int>(input_.size());
}

template <class Tr>
bool MatcherT<Tr>::findFirst() {
  wholeMode_ = false;
  clearGroups();
  lastMatchEnd_ = 0;
  ends(0) = run(0);
  if (ends(0) < 0) return false;
  hasMatch_ = true;
  return true;
}

template <class Tr>
bool MatcherT<Tr>::findNext() {
  if (!hasMatch_) return findFirst();
  const int s = starts(0);
  int e = ends(0);
  wholeMode_ = false;
  clearGroups();
  if (s == e) ++e;
  starts(0) = e;
  status_ = MatchStatus::Ok;
  if (e >= static_cast<int>(input_.size())) return false;
  if (e < 0) e = 0;
  lastMatchEnd_ = e;
  ends(0) = run(e);
  return ends(0) >= 0;
}

template <class Tr>
typename MatcherT<Tr>::String MatcherT<Tr>::group(int i) const {
  if (i < 0 || i >= groupCount_) return String();
  const int s = groupStarts_[static_cast<std::size_t>(i + hidden_)];
  const int e = groupEnds_[static_cast<std::size_t>(i + hidden_)];
  if (s < 0 || e < 0 || e < s) return String();
  return input_.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(e - s));
}

template <class Tr>
int MatcherT<Tr>::groupStart(int i) const {
  return (i < 0 || i >= groupCount_) ? -1 : groupStarts_[static_cast<std::size_t>(i + hidden_)];
}

template <class Tr>
int MatcherT<Tr>::groupEnd(int i) const {
  return (i < 0 || i >= groupCount_) ? -1 : groupEnds_[static_cast<std::size_t>(i + hidden_)];
}

template <class Tr>
std::vector<typename MatcherT<Tr>::String> MatcherT<Tr>::groups(bool includeZero) const {
  std::vector<String> out;
  for (int i = includeZero ? 0 : 1; i < groupCount_; ++i) out.push_back(group(i));
  return out;
}

template <class Tr>
std::vector<typename MatcherT<Tr>::String> MatcherT<Tr>::findAll() {
  reset();
  std::vector<String> out;
  while (findNext()) out.push_back(group(0));
  return out;
}

template <class Tr>
void MatcherT<Tr>::setInput(const String& text) {
  input_ = text;
  reset();
}

template <class Tr>
void MatcherT<Tr>::reset() {
  status_ = MatchStatus::Ok;
  lastMatchEnd_ = 0;
  clearGroups();
  hasMatch_ = false;
}

template <class Tr>
typename MatcherT<Tr>::String MatcherT<Tr>::expandReplacement(const String& replacement) const {
  String out;
  const std::size_t n = replacement.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Char c = replacement[i];
    if (c != '\\') {
      out += c;
    } else if (i + 1 >= n) {
      out += c;
    } else if (replacement[i + 1] >= '0' && replacement[i + 1] <= '9') {
      // Any number of digits; a number past the groups (or past int) is "".
      unsigned long long g = 0;
      bool huge = false;
      while (i + 1 < n && replacement[i + 1] >= '0' && replacement[i + 1] <= '9') {
        g = g * 10 + static_cast<unsigned long long>(replacement[++i] - '0');
        if (g > 1u << 30) huge = true;
      }
      if (!huge) out += group(static_cast<int>(g));
    } else {
      out += replacement[++i];
    }
  }
  return out;
}

template class MatcherT<NarrowTraits>;
template class MatcherT<WideTraits>;

}  // namespace hbafw
