// hbafw-pattern: try a pattern by hand (match, find, groups, split, replace,
// dump) or run records in batch for scripts. A diagnostic tool only; it adds
// no behaviour to the engine and reads no configuration.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <type_traits>
#include <vector>

#include "framework/tool_identity.h"
#include "pattern/pattern.h"

namespace {

const char* const kUsage =
    "usage: hbafw-pattern [--wide] [--flags N] PATTERN match|find|groups|split|dump [INPUT]\n"
    "       hbafw-pattern [--wide] [--flags N] PATTERN replace INPUT REPLACEMENT\n"
    "       hbafw-pattern --batch [--wide]   (stdin: FLAGS<TAB>PATTERN_HEX<TAB>INPUT_HEX)\n"
    "       hbafw-pattern --help | --version\n"
    "flags: 1 ignore case, 2 literal, 4 dot all, 8 multiline, 16 unix lines\n";
const char* const kNoCompile = "pattern does not compile\n";
const char* const kNoDumpWide = "the wide engine has no dump\n";
constexpr int kMaxFinds = 1000;

std::wstring fromUtf8(const std::string& s) {
  std::wstring out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    std::uint32_t v = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    if (c >= 0x80 && c < 0xC0) extra = 0, v = c;  // stray continuation byte: kept as its value
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) v = (v << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    out += static_cast<wchar_t>(v);
  }
  return out;
}

std::string toUtf8(const std::wstring& w) {
  std::string out;
  for (wchar_t wc : w) {
    const auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x80) out += static_cast<char>(c);
    else if (c < 0x800) out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000) out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    else out += {static_cast<char>(0xF0 | ((c >> 18) & 7)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
  return out;
}

std::string show(const std::string& s) { return s; }
std::string show(const std::wstring& s) { return toUtf8(s); }
std::string convert(const std::string& s, const std::string*) { return s; }
std::wstring convert(const std::string& s, const std::wstring*) { return fromUtf8(s); }

bool fromHex(const std::string& hex, std::string& out) {
  if (hex.size() % 2) return false;
  out.clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string byte = hex.substr(i, 2);
    const long v = std::strtol(byte.c_str(), &end, 16);
    if (*end != '\0') return false;
    out += static_cast<char>(v);
  }
  return true;
}

const char* statusNote(hbafw::MatchStatus s) {
  switch (s) {
    case hbafw::MatchStatus::TooDeep: return " (gave up: too deep)";
    case hbafw::MatchStatus::OverBudget: return " (gave up: work budget)";
    default: return "";
  }
}

template <class P>
std::string batchLine(std::uint64_t flags, const std::string& pattern, const std::string& input) {
  using S = typename P::String;
  auto p = P::compile(convert(pattern, static_cast<const S*>(nullptr)), flags);
  if (!p) return "SYNTAX";
  const S in = convert(input, static_cast<const S*>(nullptr));
  auto m = p->newMatcher(in);
  std::string line = std::string("M=") + (m->matches() ? "1" : "0") + " G=";
  for (int i = 0; i < p->groupCount(); ++i) {
    if (i) line += ';';
    line += std::to_string(m->groupStart(i)) + "," + std::to_string(m->groupEnd(i));
  }
  line += " F=";
  auto f = p->newMatcher(in);
  for (int n = 0; n < kMaxFinds && f->findNext(); ++n) {
    if (n) line += ';';
    line += std::to_string(f->groupStart(0)) + "," + std::to_string(f->groupEnd(0));
  }
  return line;
}

int batch(bool wide) {
  std::string record;
  while (std::getline(std::cin, record)) {
    const auto t1 = record.find('\t');
    const auto t2 = t1 == std::string::npos ? std::string::npos : record.find('\t', t1 + 1);
    std::string pattern, input;
    if (t2 == std::string::npos || !fromHex(record.substr(t1 + 1, t2 - t1 - 1), pattern) ||
        !fromHex(record.substr(t2 + 1), input)) {
      std::cout << "BAD RECORD\n";
      continue;
    }
    const std::uint64_t flags = std::strtoull(record.substr(0, t1).c_str(), nullptr, 10);
    std::cout << (wide ? batchLine<hbafw::WidePattern>(flags, pattern, input)
                       : batchLine<hbafw::Pattern>(flags, pattern, input))
              << '\n';
  }
  return 0;
}

template <class P>
int interactive(std::uint64_t flags, const std::string& patternText, const std::string& op,
                const std::vector<std::string>& rest) {
  using S = typename P::String;
  auto p = P::compile(convert(patternText, static_cast<const S*>(nullptr)), flags);
  if (!p) {
    std::fputs(kNoCompile, stderr);
    return 2;
  }
  const S input = rest.empty() ? S() : convert(rest[0], static_cast<const S*>(nullptr));
  if (op == "dump") {
    if constexpr (std::is_same_v<P, hbafw::Pattern>) {
      p->dump();
      return 0;
    } else {
      std::fputs(kNoDumpWide, stderr);
      return 2;
    }
  }
  auto m = p->newMatcher(input);
  if (op == "match" || op == "groups") {
    const bool ok = m->matches();
    std::printf("match: %s%s\n", ok ? "yes" : "no", statusNote(m->status()));
    if (ok) {
      for (int i = 0; i < p->groupCount(); ++i) {
        std::printf("group %d [%d,%d]: '%s'\n", i, m->groupStart(i), m->groupEnd(i), show(m->group(i)).c_str());
      }
    }
    return ok ? 0 : 1;
  }
  if (op == "find") {
    int n = 0;
    for (; n < kMaxFinds && m->findNext(); ++n) {
      std::printf("[%d,%d]: '%s'\n", m->groupStart(0), m->groupEnd(0), show(m->group(0)).c_str());
    }
    std::printf("%d found%s\n", n, statusNote(m->status()));
    return n ? 0 : 1;
  }
  // A give-up leaves split and replace results short; say so beside them.
  auto noteGiveUp = [&p] {
    if (p->status() != hbafw::MatchStatus::Ok) std::fprintf(stderr, "search%s\n", statusNote(p->status()));
  };
  if (op == "split") {
    for (const auto& piece : p->split(input, false, 0)) std::printf("'%s'\n", show(piece).c_str());
    noteGiveUp();
    return 0;
  }
  if (op == "replace" && rest.size() == 2) {
    std::printf("%s\n", show(p->replace(input, convert(rest[1], static_cast<const S*>(nullptr)))).c_str());
    noteGiveUp();
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (hbafw::AnsweredHelpOrVersion(argc, argv, "hbafw-pattern", kUsage)) return 0;
  bool wide = false, batchMode = false;
  std::uint64_t flags = 0;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--wide") wide = true;
    else if (a == "--batch") batchMode = true;
    else if (a == "--flags" && i + 1 < argc) flags = std::strtoull(argv[++i], nullptr, 10);
    else args.push_back(a);
  }
  if (batchMode) return batch(wide);
  if (args.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::vector<std::string> rest(args.begin() + 2, args.end());
  return wide ? interactive<hbafw::WidePattern>(flags, args[0], args[1], rest)
              : interactive<hbafw::Pattern>(flags, args[0], args[1], rest);
}
