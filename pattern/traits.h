// Character traits that turn the one engine into its narrow (byte) and wide
// (wchar_t) families: case folding, the "\x" escape, the syntax-error report,
// the node-name suffix and the reach of a complemented class.
// Nothing here knows about nodes or matching.
#pragma once

#include <cstdint>
#include <string>

namespace hbafw {

struct NarrowTraits {
  using Char = char;
  using String = std::string;
  static constexpr bool kWide = false;
  static constexpr std::uint32_t kMaxCode = 0xFF;
  static constexpr const char* kNodeSuffix = "Node";

  static std::uint32_t code(Char c) { return static_cast<unsigned char>(c); }
  static Char fromCode(std::uint32_t v) { return static_cast<Char>(static_cast<unsigned char>(v)); }
  // Only ASCII letters fold; every other byte is left as it is.
  static Char lower(Char c) { return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c; }
  static bool quoteEqualIgnoringCase(const Char* a, const Char* b, std::size_t n);
  // Reads the digits after "\x" at pos; returns the character and advances pos.
  static std::uint32_t hexEscape(const String& text, int& pos);
  static void reportSyntaxError(const String& text, int p);
};

struct WideTraits {
  using Char = wchar_t;
  using String = std::wstring;
  static constexpr bool kWide = true;
  // A negated wide class covers every character outside its set, not only 0-255.
  static constexpr std::uint32_t kMaxCode = 0xFFFFFFFFu;
  static constexpr const char* kNodeSuffix = "UNode";

  static std::uint32_t code(Char c) { return static_cast<std::uint32_t>(c); }
  static Char fromCode(std::uint32_t v) { return static_cast<Char>(v); }
  static Char lower(Char c);
  static bool quoteEqualIgnoringCase(const Char* a, const Char* b, std::size_t n);
  static std::uint32_t hexEscape(const String& text, int& pos);
  static void reportSyntaxError(const String& text, int p);
};

}  // namespace hbafw
