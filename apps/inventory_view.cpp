#include "apps/inventory_view.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <strings.h>

#include "framework/file_io.h"
#include "framework/finished_flash.h"

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

std::vector<KnownPciDevice> KnownPciDevices(const SystemPaths& paths) {
    constexpr const char* kIdFiles[] = {"vendor", "device", "subsystem_vendor", "subsystem_device"};
    std::vector<KnownPciDevice> found;
    const std::string bus = paths.sysRoot + "/bus/pci/devices/";
    for (const std::string& name : NamesMatching(bus, "*")) {
        KnownPciDevice device;
        bool read = true;
        for (std::size_t i = 0; i < 4 && read; ++i) {
            read = ReadWholeFile(bus + name + "/" + kIdFiles[i], device.ids[i]) &&
                   device.ids[i].rfind("0x", 0) == 0;
            if (read) device.ids[i] = device.ids[i].substr(2, device.ids[i].find_first_of("\n") - 2);
        }
        if (read && !BuildForPciId(device.ids[0]).empty()) found.push_back(device);
    }
    std::sort(found.begin(), found.end(),
              [](const KnownPciDevice& a, const KnownPciDevice& b) { return a.ids[0] + a.ids[1] < b.ids[0] + b.ids[1]; });
    return found;
}

std::vector<std::string> BuildsOnPciBus(const SystemPaths& paths) {
    std::vector<std::string> builds;
    std::vector<KnownPciDevice> devices = KnownPciDevices(paths);
    for (const VendorBuild& vendor : kVendorBuilds)
        if (std::any_of(devices.begin(), devices.end(), [&vendor](const KnownPciDevice& device) {
                return BuildForPciId(device.ids[0]) == vendor.build;
            }))
            builds.push_back(vendor.build);
    return builds;
}

RestartState ReadRestartState(const SystemPaths& paths) {
    RestartState state;
    // The component's own record holds even where the signal was cleared by
    // another tool; the earlier of the two times is when the restart became due.
    if (std::optional<std::time_t> flashed = FinishedFlashThisBoot(paths)) state = {true, *flashed};
    std::string packages;
    struct stat signal {};
    if (!ReadWholeFile(paths.rebootRequiredPackages, packages) || ::lstat(paths.rebootRequired.c_str(), &signal) != 0)
        return state;
    std::istringstream lines(packages);
    for (std::string line; std::getline(lines, line);) {
        if (line != kPackageName) continue;
        state.since = state.required ? std::min(state.since, signal.st_mtime) : signal.st_mtime;
        state.required = true;
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
