// Member set of a class node: sorted disjoint code intervals plus a 256-bit
// bitmap for the fast test of the codes every input mostly holds.
// It does not know about case folding rules; the compiler applies those.
#pragma once

#include <bitset>
#include <cstdint>
#include <utility>
#include <vector>

namespace hbafw {

class CharSet {
 public:
  void add(std::uint32_t c) { addRange(c, c); }
  void addRange(std::uint32_t lo, std::uint32_t hi);
  void unite(const CharSet& other);
  void intersect(const CharSet& other);
  void complement(std::uint32_t maxCode);
  bool contains(std::uint32_t c) const {
    if (c < 256) return low_[c];
    return containsSlow(c);
  }
  // Number of members (the dump shows it for narrow classes).
  std::uint64_t size() const;
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& intervals() const { return ranges_; }

 private:
  bool containsSlow(std::uint32_t c) const;
  void normalise();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_;
  std::bitset<256> low_;
};

}  // namespace hbafw
