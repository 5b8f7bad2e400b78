// Debug dump of a narrow automaton, one line per node, and the node class
// names both families use. Wide automata have no dump. The walk follows
// `next` iteratively and recurses only into branches and bodies, whose depth
// the compiler's nesting cap bounds.
#include <cstdio>
#include <cstring>
#include <string>

#include "pattern/pattern.h"

namespace hbafw {

const char* nodeStem(NodeKind kind) {
  switch (kind) {
    case NodeKind::Char: return "NFAChar";
    case NodeKind::CIChar: return "NFACIChar";
    case NodeKind::Class: return "NFAClass";
    case NodeKind::CIClass: return "NFACIClass";
    case NodeKind::Quote: return "NFAQuote";
    case NodeKind::CIQuote: return "NFACIQuote";
    case NodeKind::Start: return "NFAStart";
    case NodeKind::End: return "NFAEnd";
    case NodeKind::Accept: return "NFAAccept";
    case NodeKind::SubStart: return "NFASubStart";
    case NodeKind::Or: return "NFAOr";
    case NodeKind::LookAhead: return "NFALookAhead";
    case NodeKind::LookBehind: return "NFALookBehind";
    case NodeKind::StartOfLine: return "NFAStartOfLine";
    case NodeKind::EndOfLine: return "NFAEndOfLine";
    case NodeKind::StartOfInput: return "NFAStartOfInput";
    case NodeKind::EndOfInput: return "NFAEndOfInput";
    case NodeKind::WordBoundary: return "NFAWordBoundary";
    case NodeKind::EndOfMatch: return "NFAEndOfMatch";
    case NodeKind::Reference: return "NFAReference";
    case NodeKind::GroupHead: return "NFAGroupHead";
    case NodeKind::GroupTail: return "NFAGroupTail";
    case NodeKind::GroupLoopPrologue: return "NFAGroupLoopPrologue";
    case NodeKind::GroupLoop: return "NFAGroupLoop";
    case NodeKind::GreedyQuantifier: return "NFAGreedyQuantifier";
    case NodeKind::LazyQuantifier: return "NFALazyQuantifier";
    case NodeKind::PossessiveQuantifier: return "NFAPossessiveQuantifier";
  }
  return "NFA";
}

namespace {

using Node = NFANodeT<NarrowTraits>;

// The class name as the platform's type information spells it: "11NFACharNode".
std::string typeName(NodeKind kind) {
  std::string name = std::string(nodeStem(kind)) + NarrowTraits::kNodeSuffix;
  return std::to_string(name.size()) + name;
}

const char* boolText(bool b) { return b ? "true" : "false"; }

void dumpChain(const Node* node, int indent) {
  for (; node != nullptr; node = node->next) {
    const int w = 2 * indent;
    const std::string name = typeName(node->kind);
    const char* n = name.c_str();
    switch (node->kind) {
      case NodeKind::Char:
      case NodeKind::CIChar: {
        const int ch = static_cast<signed char>(static_cast<const NFACharNodeT<NarrowTraits>*>(node)->ch);
        std::printf("%*c%s(0x%02X)\n", w, ' ', n, static_cast<unsigned>(ch));
        break;
      }
      case NodeKind::Class: {
        const auto* c = static_cast<const NFAClassNodeT<NarrowTraits>*>(node);
        std::printf("%*c%s(%d vals, inv=%s)\n", w, ' ', n, static_cast<int>(c->members.size()), boolText(c->inverted));
        break;
      }
      case NodeKind::CIClass:
        break;
      case NodeKind::Quote:
      case NodeKind::CIQuote:
        std::printf("%*c%s(%s)\n", w, ' ', n, static_cast<const NFAQuoteNodeT<NarrowTraits>*>(node)->literal.c_str());
        break;
      case NodeKind::Or: {
        const auto* o = static_cast<const NFAOrNodeT<NarrowTraits>*>(node);
        std::printf("%*c%s\n", w, ' ', n);
        std::printf("%*cone\n", w + 2, ' ');
        dumpChain(o->left, indent + 2);
        std::printf("%*ctwo\n", w + 2, ' ');
        dumpChain(o->right, indent + 2);
        return;  // an alternation's continuation is dumped inside its branches
      }
      case NodeKind::LookAhead: {
        const auto* la = static_cast<const NFALookAheadNodeT<NarrowTraits>*>(node);
        std::printf("%*c%s(pos=%s)\n", w, ' ', n, boolText(la->positive));
        dumpChain(la->inner, indent + 1);
        break;
      }
      case NodeKind::LookBehind: {
        const auto* lb = static_cast<const NFALookBehindNodeT<NarrowTraits>*>(node);
        std::printf("%*c%s(str=%s, pos=%s)\n", w, ' ', n, lb->literal.c_str(), boolText(lb->positive));
        break;
      }
      case NodeKind::EndOfInput:
        std::printf("%*c%s(term=%s)\n", w, ' ', n, boolText(static_cast<const NFAFlagNodeT<NarrowTraits>*>(node)->flag));
        break;
      case NodeKind::WordBoundary:
        std::printf("%*c%s(pos=%s)\n", w, ' ', n, boolText(static_cast<const NFAFlagNodeT<NarrowTraits>*>(node)->flag));
        break;
      case NodeKind::Reference:
      case NodeKind::GroupHead:
      case NodeKind::GroupTail:
      case NodeKind::GroupLoopPrologue:
        std::printf("%*c%s(gi=%d)\n", w, ' ', n, static_cast<const NFAGroupNodeT<NarrowTraits>*>(node)->groupIndex);
        break;
      case NodeKind::GroupLoop: {
        static const char* const kTypes[] = {"greedy", "reluctant", "possessive"};
        const auto* l = static_cast<const NFAGroupLoopNodeT<NarrowTraits>*>(node);
        const char* type = (l->loopKind >= 0 && l->loopKind <= 2) ? kTypes[l->loopKind] : "unknown";
        std::printf("%*c%s(gi=%d, min=%d, max=%d, type=%s)\n", w, ' ', n, l->groupIndex, l->min, l->max, type);
        break;
      }
      case NodeKind::GreedyQuantifier:
      case NodeKind::LazyQuantifier:
      case NodeKind::PossessiveQuantifier: {
        const auto* q = static_cast<const NFAQuantifierNodeT<NarrowTraits>*>(node);
        std::printf("%*c%s(min=%d, max=%d)\n", w, ' ', n, q->min, q->max);
        std::printf("%*cinner\n", w + 2, ' ');
        if (q->inner != nullptr) dumpChain(q->inner, indent + 2);
        break;
      }
      default:
        std::printf("%*c%s\n", w, ' ', n);
    }
  }
}

}  // namespace

template <class Tr>
void PatternT<Tr>::dump() const requires(!Tr::kWide) {
  std::printf("Pattern(%s):\n", text_.c_str());
  dumpChain(head_, 1);
}

template void PatternT<NarrowTraits>::dump() const;

}  // namespace hbafw
