// Automaton node classes, one per construct, shared by the narrow and wide
// families through the traits parameter. Nodes only hold what the compiler
// put there; the match rules live in the matcher's explicit-stack machine so
// that no input can drive matching into deep native recursion.
#pragma once

#include <climits>
#include <cstdint>

#include "pattern/charset.h"
#include "pattern/traits.h"

namespace hbafw {

enum class NodeKind : std::uint8_t {
  Char, CIChar, Class, CIClass, Quote, CIQuote, Start, End, Accept, SubStart, Or,
  LookAhead, LookBehind, StartOfLine, EndOfLine, StartOfInput, EndOfInput,
  WordBoundary, EndOfMatch, Reference, GroupHead, GroupTail, GroupLoopPrologue,
  GroupLoop, GreedyQuantifier, LazyQuantifier, PossessiveQuantifier,
};

// Class name without the family suffix, e.g. "NFAChar" for NFACharNode.
const char* nodeStem(NodeKind kind);

template <class Tr>
struct NFANodeT {
  explicit NFANodeT(NodeKind k) : kind(k) {}
  virtual ~NFANodeT() = default;
  bool isGroupHead() const { return kind == NodeKind::GroupHead; }
  bool isStartOfInput() const { return kind == NodeKind::StartOfInput; }
  const NodeKind kind;
  NFANodeT* next = nullptr;
  // Index into the matcher's failure memo, or -1 when this node is not memoised.
  int memoIndex = -1;
  // Index of the failed-run span a greedy single-character repetition keeps, or -1.
  int spanIndex = -1;
  // Index of the pattern's first-character set of what follows (after a
  // quantifier, or of the whole automaton at its start node), or -1 when
  // any character or none at all may start it.
  int firstIndex = -1;
};

template <class Tr>
struct NFACharNodeT : NFANodeT<Tr> {
  NFACharNodeT(NodeKind k, typename Tr::Char c) : NFANodeT<Tr>(k), ch(c) {}
  typename Tr::Char ch;
  // Set at compile time on the first node of two or more chained characters of
  // the same kind: their text, compared at once, and the node after them.
  typename Tr::String run;
  NFANodeT<Tr>* afterRun = nullptr;
};

template <class Tr>
struct NFAClassNodeT : NFANodeT<Tr> {
  NFAClassNodeT(NodeKind k, bool inv, CharSet m) : NFANodeT<Tr>(k), inverted(inv), members(std::move(m)) {}
  bool inverted;
  CharSet members;
};

template <class Tr>
struct NFAQuoteNodeT : NFANodeT<Tr> {
  NFAQuoteNodeT(NodeKind k, typename Tr::String s) : NFANodeT<Tr>(k), literal(std::move(s)) {}
  typename Tr::String literal;
};

template <class Tr>
struct NFAOrNodeT : NFANodeT<Tr> {
  NFAOrNodeT(NFANodeT<Tr>* l, NFANodeT<Tr>* r) : NFANodeT<Tr>(NodeKind::Or), left(l), right(r) {}
  NFANodeT<Tr>* left;
  NFANodeT<Tr>* right;
};

template <class Tr>
struct NFALookAheadNodeT : NFANodeT<Tr> {
  NFALookAheadNodeT(NFANodeT<Tr>* in, bool pos) : NFANodeT<Tr>(NodeKind::LookAhead), positive(pos), inner(in) {}
  bool positive;
  NFANodeT<Tr>* inner;
};

template <class Tr>
struct NFALookBehindNodeT : NFANodeT<Tr> {
  NFALookBehindNodeT(typename Tr::String s, bool pos)
      : NFANodeT<Tr>(NodeKind::LookBehind), positive(pos), literal(std::move(s)) {}
  bool positive;
  typename Tr::String literal;
};

// EndOfInput (allowTerminator) and WordBoundary (positive) carry one flag.
template <class Tr>
struct NFAFlagNodeT : NFANodeT<Tr> {
  NFAFlagNodeT(NodeKind k, bool f) : NFANodeT<Tr>(k), flag(f) {}
  bool flag;
};

// Reference, GroupHead, GroupTail and GroupLoopPrologue carry a group index.
template <class Tr>
struct NFAGroupNodeT : NFANodeT<Tr> {
  NFAGroupNodeT(NodeKind k, int g) : NFANodeT<Tr>(k), groupIndex(g) {}
  int groupIndex;
};

template <class Tr>
struct NFAGroupLoopNodeT : NFANodeT<Tr> {
  NFAGroupLoopNodeT(NFANodeT<Tr>* in, int mn, int mx, int g, int k)
      : NFANodeT<Tr>(NodeKind::GroupLoop), groupIndex(g), min(mn), max(mx), loopKind(k), inner(in) {}
  int groupIndex, min, max;
  int loopKind;  // 0 greedy, 1 lazy, 2 possessive
  NFANodeT<Tr>* inner;
};

template <class Tr>
struct NFAQuantifierNodeT : NFANodeT<Tr> {
  NFAQuantifierNodeT(NodeKind k, NFANodeT<Tr>* in, int mn, int mx) : NFANodeT<Tr>(k), min(mn), max(mx), inner(in) {}
  int min, max;
  NFANodeT<Tr>* inner;
};

// The families' names for the node classes.
using NFANode = NFANodeT<NarrowTraits>;
using NFAUNode = NFANodeT<WideTraits>;
using NFACharNode = NFACharNodeT<NarrowTraits>;
using NFACharUNode = NFACharNodeT<WideTraits>;
using NFAClassNode = NFAClassNodeT<NarrowTraits>;
using NFAClassUNode = NFAClassNodeT<WideTraits>;
using NFAQuoteNode = NFAQuoteNodeT<NarrowTraits>;
using NFAQuoteUNode = NFAQuoteNodeT<WideTraits>;
using NFAOrNode = NFAOrNodeT<NarrowTraits>;
using NFAOrUNode = NFAOrNodeT<WideTraits>;
using NFALookAheadNode = NFALookAheadNodeT<NarrowTraits>;
using NFALookAheadUNode = NFALookAheadNodeT<WideTraits>;
using NFALookBehindNode = NFALookBehindNodeT<NarrowTraits>;
using NFALookBehindUNode = NFALookBehindNodeT<WideTraits>;
using NFAGroupLoopNode = NFAGroupLoopNodeT<NarrowTraits>;
using NFAGroupLoopUNode = NFAGroupLoopNodeT<WideTraits>;
using NFAQuantifierNode = NFAQuantifierNodeT<NarrowTraits>;
using NFAQuantifierUNode = NFAQuantifierNodeT<WideTraits>;

}  // namespace hbafw
