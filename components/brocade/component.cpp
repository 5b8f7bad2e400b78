// Brocade discovery, flash and kernel check. Versions are read with the wide
// pattern engine; a match it gives up on counts as no match, so the text is
// kept unchanged.
#include "components/brocade/component.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <cwchar>

#include "framework/firmware_action.h"
#include "framework/flash_engine.h"
#include "framework/run_sequence.h"
#include "framework/shell_capture.h"
#include "framework/trust_refusals.h"
#include "framework/version_compare.h"
#include "pattern/pattern.h"

namespace BrocadeComp {

using namespace hbafw;

namespace {
constexpr const char* kTool = "./bcu_bootupdate";
constexpr const char* kImage = "./bfa_boot_fw";
// The last dotted quad, each number whole: "BIOS_10.1.0.0_(x86)" is 10.1.0.0.
constexpr const wchar_t* kDottedQuad = L"(?:.*\\D)?(\\d+\\.\\d+\\.\\d+\\.\\d+).*";
constexpr const wchar_t* kKernelRelease = L"(\\d+\\.\\d+\\.\\d+).*";
constexpr const char* kKernelUnreadable = "Failed to read kernel version.\n";

// The group is digits, dot, digits, dot, digits; each number is read as a
// decimal unsigned value and each dot skipped as one character.
void ReadThreeNumbers(const std::wstring& text, unsigned long (&numbers)[3]) {
    const wchar_t* p = text.c_str();
    for (unsigned long& n : numbers) {
        wchar_t* end = nullptr;
        n = std::wcstoul(p, &end, 10);
        p = *end != L'\0' ? end + 1 : end;
    }
}
}  // namespace

bool UnameRelease(std::string& release) {
    struct utsname name {};
    if (uname(&name) != 0) return false;
    release = name.release;
    return true;
}

std::wstring CComponent::NormalizeVersion(std::wstring version) {
    auto pattern = WidePattern::compile(kDottedQuad, FLAG_DOT_ALL);
    if (!pattern) return version;
    auto matcher = pattern->newMatcher(version);
    if (!matcher->matches()) return version;
    return matcher->group(1);
}

void CComponent::DiscoverFirmware() {
    for (const AdapterRecord& adapter : adapters) {
        std::wstring identifier = DeviceIdentifier(adapter);
        int index = FindReferenceDevice(identifier);
        if (index < 0) continue;
        const ReferenceDevice& reference = catalogue.devices[index];
        FirmwareItem item;
        item.type = L"Boot BIOS ROM";
        item.version = reference.bios;
        item.active_version = NormalizeVersion(WidenText(adapter.optionRomVersion));
        item.action = ActionFromComparison(CompareVersionTexts(item.version, item.active_version));
        item.duration = reference.duration;
        item.shared = L"no";

        DiscoveredDevice device;
        device.device_id = identifier;
        device.product_id = reference.model;
        device.fw_items.push_back(item);
        result.devices.push_back(device);
    }
}

int CComponent::Flash() {
    const std::vector<std::string> program = {kTool, "boot", "--update", "bfa_boot_fw", "-a"};
    // The image is judged before the tool is made executable: a refusal changes nothing.
    if (RefuseUnsafeImage(log, kImage) || RefuseUnsafeTool(log, kTool)) return kExitFailure;
    EngineOutcome outcome = RunFlashEngine(log, runLock, JoinWords(program), program);
    return outcome.end == EngineOutcome::End::Exited && outcome.value == 0 ? kExitSuccess : kExitFailure;
}

bool CComponent::CheckKernelVersion() {
    auto pattern = WidePattern::compile(kKernelRelease, FLAG_DOT_ALL);
    std::string release;
    if (!kernelRelease_ || !kernelRelease_(release)) {
        log.Write(kKernelUnreadable);
        return false;
    }
    std::wstring wide = WidenText(release.c_str());
    auto matcher = pattern ? pattern->newMatcher(wide) : nullptr;
    if (!matcher || !matcher->matches()) {
        log.Write("uname -r: ").Write(wide).Write(" is not in a proper format.\n");
        return false;
    }
    unsigned long numbers[3] = {};
    ReadThreeNumbers(matcher->group(1), numbers);
    const unsigned long major = numbers[0], minor = numbers[1], patch = numbers[2];
    log.Write("Kernel : ").Write(std::to_string(major)).Write("  ").Write("major : ").Write(std::to_string(minor));
    log.Write("  ").Write("minor : ").Write(std::to_string(patch)).Write("\n");
    if (major > 2) return true;
    if (major == 2) return minor > 6 || (minor == 6 && patch >= 32);
    return false;
}

}  // namespace BrocadeComp
