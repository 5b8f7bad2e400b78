// What the narrow and wide families do differently: case folding, "\x", and
// the syntax-error report. Both reports go out through whichever orientation
// standard error already has, so neither is lost when the other came first.
#include "pattern/traits.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace hbafw {

namespace {

const char* const kMetaMessage = "Syntax Error near here. Possible unescaped meta character.\n";
const char* const kPlainMessage = "Syntax Error near here. \n";
const wchar_t* const kWideMetaMessage = L"Syntax Error near here. Possible unescaped meta character.\n";
const wchar_t* const kWidePlainMessage = L"Syntax Error near here. \n";

template <class C>
bool isMeta(C c) { return c == ')' || c == '*' || c == '+' || c == '?' || c == ']' || c == '}'; }

template <class C>
int hexDigit(C c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// "%*c^" with a fill character of space: max(width, 1) spaces, then the caret.
int caretWidth(int p) { return p - 1 < 1 ? 1 : p - 1; }

}  // namespace

bool NarrowTraits::quoteEqualIgnoringCase(const Char* a, const Char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::uint32_t NarrowTraits::hexEscape(const String& text, int& pos) {
  const int len = static_cast<int>(text.size());
  if (pos + 1 < len) {
    const int d1 = hexDigit(text[pos]), d2 = hexDigit(text[pos + 1]);
    if (d1 >= 0 && d2 >= 0) {
      pos += 2;
      return static_cast<std::uint32_t>(d1 * 16 + d2);
    }
  }
  return 0x20;
}

void NarrowTraits::reportSyntaxError(const String& text, int p) {
  const char* message = (p >= 1 && p - 1 < static_cast<int>(text.size()) && isMeta(text[p - 1])) ? kMetaMessage
                                                                                                   : kPlainMessage;
  if (fwide(stderr, 0) > 0) {
    std::wstring wide;
    for (unsigned char c : text) wide += static_cast<wchar_t>(c);
    std::fwprintf(stderr, L"%ls\n%*lc^\n%s", wide.c_str(), caretWidth(p), L' ', message);
  } else {
    std::fprintf(stderr, "%s\n%*c^\n%s", text.c_str(), caretWidth(p), ' ', message);
  }
}

WideTraits::Char WideTraits::lower(Char c) { return static_cast<Char>(std::towlower(static_cast<wint_t>(c))); }

bool WideTraits::quoteEqualIgnoringCase(const Char* a, const Char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::uint32_t WideTraits::hexEscape(const String& text, int& pos) {
  const int len = static_cast<int>(text.size());
  if (pos + 3 < len) {
    const int d[4] = {hexDigit(text[pos]), hexDigit(text[pos + 1]), hexDigit(text[pos + 2]),
                      hexDigit(text[pos + 3])};
    if (d[0] >= 0 && d[1] >= 0 && d[2] >= 0 && d[3] >= 0) {
      pos += 4;
      return static_cast<std::uint32_t>(d[0] * 4096 + d[1] * 256 + d[2] * 16 + d[3]);
    }
  }
  if (pos + 1 < len) {
    const int d1 = hexDigit(text[pos]), d2 = hexDigit(text[pos + 1]);
    if (d1 >= 0 && d2 >= 0) {
      pos += 2;
      return static_cast<std::uint32_t>(d1 * 16 + d2);
    }
  }
  return 0x20;
}

void WideTraits::reportSyntaxError(const String& text, int p) {
  const bool meta = p >= 1 && p - 1 < static_cast<int>(text.size()) && isMeta(text[p - 1]);
  if (fwide(stderr, 0) > 0) {
    std::fwprintf(stderr, L"%ls\n%*lc^\n%ls", text.c_str(), caretWidth(p), L' ',
                  meta ? kWideMetaMessage : kWidePlainMessage);
    return;
  }
  // A byte-oriented stream gets the same report in UTF-8.
  std::string out;
  for (wchar_t c : text) appendUtf8(out, static_cast<std::uint32_t>(c));
  out += '\n';
  out.append(static_cast<std::size_t>(caretWidth(p)), ' ');
  out += "^\n";
  out += meta ? kMetaMessage : kPlainMessage;
  std::fwrite(out.data(), 1, out.size(), stderr);
}

}  // namespace hbafw
