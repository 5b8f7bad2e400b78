// QLogic discovery and flash. Tool lines are read with the system's pattern
// engine; a line the engine gives up on counts as a line that did not match.
#include "components/qlogic/component.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "framework/file_io.h"

#include "framework/firmware_action.h"
#include "framework/flash_engine.h"
#include "framework/run_sequence.h"
#include "framework/shell_capture.h"
#include "framework/tool_output.h"
#include "framework/trust_refusals.h"
#include "framework/version_compare.h"
#include "pattern/pattern.h"

namespace QLogicComp {

using namespace hbafw;

namespace {

constexpr const char* kTool = "./qlafwupdate";
constexpr const char* kQueryCommand = "./qlafwupdate /q";
constexpr const wchar_t* kItemType = L"Multiboot Image";
constexpr int kLinesPerInstance = 5;

constexpr const char* kInstancePattern = "HBA Instance.*: (.+).*";
constexpr const char* kFlashImagePattern = "Flash Image.*: (.+).*";
constexpr const char* kPortNamePattern = "Port Name.*: (.+).*";

// Group 1 of a whole-line match, or false.
bool MatchLine(const Pattern& pattern, const std::string& line, std::string& group1) {
    std::vector<std::string> groups;
    if (!MatchWholeLine(pattern, line, groups)) return false;
    group1 = groups.empty() ? std::string() : groups[0];
    return true;
}

// atoi's reading, but saturating instead of overflowing; -1 for anything
// outside the table.
int InstanceNumber(const std::string& text) {
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < 0 || value >= kInstanceCount) return -1;
    return static_cast<int>(value);
}

std::string PortNameFromTool(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c == '-') c = ':';
    }
    return name;
}

}  // namespace

std::vector<ToolInstance> ReadQueryInstances(const std::vector<std::string>& lines) {
    std::vector<ToolInstance> instances(kInstanceCount);
    auto instance = Pattern::compile(kInstancePattern, FLAG_DOT_ALL);
    auto flashImage = Pattern::compile(kFlashImagePattern, FLAG_DOT_ALL);
    auto portName = Pattern::compile(kPortNamePattern, FLAG_DOT_ALL);
    if (!instance || !flashImage || !portName) return instances;

    int current = -1;
    std::string value;
    for (const std::string& line : lines) {
        if (MatchLine(*instance, line, value)) current = InstanceNumber(value);
        if (MatchLine(*flashImage, line, value) && current >= 0)
            instances[current].flashImage = WidenText(value.c_str());
        if (MatchLine(*portName, line, value) && current >= 0) instances[current].portName = PortNameFromTool(value);
    }
    return instances;
}

int ExitCodeForToolStatus(int status) {
    switch (status) {
        case 0:
        case 201:
        case 255:
            return 1;
        case 1:
            return 3;
        case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 10: case 14: case 16: case 17:
            return 7;
        default:
            return status;
    }
}

std::wstring CComponent::NormalizeVersion(std::wstring version) {
    std::size_t blank = version.find(L' ');
    if (blank != std::wstring::npos) version.erase(blank);
    std::size_t mark = version.find(L"v.");
    if (mark != std::wstring::npos) version.erase(mark, 2);
    return version;
}

int CComponent::PrepareKit() { return RefuseUnsafeTool(log, kTool) ? kExitFailure : 0; }

void CComponent::DiscoverFirmware() {
    toolAnswer = RunAndCapture(kQueryCommand);
    ReadQueryOutput(toolAnswer);
}

void CComponent::ReadQueryOutput(const std::string& output) {
    std::vector<std::string> lines = SplitLines(output);
    std::vector<ToolInstance> instances = ReadQueryInstances(lines);
    std::size_t scanned = std::min<std::size_t>(lines.size() / kLinesPerInstance, kInstanceCount);

    for (const AdapterRecord& adapter : adapters) {
        int index = FindReferenceDevice(DeviceIdentifier(adapter));
        if (index < 0) continue;
        const ReferenceDevice& reference = catalogue.devices[index];
        FirmwareItem item;
        item.type = kItemType;
        item.version = reference.boot;
        item.duration = reference.duration;
        item.shared = L"no";
        for (std::size_t k = 0; k < scanned; ++k)
            if (instances[k].portName == adapter.portWwn) item.active_version = instances[k].flashImage;
        item.action = ActionFromComparison(CompareVersionTexts(item.version, item.active_version));

        DiscoveredDevice device;
        device.device_id = reference.device_id;
        device.product_id = reference.model;
        device.fw_items.push_back(item);
        result.devices.push_back(device);
    }
}

int CComponent::FindReferenceDevice(std::wstring deviceId) {
    int index = CBaseCmp::FindReferenceDevice(deviceId);
    if (index != -1) return index;
    std::wstring wanted = UpperCase(deviceId);
    for (std::size_t i = 0; i < catalogue.devices.size(); ++i)
        if (UpperCase(catalogue.devices[i].device_id).find(wanted) != std::wstring::npos) return static_cast<int>(i);
    return -1;
}

int CComponent::Flash() {
    std::vector<std::string> program = {kTool};
    if (silent) program.push_back("/s");
    if (force) program.push_back("/f");
    if (RefuseUnsafeTool(log, kTool)) return kExitFailure;
    EngineOutcome outcome = RunFlashEngine(log, runLock, JoinWords(program), program);
    if (outcome.end != EngineOutcome::End::Exited) return kExitFailure;
    return ExitCodeForToolStatus(outcome.value);
}

}  // namespace QLogicComp
