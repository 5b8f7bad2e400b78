// Every message of the run goes through the component log; each outcome ends
// in an exit code.
#include "framework/run_sequence.h"

#include <ctime>
#include <string_view>

#include "framework/finished_flash.h"
#include "framework/firmware_action.h"
#include "framework/platform_detection.h"
#include "framework/reference_catalogue.h"

namespace hbafw {

namespace {
constexpr std::string_view kRule = "---------------------------------------------------\n";
constexpr std::string_view kLoading = "Loading references...";
constexpr std::string_view kFailed = "FAILED!\n";
constexpr std::string_view kDone = "done.\n";
constexpr std::string_view kDiscovering = "Performing discovery...\n";
constexpr std::string_view kGenerating = "Generating self-discovery XML...";
constexpr std::string_view kNothingDone = "NOTICE : No operation was done.\n";
constexpr std::string_view kNoHardware = "ERROR! : No supported hardware was found.\n";
constexpr std::string_view kFlashing = "Performing flash -- DO NOT INTERRUPT!\n";
constexpr std::string_view kFlashComplete = "Flash complete [";
}  // namespace

int Run(CBaseCmp& component) {
    ComponentLog& log = component.log;
    log.Write(kRule);
    log.Write(kLoading);
    if (!LoadCatalogue(component.catalogue)) {
        log.Write(kFailed);
        return kExitFailure;
    }
    log.Write(kDone);
    log.Write(kDiscovering);
    DetectOperatingSystem(component);
    if (!component.DiscoverAdapters()) return kExitFailure;

    if (component.selfDiscovery) {
        log.Write(kGenerating);
        if (!component.WriteDiscoveryXml()) log.Write(kFailed);
        log.Write(kDone);
        return kExitNothingDone;
    }

    if (ActionSummary(component.result) != 1 && !component.force) {
        log.Write(kNothingDone);
        return kExitNothingDone;
    }
    if (component.result.devices.empty()) {
        log.Write(kNoHardware);
        return kExitNothingDone;
    }
    log.Write(kFlashing);
    int rc = component.Flash();
    // Before the last line: a caller that stops reading at it finds the record.
    if (rc == kExitSuccess) RecordFinishedFlash(component.paths, std::time(nullptr));
    log.Write(kFlashComplete).Write(rc).Write("]\n");
    return rc;
}

}  // namespace hbafw
