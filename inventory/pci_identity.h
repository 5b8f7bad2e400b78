// The PCI vendor and device ids of an adapter, found in sysfs from the PCI
// location and subsystem ids its vendor library reports. All reading is done
// by shell commands (find, grep, cat, wc) whose error output is discarded;
// nothing is printed or logged.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace hbafw {

inline constexpr const char* kPciIdentityUnknown = "N/A";

// How an enumeration searches /sys: one find piped through grep for every
// adapter, or one find shared by all of its adapters and filtered here. The
// per-adapter walk is kept as the reference the shared one is tested and
// benchmarked against.
enum class SysfsWalk { PerAdapter, OncePerEnumeration };

// One enumeration's lookups. With OncePerEnumeration it captures the search
// output at the first lookup and remembers existence tests, confirmations and
// identity reads, so it must not outlive the enumeration: sysfs changes
// between runs and nothing is carried over.
class PciIdentityLookup {
public:
    explicit PciIdentityLookup(std::string sysRoot, SysfsWalk walk = SysfsWalk::OncePerEnumeration);

    // "%.4x%.4x" of vendor and device id, or "N/A". The first candidate
    // directory whose two subsystem files hold the two ids decides.
    std::string Lookup(unsigned char domain, unsigned char bus, unsigned char function, unsigned subsystemLow,
                       unsigned subsystemHigh);

private:
    std::string FindDevice(unsigned char domain, unsigned char bus, unsigned char function, unsigned subsystemLow,
                           unsigned subsystemHigh);
    bool IsCandidate(const std::string& directory, unsigned subsystemLow, unsigned subsystemHigh);
    bool Exists(const std::string& path);
    std::string ReadIdentity(const std::string& directory);

    std::string sysRoot_;
    SysfsWalk walk_;
    std::optional<std::vector<std::string>> searchLines_;
    std::map<std::string, bool> exists_;
    std::map<std::tuple<std::string, unsigned, unsigned>, bool> confirmed_;
    std::map<std::string, std::string> identities_;
};

// A single lookup with its own search of /sys.
std::string LookupPciIdentity(unsigned char domain, unsigned char bus, unsigned char function,
                              unsigned subsystemLow, unsigned subsystemHigh, const std::string& sysRoot = "/sys");

// The grep pattern of a sysfs PCI address with any device number.
std::string PciAddressPattern(unsigned char domain, unsigned char bus, unsigned char function);

// Parsing of the commands' output, shared by both walks.
// True when grep -i -e with PciAddressPattern would select the line.
bool MatchesPciAddress(std::string_view line, unsigned char domain, unsigned char bus, unsigned char function);
// A search line cut at its last '/'; a line without one is left whole.
std::string CandidateDirectory(std::string_view searchLine);
// The confirmation's first output line counts exactly two matching files.
bool ConfirmationPassed(const std::string& firstLine);
// The identity from the lines of "cat vendor device", or "N/A" below two lines.
std::string IdentityFromLines(const std::vector<std::string>& lines);

}  // namespace hbafw
