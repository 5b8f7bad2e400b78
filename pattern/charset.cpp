// Interval arithmetic of class member sets. Kept apart from the compiler so
// that union, intersection and complement are testable on their own.
#include "pattern/charset.h"

#include <algorithm>

namespace hbafw {

void CharSet::addRange(std::uint32_t lo, std::uint32_t hi) {
  if (lo > hi) std::swap(lo, hi);
  ranges_.emplace_back(lo, hi);
  normalise();
}

void CharSet::unite(const CharSet& other) {
  ranges_.insert(ranges_.end(), other.ranges_.begin(), other.ranges_.end());
  normalise();
}

void CharSet::intersect(const CharSet& other) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  std::size_t i = 0, j = 0;
  while (i < ranges_.size() && j < other.ranges_.size()) {
    std::uint32_t lo = std::max(ranges_[i].first, other.ranges_[j].first);
    std::uint32_t hi = std::min(ranges_[i].second, other.ranges_[j].second);
    if (lo <= hi) out.emplace_back(lo, hi);
    if (ranges_[i].second < other.ranges_[j].second) ++i; else ++j;
  }
  ranges_ = std::move(out);
  normalise();
}

void CharSet::complement(std::uint32_t maxCode) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  std::uint64_t next = 0;
  for (const auto& r : ranges_) {
    if (r.first > maxCode) break;
    if (r.first > next) out.emplace_back(static_cast<std::uint32_t>(next), r.first - 1);
    next = static_cast<std::uint64_t>(r.second) + 1;
  }
  if (next <= maxCode) out.emplace_back(static_cast<std::uint32_t>(next), maxCode);
  ranges_ = std::move(out);
  normalise();
}

std::uint64_t CharSet::size() const {
  std::uint64_t n = 0;
  for (const auto& r : ranges_) n += static_cast<std::uint64_t>(r.second) - r.first + 1;
  return n;
}

bool CharSet::containsSlow(std::uint32_t c) const {
  auto it = std::upper_bound(ranges_.begin(), ranges_.end(), c,
                             [](std::uint32_t v, const auto& r) { return v < r.first; });
  if (it == ranges_.begin()) return false;
  --it;
  return c <= it->second;
}

void CharSet::normalise() {
  std::sort(ranges_.begin(), ranges_.end());
  std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
  for (const auto& r : ranges_) {
    if (!out.empty() && static_cast<std::uint64_t>(out.back().second) + 1 >= r.first) {
      out.back().second = std::max(out.back().second, r.second);
    } else {
      out.push_back(r);
    }
  }
  ranges_ = std::move(out);
  low_.reset();
  for (const auto& r : ranges_) {
    if (r.first > 255) break;
    for (std::uint32_t c = r.first; c <= std::min<std::uint32_t>(r.second, 255); ++c) low_.set(c);
  }
}

}  // namespace hbafw
