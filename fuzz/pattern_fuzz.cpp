// libFuzzer target: compile arbitrary pattern text (narrow, or wide with
// HBAFW_FUZZ_WIDE) and run every matching operation over arbitrary input.
// Input layout: byte 0 flags, then pattern and input split at the first 0x00.
// It checks memory safety and termination, and that the matcher's shortcuts
// change no result (a run where either side gave up is not compared). Run it
// with -close_fd_mask=2: syntax-error reports are expected output.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace {

// The whole match and the first searches, as group positions; empty when
// the matcher gave up.
template <class P>
std::vector<int> outcome(P& p, const typename P::String& input) {
  auto m = p.newMatcher(input);
  m->setWorkBudget(200000);
  std::vector<int> out{m->matches() ? 1 : 0};
  auto groups = [&] {
    for (int g = 0; g < p.groupCount(); ++g) out.insert(out.end(), {m->groupStart(g), m->groupEnd(g)});
  };
  groups();
  for (int i = 0; i < 8 && m->status() == hbafw::MatchStatus::Ok && m->findNext(); ++i) groups();
  if (m->status() != hbafw::MatchStatus::Ok) out.clear();
  return out;
}

template <class P>
void compareShortcuts(P& p, const typename P::String& input) {
  p.setFastPaths(0);
  const auto plain = outcome(p, input);
  p.setFastPaths(hbafw::kAllFastPaths);
  const auto quick = outcome(p, input);
  if (!plain.empty() && !quick.empty() && plain != quick) __builtin_trap();
}

template <class P>
void exercise(std::uint64_t flags, const typename P::String& pattern, const typename P::String& input) {
  auto p = P::compile(pattern, flags);
  if (!p) return;
  compareShortcuts(*p, input);
  auto m = p->newMatcher(input);
  m->setWorkBudget(200000);
  p->setWorkBudget(200000);
  m->matches();
  m->groups(true);
  for (int i = 0; i < 50 && m->findNext(); ++i) m->group(p->groupCount() - 1);
  p->split(input, (flags & 32) != 0, static_cast<int>(flags >> 6));
  p->replace(input, pattern);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4096) return 0;
  const std::uint64_t flags = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const auto cut = rest.find('\0');
  const std::string pattern = rest.substr(0, cut);
  const std::string input = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
#ifdef HBAFW_FUZZ_WIDE
  // Two bytes per wide character so that values above 255 are reached.
  auto widen = [](const std::string& s) {
    std::wstring w;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
      w += static_cast<wchar_t>(static_cast<unsigned char>(s[i]) | (static_cast<unsigned char>(s[i + 1]) << 8));
    if (s.size() % 2) w += static_cast<wchar_t>(static_cast<unsigned char>(s.back()));
    return w;
  };
  exercise<hbafw::WidePattern>(flags & 31, widen(pattern), widen(input));
#else
  exercise<hbafw::Pattern>(flags & 31, pattern, input);
#endif
  return 0;
}
