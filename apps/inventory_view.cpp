#include "apps/inventory_view.h"

#include <sys/stat.h>

#include <sstream>
#include <strings.h>

#include "framework/file_io.h"

namespace hbafw {

namespace {
struct VendorBuild {
    const char* vendorId;
    const char* build;
};
constexpr VendorBuild kVendorBuilds[] = {
    {"1077", "hbafw-qlogic"}, {"10df", "hbafw-emulex"}, {"1657", "hbafw-brocade"}};
}  // namespace

std::string BuildForPciId(const std::string& pciId) {
    if (pciId.size() < 4) return {};
    for (const VendorBuild& vendor : kVendorBuilds)
        if (::strncasecmp(pciId.c_str(), vendor.vendorId, 4) == 0) return vendor.build;
    return {};
}

RestartState ReadRestartState(const SystemPaths& paths) {
    RestartState state;
    std::string packages;
    struct stat signal {};
    if (!ReadWholeFile(paths.rebootRequiredPackages, packages) || ::lstat(paths.rebootRequired.c_str(), &signal) != 0)
        return state;
    std::istringstream lines(packages);
    for (std::string line; std::getline(lines, line);) {
        if (line != kPackageName) continue;
        state.required = true;
        state.since = signal.st_mtime;
    }
    return state;
}

std::string Utf8FromBytes(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

}  // namespace hbafw
