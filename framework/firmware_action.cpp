#include "framework/firmware_action.h"

namespace hbafw {

std::wstring ActionFromComparison(int comparison) {
    if (comparison == 1) return kActionUpgrade;
    if (comparison == 0) return kActionRewrite;
    return kActionDowngrade;
}

int ActionSummary(const DiscoveryResult& result) {
    int flags = 0;
    for (const DiscoveredDevice& device : result.devices) {
        for (const FirmwareItem& item : device.fw_items) {
            if (item.action == kActionUpgrade) flags |= 1;
            if (item.action == kActionRewrite) flags |= 2;
            if (item.action == kActionDowngrade) flags |= 4;
        }
    }
    if (flags & 1) return 1;
    if (flags & 4) return 4;
    if (flags & 2) return 2;
    return 0;
}

}  // namespace hbafw
