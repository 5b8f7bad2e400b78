// The process-wide name table and pattern cache, one pair per family. No
// locking: the system is single-threaded. Unlike a bare table of pointers, the
// cache also frees its patterns when the process exits, so leak checkers stay quiet.
#include "pattern/pattern.h"

namespace hbafw {

namespace {

template <class Tr>
std::map<typename Tr::String, std::pair<typename Tr::String, std::uint64_t>>& names() {
  static std::map<typename Tr::String, std::pair<typename Tr::String, std::uint64_t>> table;
  return table;
}

template <class Tr>
std::map<typename Tr::String, std::unique_ptr<PatternT<Tr>>>& cache() {
  static std::map<typename Tr::String, std::unique_ptr<PatternT<Tr>>> table;
  return table;
}

}  // namespace

template <class Tr>
const std::map<typename Tr::String, std::pair<typename Tr::String, std::uint64_t>>& PatternT<Tr>::nameTable() {
  return names<Tr>();
}

template <class Tr>
bool PatternT<Tr>::defineName(const String& name, const String& patternText, std::uint64_t flags) {
  if (compile(patternText, flags) == nullptr) return false;
  names<Tr>()[name] = {patternText, flags};
  return true;
}

template <class Tr>
void PatternT<Tr>::clearNames() {
  names<Tr>().clear();
}

template <class Tr>
PatternT<Tr>* PatternT<Tr>::cachedCompile(const String& patternText, std::uint64_t flags) {
  auto& table = cache<Tr>();
  auto it = table.find(patternText);
  if (it != table.end()) return it->second.get();  // whatever flags it was compiled with
  auto compiled = compile(patternText, flags);
  PatternT* raw = compiled.get();
  table.emplace(patternText, std::move(compiled));
  return raw;
}

template <class Tr>
void PatternT<Tr>::clearCache() {
  cache<Tr>().clear();
}

template class PatternT<NarrowTraits>;
template class PatternT<WideTraits>;

}  // namespace hbafw
