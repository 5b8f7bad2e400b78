// The PCI vendor and device ids of an adapter, found in sysfs from the PCI
// location and subsystem ids its vendor library reports. All reading is done
// by shell commands (find, grep, cat, wc); nothing is printed or logged.
#pragma once

#include <string>

namespace hbafw {

inline constexpr const char* kPciIdentityUnknown = "N/A";

// "%.4x%.4x" of vendor and device id, or "N/A". The first candidate directory
// whose two subsystem files hold the two ids decides; sysRoot stands for /sys.
std::string LookupPciIdentity(unsigned char domain, unsigned char bus, unsigned char function,
                              unsigned subsystemLow, unsigned subsystemHigh, const std::string& sysRoot = "/sys");

// The grep pattern of a sysfs PCI address with any device number.
std::string PciAddressPattern(unsigned char domain, unsigned char bus, unsigned char function);

}  // namespace hbafw
