#include "apps/inventory_view.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
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

std::vector<std::string> BuildsOnPciBus(const SystemPaths& paths) {
    std::vector<std::string> builds;
    std::error_code error;
    std::filesystem::directory_iterator devices(paths.sysRoot + "/bus/pci/devices", error), end;
    std::vector<std::string> vendors;
    for (; !error && devices != end; devices.increment(error)) {
        std::string vendor;
        if (ReadWholeFile((devices->path() / "vendor").string(), vendor) && vendor.rfind("0x", 0) == 0)
            vendors.push_back(vendor.substr(2));
    }
    for (const VendorBuild& vendor : kVendorBuilds)
        for (const std::string& found : vendors)
            if (::strncasecmp(found.c_str(), vendor.vendorId, 4) == 0) {
                builds.push_back(vendor.build);
                break;
            }
    return builds;
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

namespace {

// The value after "key": in line (from its last occurrence when last): a
// string up to the next quote, quotes kept, anything else up to ',' or '}'.
std::optional<std::string> RawMember(const std::string& line, const std::string& key, bool last = false) {
    std::string marker = "\"" + key + "\": ";
    std::size_t at = last ? line.rfind(marker) : line.find(marker);
    if (at == std::string::npos) return std::nullopt;
    std::size_t start = at + marker.size();
    bool quoted = start < line.size() && line[start] == '"';
    std::size_t end = quoted ? line.find('"', start + 1) : line.find_first_of(",}", start);
    if (end == std::string::npos) return std::nullopt;
    return line.substr(start, end - start + (quoted ? 1 : 0));
}

std::optional<long long> Number(const std::optional<std::string>& raw) {
    if (!raw || raw->empty()) return std::nullopt;
    char* end = nullptr;
    long long value = std::strtoll(raw->c_str(), &end, 10);
    if (end != raw->c_str() + raw->size()) return std::nullopt;
    return value;
}

// A JSON string without escapes, or empty.
std::string Plain(const std::optional<std::string>& raw) {
    if (!raw || raw->size() < 2 || raw->front() != '"' || raw->back() != '"') return {};
    std::string text = raw->substr(1, raw->size() - 2);
    return text.find_first_of("\\\"") == std::string::npos ? text : std::string();
}

}  // namespace

std::optional<LastRun> LastRunFromLine(const std::string& line) {
    std::optional<long long> time = Number(RawMember(line, "time"));
    if (!time) return std::nullopt;
    LastRun run;
    run.time = static_cast<std::time_t>(*time);
    run.exitCode = Number(RawMember(line, "exit_code"));
    run.action = Plain(RawMember(line, "action"));
    run.outcome = Plain(RawMember(line, "outcome", true));
    return run;
}

std::optional<LastRun> ReadLastRun(const SystemPaths& paths) {
    std::string history;
    if (!ReadWholeFile(paths.updateHistory, history)) return std::nullopt;
    while (!history.empty() && history.back() == '\n') history.pop_back();
    return LastRunFromLine(history.substr(history.rfind('\n') == std::string::npos ? 0 : history.rfind('\n') + 1));
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
