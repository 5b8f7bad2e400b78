// sysfs lookup of an adapter's PCI identity. Every path placed in a command is
// quoted, so a shell character in a directory name cannot change the command,
// and every command's error output goes to /dev/null: the lookup never prints.
#include "inventory/pci_identity.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {

constexpr const char* kDiscardErrors = " 2>/dev/null";
// A lone command replaces its shell instead of being one more process.
constexpr const char* kInPlaceOfShell = "exec ";

std::string HexPair(unsigned first, unsigned second) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4x%.4x", first, second);
    return text;
}

std::string SearchCommand(const std::string& sysRoot) {
    return "find " + QuoteShellWord(sysRoot) + " -name subsystem_vendor" + kDiscardErrors;
}

// Only ASCII folds, as grep -i does in the C locale and for every character
// a kernel puts in a PCI address.
char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
    return true;
}

bool IsWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::string PciAddressPattern(unsigned char domain, unsigned char bus, unsigned char function) {
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "%.4x:%.2x:\\(\\w\\)*\\.%x", domain, bus, function);
    return pattern;
}

// The pattern's \(\w\)* cannot take a dot, so after each occurrence of the
// domain and bus the run of word characters decides alone where the dot must be.
bool MatchesPciAddress(std::string_view line, unsigned char domain, unsigned char bus, unsigned char function) {
    char prefix[16], suffix[8];
    std::snprintf(prefix, sizeof prefix, "%.4x:%.2x:", domain, bus);
    std::snprintf(suffix, sizeof suffix, ".%x", function);
    std::string_view head(prefix), tail(suffix);
    for (std::size_t at = 0; at + head.size() <= line.size(); ++at) {
        if (!StartsWithIgnoringCase(line.substr(at), head)) continue;
        std::size_t end = at + head.size();
        while (end < line.size() && IsWordCharacter(line[end])) ++end;
        if (StartsWithIgnoringCase(line.substr(end), tail)) return true;
    }
    return false;
}

std::string CandidateDirectory(std::string_view searchLine) {
    std::size_t slash = searchLine.rfind('/');
    return std::string(slash == std::string_view::npos ? searchLine : searchLine.substr(0, slash));
}

bool ConfirmationPassed(const std::string& firstLine) { return std::atoi(firstLine.c_str()) == 2; }

std::string IdentityFromLines(const std::vector<std::string>& lines) {
    if (lines.size() < 2) return kPciIdentityUnknown;
    return HexPair(static_cast<unsigned>(std::strtol(lines[0].c_str(), nullptr, 16)),
                   static_cast<unsigned>(std::strtol(lines[1].c_str(), nullptr, 16)));
}

PciIdentityLookup::PciIdentityLookup(std::string sysRoot, SysfsWalk walk)
    : sysRoot_(std::move(sysRoot)), walk_(walk) {}

bool PciIdentityLookup::Exists(const std::string& path) {
    auto known = exists_.find(path);
    if (known != exists_.end()) return known->second;
    struct stat info;
    bool exists = ::stat(path.c_str(), &info) == 0;
    if (walk_ == SysfsWalk::OncePerEnumeration) exists_.emplace(path, exists);
    return exists;
}

bool PciIdentityLookup::IsCandidate(const std::string& directory, unsigned subsystemLow, unsigned subsystemHigh) {
    if (!Exists(directory + "/subsystem_device") || !Exists(directory + "/vendor") || !Exists(directory + "/device"))
        return false;
    auto key = std::make_tuple(directory, subsystemLow, subsystemHigh);
    auto known = confirmed_.find(key);
    if (known != confirmed_.end()) return known->second;
    char alternatives[32];
    std::snprintf(alternatives, sizeof alternatives, "'%.4x|%.4x'", subsystemLow, subsystemHigh);
    std::string command = "cat " + QuoteShellWord(directory + "/subsystem_vendor") + " " +
                          QuoteShellWord(directory + "/subsystem_device") + kDiscardErrors + " | grep -i -E " +
                          alternatives + kDiscardErrors + " | wc -l" + kDiscardErrors;
    std::vector<std::string> lines = ReadFirstCommandLines(command, 1);
    bool passed = !lines.empty() && ConfirmationPassed(lines[0]);
    if (walk_ == SysfsWalk::OncePerEnumeration) confirmed_.emplace(std::move(key), passed);
    return passed;
}

std::string PciIdentityLookup::FindDevice(unsigned char domain, unsigned char bus, unsigned char function,
                                          unsigned subsystemLow, unsigned subsystemHigh) {
    std::string device;
    auto tryLine = [&](const std::string& line) {
        if (line.empty()) return false;
        std::string candidate = CandidateDirectory(line);
        if (!IsCandidate(candidate, subsystemLow, subsystemHigh)) return false;
        device = std::move(candidate);
        return true;
    };
    if (walk_ == SysfsWalk::PerAdapter) {
        ReadCommandLines(SearchCommand(sysRoot_) + " | grep -i -e '" + PciAddressPattern(domain, bus, function) +
                             "'" + kDiscardErrors,
                         tryLine);
        return device;
    }
    if (!searchLines_) {
        searchLines_.emplace();
        ReadCommandLines(kInPlaceOfShell + SearchCommand(sysRoot_), [this](const std::string& line) {
            searchLines_->push_back(line);
            return false;
        });
    }
    for (const std::string& line : *searchLines_)
        if (MatchesPciAddress(line, domain, bus, function) && tryLine(line)) break;
    return device;
}

std::string PciIdentityLookup::ReadIdentity(const std::string& directory) {
    auto known = identities_.find(directory);
    if (known != identities_.end()) return known->second;
    // The per-adapter walk keeps its commands as they always were: it is the reference.
    std::string command =
        "cat " + QuoteShellWord(directory + "/vendor") + " " + QuoteShellWord(directory + "/device") + kDiscardErrors;
    if (walk_ == SysfsWalk::OncePerEnumeration) command = kInPlaceOfShell + command;
    std::string identity = IdentityFromLines(ReadFirstCommandLines(command, 2));
    if (walk_ == SysfsWalk::OncePerEnumeration) identities_.emplace(directory, identity);
    return identity;
}

std::string PciIdentityLookup::Lookup(unsigned char domain, unsigned char bus, unsigned char function,
                                      unsigned subsystemLow, unsigned subsystemHigh) {
    std::string device = FindDevice(domain, bus, function, subsystemLow, subsystemHigh);
    return device.empty() ? kPciIdentityUnknown : ReadIdentity(device);
}

std::string LookupPciIdentity(unsigned char domain, unsigned char bus, unsigned char function,
                              unsigned subsystemLow, unsigned subsystemHigh, const std::string& sysRoot) {
    return PciIdentityLookup(sysRoot, SysfsWalk::PerAdapter).Lookup(domain, bus, function, subsystemLow, subsystemHigh);
}

}  // namespace hbafw
