#include "framework/finished_flash.h"

#include <cstdlib>
#include <sstream>

#include "framework/file_io.h"

namespace hbafw {

namespace {
constexpr const char* kPackageLine = "hbafw";
constexpr const char* kSignalText = "*** System restart required ***\n";

std::string BootId(const SystemPaths& paths) {
    std::string id;
    if (!ReadWholeFile(paths.bootId, id)) return {};
    return id.substr(0, id.find('\n'));
}

// (boot id, time) of the record, or none.
std::optional<std::pair<std::string, std::time_t>> ReadRecord(const SystemPaths& paths) {
    std::string text, bootId, time;
    if (!ReadWholeFile(paths.finishedFlash, text)) return std::nullopt;
    std::istringstream lines(text);
    if (!std::getline(lines, bootId) || !std::getline(lines, time) || bootId.empty() || time.empty())
        return std::nullopt;
    char* end = nullptr;
    long long seconds = std::strtoll(time.c_str(), &end, 10);
    if (*end != '\0') return std::nullopt;
    return std::make_pair(bootId, static_cast<std::time_t>(seconds));
}

bool NamesPackage(const std::string& packages) {
    std::istringstream lines(packages);
    for (std::string line; std::getline(lines, line);)
        if (line == kPackageLine) return true;
    return false;
}
}  // namespace

std::string FinishedFlashText(const std::string& bootId, std::time_t time) {
    return bootId + "\n" + std::to_string(static_cast<long long>(time)) + "\n";
}

void RecordFinishedFlash(const SystemPaths& paths, std::time_t now) {
    std::string bootId = BootId(paths);
    if (bootId.empty()) return;
    auto earlier = ReadRecord(paths);
    if (!earlier || earlier->first != bootId) {
        if (!MakePrivateFolder(FolderOf(paths.finishedFlash))) return;
        ReplaceFile(paths.finishedFlash, FinishedFlashText(bootId, now));
    }
    std::string existing;
    if (!ReadWholeFile(paths.rebootRequired, existing)) ReplaceFile(paths.rebootRequired, kSignalText);
    std::string packages;
    ReadWholeFile(paths.rebootRequiredPackages, packages);
    if (!NamesPackage(packages)) {
        if (!packages.empty() && packages.back() != '\n') packages += '\n';
        ReplaceFile(paths.rebootRequiredPackages, packages + kPackageLine + "\n");
    }
}

std::optional<std::time_t> FinishedFlashThisBoot(const SystemPaths& paths) {
    auto record = ReadRecord(paths);
    std::string bootId = BootId(paths);
    if (!record || bootId.empty() || record->first != bootId) return std::nullopt;
    return record->second;
}

}  // namespace hbafw
