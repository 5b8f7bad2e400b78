// Recursive-descent compiler from pattern text to the node graph, for both
// families. One pass, no tokenizer and no syntax tree. Recursion here follows
// the pattern's nesting only and is capped at kMaxNesting; it never depends on
// the input being matched.
#include <climits>
#include <cwctype>

#include "pattern/pattern.h"

namespace hbafw {

namespace {

// Raises a shared nesting depth for the lifetime of one construct.
struct NestingGuard {
  explicit NestingGuard(int& d) : depth(d) { ++depth; }
  ~NestingGuard() { --depth; }
  int& depth;
};

template <class C>
bool isDigit(C c) { return c >= '0' && c <= '9'; }

template <class C>
int hexValue(C c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

template <class C>
bool isWordStart(C c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

const char* const kWordMembers = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

CharSet setOf(const char* members) {
  CharSet s;
  for (const char* p = members; *p; ++p) s.add(static_cast<unsigned char>(*p));
  return s;
}

struct PosixClass {
  const char* name;
  CharSet (*build)();
};

CharSet punct() {
  CharSet s;
  s.addRange(0x21, 0x2F);
  s.addRange(0x3A, 0x40);
  s.addRange(0x5B, 0x60);
  s.addRange(0x7B, 0x7E);
  return s;
}

const PosixClass kPosixClasses[] = {
    {"{Lower}", [] { return setOf("abcdefghijklmnopqrstuvwxyz"); }},
    {"{Upper}", [] { return setOf("ABCDEFGHIJKLMNOPQRSTUVWXYZ"); }},
    {"{Alpha}", [] { return setOf("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"); }},
    {"{Digit}", [] { return setOf("0123456789"); }},
    {"{Alnum}", [] { return setOf("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"); }},
    {"{Punct}", punct},
    {"{Graph}", [] { CharSet s = setOf("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"); s.unite(punct()); return s; }},
    {"{Print}", [] { CharSet s = setOf("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"); s.unite(punct()); return s; }},
    {"{Blank}", [] { return setOf(" \t"); }},
    {"{Space}", [] { return setOf(" \t\n\x0B\x0C\r"); }},
    {"{Cntrl}", [] { CharSet s; s.addRange(0, 0x1F); s.add(0x7F); return s; }},
    {"{ASCII}", [] { CharSet s; s.addRange(0, 0x7F); return s; }},
    {"{XDigit}", [] { return setOf("abcdefABCDEF0123456789"); }},
};

}  // namespace

template <class Tr>
struct PatternT<Tr>::Escape {
  enum Kind { Single, Set, QuoteStart } kind = Single;
  std::uint32_t ch = 0;
  CharSet set;
  bool negated = false;
};

template <class Tr>
PatternT<Tr>::PatternT(const String& text, std::uint64_t flags)
    : text_(text), originalText_(text), flags_(flags), originalFlags_(flags) {}

template <class Tr>
PatternT<Tr>::~PatternT() = default;

template <class Tr>
template <class N, class... A>
N* PatternT<Tr>::make(A&&... args) {
  auto owned = std::make_unique<N>(std::forward<A>(args)...);
  N* raw = owned.get();
  nodes_.push_back(std::move(owned));
  return raw;
}

template <class Tr>
void PatternT<Tr>::syntaxError() {
  Tr::reportSyntaxError(text_, pos_);
  error_ = true;
}

template <class Tr>
std::unique_ptr<PatternT<Tr>> PatternT<Tr>::compile(const String& text, std::uint64_t flags) {
  std::unique_ptr<PatternT> p(new PatternT(text, flags));
  Node* start = p->template make<Node>(NodeKind::Start);
  if (flags & FLAG_LITERAL) {
    Node* quote = p->template make<NFAQuoteNodeT<Tr>>(
        (flags & FLAG_IGNORE_CASE) ? NodeKind::CIQuote : NodeKind::Quote, text);
    start->next = quote;
    quote->next = p->template make<Node>(NodeKind::End);
    p->groupCount_ = 1;
    p->head_ = start;
  } else {
    Node* end = nullptr;
    Node* first = p->parseSequence(false, false, &end, 0, false);
    if (first == nullptr || p->error_) return nullptr;
    if (first->isStartOfInput()) {
      p->head_ = first;
    } else {
      start->next = first;
      p->head_ = start;
    }
    end->next = p->template make<Node>(NodeKind::End);
  }
  p->flags_ = flags;
  p->finish();
  p->ownMatcher_ = std::make_unique<Matcher>(p.get(), String());
  return p;
}

template <class Tr>
typename PatternT<Tr>::Node* PatternT<Tr>::classNode(CharSet set, bool inverted) {
  if (flags_ & FLAG_IGNORE_CASE) return make<NFAClassNodeT<Tr>>(NodeKind::CIClass, inverted, foldClass(set));
  return make<NFAClassNodeT<Tr>>(NodeKind::Class, inverted, std::move(set));
}

// Lower-cases every member. Wide members are folded up to U+1FFFF (every
// cased script lives there); members above stay as they are.
template <class Tr>
CharSet PatternT<Tr>::foldClass(const CharSet& set) const {
  constexpr std::uint32_t kFoldLimit = Tr::kWide ? 0x1FFFF : 0xFF;
  CharSet out;
  for (const auto& r : set.intervals()) {
    if (r.first > kFoldLimit) {
      out.addRange(r.first, r.second);
      continue;
    }
    std::uint32_t hi = std::min(r.second, kFoldLimit);
    for (std::uint32_t c = r.first;; ++c) {
      out.add(Tr::code(Tr::lower(Tr::fromCode(c))));
      if (c == hi) break;
    }
    if (r.second > kFoldLimit) out.addRange(kFoldLimit + 1, r.second);
  }
  return out;
}

template <class Tr>
typename PatternT<Tr>::Node* PatternT<Tr>::parseSequence(bool inGroup, bool isAlternative, Node** endOut,
                                                         int groupIndex, bool hasGroupHead) {
  NestingGuard guard(depth_);
  if (depth_ > kMaxNesting) {
    syntaxError();
    return nullptr;
  }
  int gi = groupCount_++;
  const std::uint64_t savedFlags = flags_;
  bool lookAhead = false, lookAheadPositive = false, independent = false;
  bool hasHead = false;
  std::vector<Node*> branchEnds;
  Node* head = nullptr;
  auto len = [this] { return static_cast<int>(text_.size()); };

  if (isAlternative) {
    --groupCount_;
    gi = groupIndex;
    hasHead = hasGroupHead;
    head = hasGroupHead ? static_cast<Node*>(make<NFAGroupNodeT<Tr>>(NodeKind::GroupHead, gi))
                        : make<Node>(NodeKind::SubStart);
  } else if (!inGroup) {
    head = make<Node>(NodeKind::SubStart);
  } else if (pos_ < len() && text_[pos_] == '?') {
    ++pos_;
    --groupCount_;
    if (pos_ >= len()) {
      syntaxError();
      return nullptr;
    }
    const Char c = text_[pos_];
    if (c == ':') {
      ++pos_;
      gi = --hiddenGroupCount_;
      head = make<NFAGroupNodeT<Tr>>(NodeKind::GroupHead, gi);
      hasHead = true;
    } else if (c == '=' || c == '!') {
      ++pos_;
      lookAhead = true;
      lookAheadPositive = c == '=';
      head = make<Node>(NodeKind::SubStart);
    } else if (c == '>') {
      ++pos_;
      independent = true;
      head = make<Node>(NodeKind::SubStart);
    } else if (c == '<' && pos_ + 1 < len() && (text_[pos_ + 1] == '=' || text_[pos_ + 1] == '!')) {
      const bool positive = text_[pos_ + 1] == '=';
      pos_ += 2;
      String literal;
      while (pos_ < len() && text_[pos_] != ')') {
        if (text_[pos_] == '\\' && pos_ + 1 < len()) ++pos_;
        literal += text_[pos_++];
      }
      if (pos_ >= len()) {
        syntaxError();
        return nullptr;
      }
      ++pos_;
      Node* lb = make<NFALookBehindNodeT<Tr>>(std::move(literal), positive);
      if (endOut) *endOut = lb;
      flags_ = savedFlags;
      return error_ ? nullptr : lb;
    } else {
      bool clearing = false;
      for (;;) {
        if (pos_ >= len()) {
          syntaxError();
          return nullptr;
        }
        const Char f = text_[pos_++];
        if (f == ':') {
          gi = --hiddenGroupCount_;
          head = make<NFAGroupNodeT<Tr>>(NodeKind::GroupHead, gi);
          hasHead = true;
          break;
        }
        if (f == ')') {
          // The change lasts until the enclosing sequence restores its flags.
          Node* always = make<NFALookBehindNodeT<Tr>>(String(), true);
          if (endOut) *endOut = always;
          return error_ ? nullptr : always;
        }
        std::uint64_t bit = 0;
        switch (f) {
          case '-': clearing = true; continue;
          case 'i': bit = FLAG_IGNORE_CASE; break;
          case 'm': bit = FLAG_MULTILINE; break;
          case 's': bit = FLAG_DOT_ALL; break;
          case 'd': bit = FLAG_UNIX_LINES; break;
          default: syntaxError(); return nullptr;
        }
        if (clearing) flags_ &= ~bit; else flags_ |= bit;
      }
    }
  } else {
    head = make<NFAGroupNodeT<Tr>>(NodeKind::GroupHead, gi);
    hasHead = true;
  }

  Node* tail = head;
  while (pos_ < len()) {
    const Char c = text_[pos_++];
    if (error_) return nullptr;
    Node* made = nullptr;
    bool alternation = false;
    Node* leftEnd = nullptr;
    switch (c) {
      case '$':
        made = (flags_ & FLAG_MULTILINE) ? make<Node>(NodeKind::EndOfLine)
                                         : static_cast<Node*>(make<NFAFlagNodeT<Tr>>(NodeKind::EndOfInput, false));
        break;
      case '^':
        made = make<Node>((flags_ & FLAG_MULTILINE) ? NodeKind::StartOfLine : NodeKind::StartOfInput);
        break;
      case '.': {
        CharSet s;
        if (!(flags_ & FLAG_DOT_ALL)) s.add('\n');
        if (!(flags_ & (FLAG_DOT_ALL | FLAG_UNIX_LINES))) s.add('\r');
        made = make<NFAClassNodeT<Tr>>(NodeKind::Class, true, std::move(s));
        break;
      }
      case '[':
        made = classNode(bracketClass(), false);
        break;
      case '\\': {
        if (pos_ >= len()) {
          syntaxError();
          break;
        }
        const Char e = text_[pos_];
        if (e >= '1' && e <= '9') {
          long n = e - '0';
          ++pos_;
          while (pos_ < len() && isDigit(text_[pos_]) && (n <= 9 || n < groupCount_)) {
            n = n * 10 + (text_[pos_++] - '0');
          }
          made = make<NFAGroupNodeT<Tr>>(NodeKind::Reference, static_cast<int>(n));
          break;
        }
        switch (e) {
          case 'A': ++pos_; made = make<Node>(NodeKind::StartOfInput); break;
          case 'b': ++pos_; made = make<NFAFlagNodeT<Tr>>(NodeKind::WordBoundary, true); break;
          case 'B': ++pos_; made = make<NFAFlagNodeT<Tr>>(NodeKind::WordBoundary, false); break;
          case 'G': ++pos_; made = make<Node>(NodeKind::EndOfMatch); break;
          case 'Z': ++pos_; made = make<NFAFlagNodeT<Tr>>(NodeKind::EndOfInput, true); break;
          case 'z': ++pos_; made = make<NFAFlagNodeT<Tr>>(NodeKind::EndOfInput, false); break;
          default: {
            Escape esc = generalEscape(false);
            if (esc.kind == Escape::QuoteStart) {
              String literal;
              bool closed = false;
              while (pos_ < len()) {
                Char q = text_[pos_++];
                if (q == '\\') {
                  if (pos_ >= len()) break;
                  if (text_[pos_] == 'E') {
                    ++pos_;
                    closed = true;
                    break;
                  }
                  q = text_[pos_++];
                }
                literal += q;
              }
              if (!closed) syntaxError();
              made = make<NFAQuoteNodeT<Tr>>((flags_ & FLAG_IGNORE_CASE) ? NodeKind::CIQuote : NodeKind::Quote,
                                             std::move(literal));
            } else if (esc.kind == Escape::Single) {
              made = make<NFACharNodeT<Tr>>(NodeKind::Char, Tr::fromCode(esc.ch));
            } else {
              made = classNode(std::move(esc.set), esc.negated);
            }
          }
        }
        break;
      }
      case '(': {
        Node* end = nullptr;
        Node* inner = parseSequence(true, false, &end, 0, false);
        if (inner == nullptr) {
          syntaxError();
        } else {
          tail->next = inner;
          tail = end;
        }
        break;
      }
      case ')': {
        if (!inGroup) {
          syntaxError();
          break;
        }
        Node* accept = nullptr;
        if (isAlternative) {
          --pos_;
          accept = make<Node>(NodeKind::Accept);
          tail->next = accept;
          if (endOut) *endOut = accept;
          flags_ = savedFlags;
          altEndsOut_ = std::move(branchEnds);
          return error_ ? nullptr : head;
        }
        if (lookAhead || independent) {
          tail->next = make<Node>(NodeKind::Accept);
          flags_ = savedFlags;
          Node* result = lookAhead ? static_cast<Node*>(make<NFALookAheadNodeT<Tr>>(head, lookAheadPositive))
                                   : make<NFAQuantifierNodeT<Tr>>(NodeKind::PossessiveQuantifier, head, 1, 1);
          if (endOut) *endOut = result;
          return error_ ? nullptr : result;
        }
        Node* groupTail = make<NFAGroupNodeT<Tr>>(NodeKind::GroupTail, gi);
        tail->next = groupTail;
        int min = 0, max = 0, kind = 0;
        flags_ = savedFlags;
        if (readQuantifier(min, max, kind)) {
          Node* prologue = make<NFAGroupNodeT<Tr>>(NodeKind::GroupLoopPrologue, gi);
          Node* loop = make<NFAGroupLoopNodeT<Tr>>(head, min < 0 ? 0 : min, max, gi, kind);
          prologue->next = loop;
          groupTail->next = loop;
          if (endOut) *endOut = loop;
          return error_ ? nullptr : prologue;
        }
        if (endOut) *endOut = groupTail;
        return error_ ? nullptr : head;
      }
      case '|': {
        leftEnd = make<Node>(NodeKind::Accept);
        tail->next = leftEnd;
        Node* altEnd = nullptr;
        Node* alt = parseSequence(inGroup, true, &altEnd, gi, hasHead);
        if (alt == nullptr) break;  // already reported; the loop stops at the next read
        branchEnds = std::move(altEndsOut_);
        branchEnds.push_back(leftEnd);
        branchEnds.push_back(altEnd);
        head = make<NFAOrNodeT<Tr>>(head, alt);
        tail = head;
        alternation = true;
        break;
      }
      case '{':
        namedReference(tail);
        break;
      case '*': case '+': case '?': case ']': case '}':
        syntaxError();
        break;
      default:
        made = (flags_ & FLAG_IGNORE_CASE) ? make<NFACharNodeT<Tr>>(NodeKind::CIChar, Tr::lower(c))
                                           : make<NFACharNodeT<Tr>>(NodeKind::Char, c);
    }
    if (alternation) {
      // Every branch, nested ones included, continues at one join point.
      Node* join = make<Node>(NodeKind::Accept);
      for (Node* e : branchEnds) e->next = join;
      tail = join;
    }
    if (made != nullptr) {
      Node* q = quantify(made);
      tail->next = q;
      tail = q;
    }
  }
  if (inGroup) {
    syntaxError();  // unclosed group
  } else if (isAlternative) {
    Node* accept = make<Node>(NodeKind::Accept);
    tail->next = accept;
    tail = accept;
    altEndsOut_ = std::move(branchEnds);
  }
  if (endOut) *endOut = tail;
  flags_ = savedFlags;
  return error_ ? nullptr : head;
}

template <class Tr>
typename PatternT<Tr>::Node* PatternT<Tr>::quantify(Node* node) {
  int min = 0, max = 0, kind = 0;
  if (!readQuantifier(min, max, kind)) return node;
  static constexpr NodeKind kKinds[] = {NodeKind::GreedyQuantifier, NodeKind::LazyQuantifier,
                                        NodeKind::PossessiveQuantifier};
  Node* q = make<NFAQuantifierNodeT<Tr>>(kKinds[kind], node, min < 0 ? 0 : min, max);
  node->next = make<Node>(NodeKind::Accept);
  return q;
}

template <class Tr>
bool PatternT<Tr>::readQuantifier(int& min, int& max, int& kind) {
  if (pos_ >= static_cast<int>(text_.size())) return false;
  switch (text_[pos_]) {
    case '*': min = 0; max = INT_MAX; ++pos_; break;
    case '+': min = 1; max = INT_MAX; ++pos_; break;
    case '?': min = 0; max = 1; ++pos_; break;
    case '{':
      if (!readBounds(min, max)) return false;
      break;
    default: return false;
  }
  kind = 0;
  if (pos_ < static_cast<int>(text_.size())) {
    if (text_[pos_] == '+') { kind = 2; ++pos_; }
    else if (text_[pos_] == '?') { kind = 1; ++pos_; }
  }
  return true;
}

// Numbers wrap silently like the int arithmetic they stand for, but through
// unsigned so that no overflow is undefined.
template <class Tr>
bool PatternT<Tr>::readBounds(int& min, int& max) {
  const int len = static_cast<int>(text_.size());
  int close = -1, comma = -1;
  for (int i = pos_ + 1; i < len; ++i) {
    if (text_[i] == '}') { close = i; break; }
  }
  if (close < 0) {
    syntaxError();
    return false;
  }
  for (int i = pos_ + 1; i < close; ++i) {
    if (text_[i] == ',') { comma = i; break; }
  }
  for (int i = pos_ + 1; i < close; ++i) {
    if (i == comma || isDigit(text_[i])) continue;
    if (comma >= 0) syntaxError();
    return false;
  }
  auto number = [this](int from, int to, int absent) {
    if (from >= to) return absent;
    unsigned v = 0;
    for (int i = from; i < to; ++i) v = v * 10u + static_cast<unsigned>(text_[i] - '0');
    return static_cast<int>(v);
  };
  if (comma < 0) {
    min = max = number(pos_ + 1, close, 0);
  } else {
    min = number(pos_ + 1, comma, 0);
    max = number(comma + 1, close, INT_MAX);
  }
  pos_ = close + 1;
  return true;
}

template <class Tr>
typename PatternT<Tr>::Escape PatternT<Tr>::generalEscape(bool inBracket) {
  (void)inBracket;
  Escape r;
  const int len = static_cast<int>(text_.size());
  const Char c = text_[pos_++];
  auto at = [&](int i) -> Char { return i < len ? text_[i] : Char(0); };
  auto set = [&](const char* members, bool negated) {
    r.kind = Escape::Set;
    r.set = setOf(members);
    r.negated = negated;
  };
  switch (c) {
    case '0': {
      const Char c1 = at(pos_), c2 = at(pos_ + 1), c3 = at(pos_ + 2);
      auto oct = [](Char x) { return x >= '0' && x <= '7'; };
      if (pos_ + 1 < len && c1 >= '0' && c1 <= '3' && oct(c2)) {
        r.ch = static_cast<std::uint32_t>((c1 - '0') * 8 + (c2 - '0'));
        pos_ += 2;
        if (pos_ < len && oct(c3)) {
          r.ch = r.ch * 8 + static_cast<std::uint32_t>(c3 - '0');
          ++pos_;
        }
      } else if (pos_ + 1 < len && c1 >= '4' && c1 <= '7' && oct(c2)) {
        r.ch = static_cast<std::uint32_t>((c1 - '0') * 8 + (c2 - '0'));
        pos_ += 2;
      } else {
        syntaxError();
      }
      break;
    }
    case 'a': r.ch = 0x07; break;
    case 'd': set("0123456789", false); break;
    case 'D': set("0123456789", true); break;
    case 'e': r.ch = 0x0D; break;
    case 'f': r.ch = 0x0C; break;
    case 'n': r.ch = 0x0A; break;
    case 'r': r.ch = 0x0D; break;
    case 't': r.ch = 0x09; break;
    case 's': set(" \t\r\n\x0C", false); break;
    case 'S': set(" \t\r\n\x0C", true); break;
    case 'w': set(kWordMembers, false); break;
    case 'W': set(kWordMembers, true); break;
    case 'Q': r.kind = Escape::QuoteStart; break;
    case 'x': r.ch = Tr::hexEscape(text_, pos_); break;
    case 'p':
    case 'P': {
      r.kind = Escape::Set;
      r.negated = c == 'P';
      bool found = false;
      for (const auto& pc : kPosixClasses) {
        const int n = static_cast<int>(std::char_traits<char>::length(pc.name));
        if (pos_ + n > len) continue;
        bool same = true;
        for (int i = 0; i < n && same; ++i) same = text_[pos_ + i] == static_cast<Char>(pc.name[i]);
        if (same) {
          r.set = pc.build();
          pos_ += n;
          found = true;
          break;
        }
      }
      if (!found) syntaxError();
      break;
    }
    default: r.ch = Tr::code(c);
  }
  return r;
}

template <class Tr>
CharSet PatternT<Tr>::bracketClass() {
  NestingGuard guard(depth_);
  CharSet set;
  if (depth_ > kMaxNesting) {
    syntaxError();
    return set;
  }
  const int len = static_cast<int>(text_.size());
  const bool ignoreCase = flags_ & FLAG_IGNORE_CASE;
  // Complement over the family's reach, with ASCII letters paired first so that
  // "[^a]" under ignore-case excludes "A" as well.
  auto negate = [&](CharSet& s) {
    if (ignoreCase) {
      CharSet pairs;
      for (std::uint32_t ch = 'a'; ch <= 'z'; ++ch) {
        if (s.contains(ch) || s.contains(ch - 32)) {
          pairs.add(ch);
          pairs.add(ch - 32);
        }
      }
      s.unite(pairs);
    }
    s.complement(Tr::kMaxCode);
  };
  bool negated = false;
  if (pos_ < len && text_[pos_] == '^') {
    ++pos_;
    negated = true;
  }
  while (pos_ < len && text_[pos_] != ']') {
    const Char c = text_[pos_++];
    std::uint32_t single = 0;
    if (c == '[') {
      set.unite(bracketClass());
      if (error_) return set;
      continue;
    }
    if (c == '&' && pos_ < len && text_[pos_] == '&') {
      ++pos_;
      if (pos_ >= len || text_[pos_] != '[') {
        syntaxError();
        return set;
      }
      ++pos_;
      set.intersect(bracketClass());
      if (error_) return set;
      continue;
    }
    if (c == '\\') {
      if (pos_ >= len) {
        syntaxError();
        return set;
      }
      Escape esc = generalEscape(true);
      if (error_) return set;
      if (esc.kind == Escape::QuoteStart) {
        syntaxError();
        return set;
      }
      if (esc.kind == Escape::Set) {
        if (esc.negated) negate(esc.set);
        set.unite(esc.set);
        continue;
      }
      single = esc.ch;
    } else {
      single = Tr::code(c);
    }
    if (pos_ < len && text_[pos_] == '-') {
      ++pos_;
      if (pos_ >= len) {
        syntaxError();
        return set;
      }
      const Char e = text_[pos_++];
      std::uint32_t last = Tr::code(e);
      if (e == '\\') {
        if (pos_ >= len) {
          syntaxError();
          return set;
        }
        Escape esc = generalEscape(true);
        if (error_) return set;
        if (esc.kind != Escape::Single) {
          syntaxError();
          return set;
        }
        last = esc.ch;
      } else if (e == '[' || e == ']' || e == '-' || e == '&') {
        syntaxError();
        return set;
      }
      if (last >= single) {
        set.addRange(single, last);
      } else if (!Tr::kWide) {
        // A reversed byte range wraps through 0xFF to 0x00.
        set.addRange(single, Tr::kMaxCode);
        set.addRange(0, last);
      } else {
        // A reversed wide range would wrap through four billion characters; it
        // is refused instead.
        syntaxError();
        return set;
      }
    } else {
      set.add(single);
    }
  }
  if (pos_ >= len) {
    syntaxError();
    return CharSet();
  }
  ++pos_;
  if (negated) negate(set);
  return set;
}

template <class Tr>
typename PatternT<Tr>::Node* PatternT<Tr>::namedReference(Node*& tail) {
  NestingGuard guard(depth_);
  const int len = static_cast<int>(text_.size());
  int close = -1;
  for (int i = pos_; i < len; ++i) {
    if (text_[i] == '}') { close = i; break; }
  }
  if (close < 0 || depth_ > kMaxNesting) {
    syntaxError();
    return nullptr;
  }
  String name = text_.substr(static_cast<std::size_t>(pos_), static_cast<std::size_t>(close - pos_));
  bool valid = name.size() > 1 && isWordStart(name[0]);
  for (std::size_t i = 1; valid && i < name.size(); ++i) valid = isWordStart(name[i]) || isDigit(name[i]);
  if (!valid) {
    syntaxError();
    return nullptr;
  }
  const auto& table = nameTable();
  auto it = table.find(name);
  if (it == table.end()) {
    syntaxError();
    return nullptr;
  }
  // Copies: a nested compile may not change the table, but the entry is cheap.
  const String subText = it->second.first;
  const std::uint64_t subFlags = it->second.second;
  String savedText = std::move(text_);
  const std::uint64_t savedFlags = flags_;
  text_ = subText;
  pos_ = 0;
  flags_ = subFlags;
  --groupCount_;
  Node* end = nullptr;
  Node* sub = parseSequence(false, false, &end, 0, false);
  text_ = std::move(savedText);
  pos_ = close + 1;
  flags_ = savedFlags;
  if (sub == nullptr) return nullptr;
  tail->next = sub;
  tail = end;
  return sub;
}

template class PatternT<NarrowTraits>;
template class PatternT<WideTraits>;

}  // namespace hbafw
