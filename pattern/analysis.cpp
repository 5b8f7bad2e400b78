// Work done once per pattern after it compiled, so that no match repeats it:
// which nodes the failure memo covers, chained literal characters, and the
// characters that can start what follows a quantifier or the whole pattern,
// and the texts every match must contain.
// It only annotates nodes; it never changes what a pattern matches.
#include <algorithm>
#include <climits>

#include "pattern/pattern.h"

namespace hbafw {

namespace {

constexpr int kFirstSetBudget = 256;  // node visits per set, so compiling stays linear; beyond, "any character"

template <class Tr>
void addCode(FirstSet& f, std::uint32_t c) {
  if (c < 256) f.low.set(c); else f.high = true;
}

// Narrow literal comparison ignoring case folds ASCII letters only.
void addBothCases(FirstSet& f, unsigned char c) {
  f.low.set(c);
  if (c >= 'a' && c <= 'z') f.low.set(c - 32);
  if (c >= 'A' && c <= 'Z') f.low.set(c + 32);
}

bool consumes(NodeKind k) {
  return k == NodeKind::Char || k == NodeKind::CIChar || k == NodeKind::Class || k == NodeKind::CIClass;
}

}  // namespace

template <class Tr>
void PatternT<Tr>::finish() {
  numberMemoNodes();
  chainLiteralRuns();
  computeFirstSets();
  collectRequiredText();
}

// Decides whether failures may be memoised and numbers the nodes worth it:
// the targets a backtrack resumes at (after quantifiers, both sides of an
// alternation, each start position of a search).
template <class Tr>
void PatternT<Tr>::numberMemoNodes() {
  bool hasReference = false, hasLoop = false, hasSubcall = false;
  for (const auto& n : nodes_) {
    switch (n->kind) {
      case NodeKind::Reference: hasReference = true; break;
      case NodeKind::GroupLoop: hasLoop = true; break;
      case NodeKind::LookAhead:
      case NodeKind::PossessiveQuantifier: hasSubcall = true; break;
      default: break;
    }
  }
  // A succeeding look-ahead or independent group keeps the captures it set even
  // when the path around it fails later, so skipping such a path could change
  // the group values a match leaves.
  // The same holds for every shortcut that skips a path known to fail.
  const bool capturesInSubcall = hasSubcall && (groupCount_ > 1 || hiddenGroupCount_ < 0);
  pathsSkippable_ = !capturesInSubcall;
  memoUsable_ = !hasReference && !hasLoop && !capturesInSubcall;
  if (!memoUsable_) return;
  auto mark = [this](Node* n) {
    if (n != nullptr && n->memoIndex < 0) n->memoIndex = memoNodes_++;
  };
  for (const auto& n : nodes_) {
    switch (n->kind) {
      case NodeKind::GreedyQuantifier: {
        mark(n->next);
        // A failed greedy run of one-character steps without an upper bound
        // fails from every later start inside that run as well.
        auto* q = static_cast<NFAQuantifierNodeT<Tr>*>(n.get());
        if (q->max == INT_MAX && consumes(q->inner->kind)) n->spanIndex = spanNodes_++;
        break;
      }
      case NodeKind::LazyQuantifier: mark(n->next); break;
      case NodeKind::Or: {
        auto* o = static_cast<NFAOrNodeT<Tr>*>(n.get());
        mark(o->left);
        mark(o->right);
        break;
      }
      default: break;
    }
  }
}

// Each character node has exactly one predecessor, so a chain of characters
// of one kind is only ever entered at its first node; that node keeps the
// whole text of the chain.
template <class Tr>
void PatternT<Tr>::chainLiteralRuns() {
  using CharNode = NFACharNodeT<Tr>;
  auto chains = [](const Node* a, const Node* b) {
    return b != nullptr && (a->kind == NodeKind::Char || a->kind == NodeKind::CIChar) && b->kind == a->kind;
  };
  std::vector<const Node*> inside;
  for (const auto& n : nodes_) {
    if (chains(n.get(), n->next)) inside.push_back(n->next);
  }
  std::sort(inside.begin(), inside.end());
  for (const auto& n : nodes_) {
    if (!chains(n.get(), n->next) || std::binary_search(inside.begin(), inside.end(), n.get())) continue;
    auto* head = static_cast<CharNode*>(n.get());
    const Node* at = head;
    while (at != nullptr && at->kind == head->kind) {
      head->run += static_cast<const CharNode*>(at)->ch;
      at = at->next;
    }
    head->afterRun = const_cast<Node*>(at);
  }
}

template <class Tr>
void PatternT<Tr>::computeFirstSets() {
  if (!pathsSkippable_) return;
  auto record = [this](Node* holder, const Node* from) {
    FirstSet f;
    int budget = kFirstSetBudget;
    if (!firstOf(from, f, budget)) return;
    if (!f.high && f.low.count() == 1) {
      for (int c = 0; c < 256; ++c) {
        if (f.low.test(static_cast<std::size_t>(c))) f.single = c;
      }
    }
    holder->firstIndex = static_cast<int>(firstSets_.size());
    firstSets_.push_back(f);
  };
  for (const auto& n : nodes_) {
    switch (n->kind) {
      case NodeKind::Start: record(n.get(), n->next); break;
      case NodeKind::GreedyQuantifier:
      case NodeKind::LazyQuantifier: record(n.get(), n->next); break;
      default: break;
    }
  }
}

// Adds to out every character that can stand at p when the automaton from n
// matches at p; false when that is not known (n may match empty, at the end
// of the input, or something this analysis does not follow). Zero-width
// nodes pass the question on to what follows them.
template <class Tr>
bool PatternT<Tr>::firstOf(const Node* n, FirstSet& out, int& budget) const {
  for (;;) {
    if (n == nullptr || --budget < 0) return false;
    switch (n->kind) {
      case NodeKind::Char:
        addCode<Tr>(out, Tr::code(static_cast<const NFACharNodeT<Tr>*>(n)->ch));
        return true;
      case NodeKind::CIChar:
        if constexpr (Tr::kWide) return false;  // the wide fold follows the locale
        else addBothCases(out, static_cast<unsigned char>(static_cast<const NFACharNodeT<Tr>*>(n)->ch));
        return true;
      case NodeKind::Class:
      case NodeKind::CIClass: {
        const auto* c = static_cast<const NFAClassNodeT<Tr>*>(n);
        if (Tr::kWide && n->kind == NodeKind::CIClass) return false;
        for (std::uint32_t v = 0; v < 256; ++v) {
          const Char ch = n->kind == NodeKind::CIClass ? Tr::lower(Tr::fromCode(v)) : Tr::fromCode(v);
          if (c->members.contains(Tr::code(ch)) != c->inverted) out.low.set(v);
        }
        if (Tr::kWide) {
          const auto& r = c->members.intervals();
          out.high = out.high || c->inverted || (!r.empty() && r.back().second >= 256);
        }
        return true;
      }
      case NodeKind::Quote:
      case NodeKind::CIQuote: {
        const auto& lit = static_cast<const NFAQuoteNodeT<Tr>*>(n)->literal;
        if (lit.empty()) break;
        if (n->kind == NodeKind::Quote) {
          addCode<Tr>(out, Tr::code(lit[0]));
          return true;
        }
        if constexpr (Tr::kWide) return false;
        else addBothCases(out, static_cast<unsigned char>(lit[0]));
        return true;
      }
      case NodeKind::Or:
        if (!firstOf(static_cast<const NFAOrNodeT<Tr>*>(n)->left, out, budget)) return false;
        n = static_cast<const NFAOrNodeT<Tr>*>(n)->right;
        continue;
      case NodeKind::GreedyQuantifier:
      case NodeKind::LazyQuantifier:
      case NodeKind::PossessiveQuantifier: {
        const auto* q = static_cast<const NFAQuantifierNodeT<Tr>*>(n);
        const NodeKind k = q->inner->kind;
        const bool quote = k == NodeKind::Quote || k == NodeKind::CIQuote;
        if (!consumes(k) && !(quote && !static_cast<const NFAQuoteNodeT<Tr>*>(q->inner)->literal.empty()))
          return false;
        if (!firstOf(q->inner, out, budget)) return false;
        if (q->min >= 1) return true;
        break;  // it may repeat nothing: what follows can start too
      }
      case NodeKind::Start: case NodeKind::SubStart: case NodeKind::Accept: case NodeKind::GroupHead:
      case NodeKind::GroupTail: case NodeKind::LookAhead: case NodeKind::LookBehind:
      case NodeKind::StartOfLine: case NodeKind::EndOfLine: case NodeKind::StartOfInput:
      case NodeKind::EndOfInput: case NodeKind::WordBoundary: case NodeKind::EndOfMatch:
        break;
      default:
        return false;
    }
    n = n->next;
  }
}

// Walks the path every match takes from the start, as far as it is one path
// (up to the first alternation), and keeps the literal texts on it: the text
// between two nodes that consume something else or an unknown amount.
template <class Tr>
void PatternT<Tr>::collectRequiredText() {
  if (!pathsSkippable_) return;
  String current;
  auto flush = [&] {
    if (!current.empty()) requiredText_.push_back(std::move(current));
    current.clear();
  };
  const Node* n = head_;
  for (int guard = 0; n != nullptr && guard < static_cast<int>(nodes_.size()); ++guard) {
    switch (n->kind) {
      case NodeKind::Char:
        current += static_cast<const NFACharNodeT<Tr>*>(n)->ch;
        break;
      case NodeKind::Quote:
        current += static_cast<const NFAQuoteNodeT<Tr>*>(n)->literal;
        break;
      case NodeKind::Start: case NodeKind::SubStart: case NodeKind::Accept: case NodeKind::GroupHead:
      case NodeKind::GroupTail:
        break;  // consume nothing: the text on both sides is contiguous
      case NodeKind::GroupLoopPrologue:
        flush();
        n = n->next;  // the loop node; its body is left aside, what follows it is on the path
        break;
      case NodeKind::Or: case NodeKind::End:
        n = nullptr;
        continue;
      default:
        flush();  // something else, or nothing, stands between the texts
        break;
    }
    n = n->next;
  }
  flush();
}

template class PatternT<NarrowTraits>;
template class PatternT<WideTraits>;

}  // namespace hbafw
