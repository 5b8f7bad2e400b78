// libFuzzer target: the sysfs lookup's parsing of its commands' output on
// arbitrary bytes (bytes 0-2 domain, bus, function; the rest command output,
// one line per newline). The address filter is checked against std::regex
// running grep's pattern, the identity reader for its result's form. It starts
// no command and touches no file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "inventory/pci_identity.h"

namespace {

// ECMAScript spelling of PciAddressPattern; \w and case folding are ASCII in
// the C locale. Compiled regexes are kept: compiling dominates a run otherwise.
const std::regex& AddressRegex(unsigned char domain, unsigned char bus, unsigned char function) {
    static std::map<unsigned, std::regex> compiled;
    if (compiled.size() > 256) compiled.clear();
    auto [entry, added] = compiled.try_emplace(domain << 16 | bus << 8 | function);
    if (added) {
        char pattern[64];
        std::snprintf(pattern, sizeof pattern, "%.4x:%.2x:(\\w)*\\.%x", domain, bus, function);
        entry->second = std::regex(pattern, std::regex::ECMAScript | std::regex::icase);
    }
    return entry->second;
}

// Ids above 0xffff (not in a real sysfs) widen "%.4x" up to eight digits each.
bool IsIdentityText(const std::string& identity) {
    if (identity == hbafw::kPciIdentityUnknown) return true;
    if (identity.size() < 8 || identity.size() > 16) return false;
    for (char c : identity)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 8192) return 0;
    const unsigned char domain = data[0], bus = data[1], function = data[2];
    const std::string output(reinterpret_cast<const char*>(data + 3), size - 3);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        lines.push_back(output.substr(start, end - start));
        start = end + 1;
    }
    const std::regex& address = AddressRegex(domain, bus, function);
    for (const std::string& line : lines) {
        bool ours = hbafw::MatchesPciAddress(line, domain, bus, function);
        // The library's matcher recurses per character; long lines test only ours.
        if (line.size() <= 256 && ours != std::regex_search(line, address)) std::abort();
        std::string directory = hbafw::CandidateDirectory(line);
        if (line.compare(0, directory.size(), directory) != 0) std::abort();
        hbafw::ConfirmationPassed(line);
    }
    if (!IsIdentityText(hbafw::IdentityFromLines(lines))) std::abort();
    return 0;
}
