// Whole-text operations of a pattern (through its own matcher) and the
// one-shot operations that compile, use and discard a pattern in one call.
// A text that does not compile gives the fixed empty result of each. Each
// leaves in the pattern's status how its last search ended.
#include "pattern/pattern.h"

namespace hbafw {

template <class Tr>
std::unique_ptr<MatcherT<Tr>> PatternT<Tr>::newMatcher(const String& input) const {
  return std::make_unique<Matcher>(this, input);
}

template <class Tr>
bool PatternT<Tr>::matchesWhole(const String& input) {
  ownMatcher_->setInput(input);
  return ownMatcher_->matches();
}

template <class Tr>
std::vector<typename PatternT<Tr>::String> PatternT<Tr>::findAll(const String& input) {
  ownMatcher_->setInput(input);
  return ownMatcher_->findAll();
}

template <class Tr>
std::vector<typename PatternT<Tr>::String> PatternT<Tr>::split(const String& input, bool keepEmpty, int limit) {
  if (limit == 0) limit = 2147483647;
  ownMatcher_->setInput(input);
  std::vector<String> out;
  int last = 0;
  while (static_cast<long>(out.size()) < limit && ownMatcher_->findNext()) {
    const int s = ownMatcher_->groupStart(0), e = ownMatcher_->groupEnd(0);
    if (s == 0 && keepEmpty) out.push_back(String());
    if (e == s && !keepEmpty) continue;
    if (s != last || keepEmpty) out.push_back(input.substr(static_cast<std::size_t>(last), static_cast<std::size_t>(s - last)));
    last = e;
  }
  if (last < static_cast<int>(input.size())) out.push_back(input.substr(static_cast<std::size_t>(last)));
  return out;
}

template <class Tr>
typename PatternT<Tr>::String PatternT<Tr>::replace(const String& input, const String& replacement) {
  ownMatcher_->setInput(input);
  String out;
  int last = 0;
  while (ownMatcher_->findNext()) {
    const int s = ownMatcher_->groupStart(0);
    out += input.substr(static_cast<std::size_t>(last), static_cast<std::size_t>(s - last));
    out += ownMatcher_->expandReplacement(replacement);
    last = ownMatcher_->groupEnd(0);
  }
  out += input.substr(static_cast<std::size_t>(last));
  return out;
}

namespace {

void report(MatchStatus* out, MatchStatus value) {
  if (out != nullptr) *out = value;
}

}  // namespace

template <class Tr>
bool PatternT<Tr>::matchesOnce(const String& pattern, const String& input, std::uint64_t flags,
                               MatchStatus* status) {
  report(status, MatchStatus::Ok);
  auto p = compile(pattern, flags);
  if (p == nullptr) return false;
  const bool found = p->matchesWhole(input);
  report(status, p->status());
  return found;
}

template <class Tr>
std::pair<typename PatternT<Tr>::String, int> PatternT<Tr>::nthMatch(const String& pattern, const String& input, int n,
                                                                     std::uint64_t flags, MatchStatus* status) {
  report(status, MatchStatus::Ok);
  auto p = compile(pattern, flags);
  if (p == nullptr || n < 0) return {String(), -1};
  auto m = p->newMatcher(input);
  for (int i = 0; i <= n; ++i) {
    if (!m->findNext()) {
      report(status, m->status());
      return {String(), -1};
    }
  }
  return {m->group(0), m->groupStart(0)};
}

template <class Tr>
std::vector<typename PatternT<Tr>::String> PatternT<Tr>::findAllOnce(const String& pattern, const String& input,
                                                                     std::uint64_t flags, MatchStatus* status) {
  report(status, MatchStatus::Ok);
  auto p = compile(pattern, flags);
  if (p == nullptr) return {};
  auto found = p->findAll(input);
  report(status, p->status());
  return found;
}

template <class Tr>
std::vector<typename PatternT<Tr>::String> PatternT<Tr>::splitOnce(const String& pattern, const String& input,
                                                                   bool keepEmpty, int limit, std::uint64_t flags,
                                                                   MatchStatus* status) {
  report(status, MatchStatus::Ok);
  auto p = compile(pattern, flags);
  if (p == nullptr) return {};
  auto pieces = p->split(input, keepEmpty, limit);
  report(status, p->status());
  return pieces;
}

template <class Tr>
typename PatternT<Tr>::String PatternT<Tr>::replaceOnce(const String& pattern, const String& input,
                                                        const String& replacement, std::uint64_t flags,
                                                        MatchStatus* status) {
  report(status, MatchStatus::Ok);
  auto p = compile(pattern, flags);
  if (p == nullptr) return String();
  String out = p->replace(input, replacement);
  report(status, p->status());
  return out;
}

template class PatternT<NarrowTraits>;
template class PatternT<WideTraits>;

}  // namespace hbafw
