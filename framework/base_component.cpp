// Base behaviour of the component's virtual operations.
#include "framework/base_component.h"

#include <wchar.h>

#include "framework/discovery_report.h"
#include "framework/trust_refusals.h"
#include "inventory/adapter_enumeration.h"

namespace hbafw {

inline constexpr std::string_view kNoAdapters = "WARNING! : No supported adapters found.\n";

CBaseCmp::CBaseCmp(const SystemPaths& systemPaths) : paths(systemPaths), log(systemPaths.componentLog) {}

CBaseCmp::~CBaseCmp() = default;

bool CBaseCmp::DiscoverAdapters() {
    EnumerateAdapters(adapters, paths);
    LogRefusedLibraries(log);
    if (adapters.empty()) {
        log.Write(kNoAdapters);
        return false;
    }
    result.type = catalogue.devices.empty() ? std::wstring() : catalogue.devices.front().type;
    result.alt_name.clear();
    result.version.clear();
    result.takes_effect.clear();
    // A vendor whose tool is refused (tampered with) discovers nothing.
    if (PrepareKit() != 0) return false;
    DiscoverFirmware();
    return true;
}

std::wstring CBaseCmp::NormalizeVersion(std::wstring version) { return version; }

void CBaseCmp::DiscoverFirmware() {}

int CBaseCmp::PrepareKit() { return 0; }

int CBaseCmp::Flash() { return 0; }

bool CBaseCmp::WriteDiscoveryXml() { return WriteDiscoveryReport(result, discoveryXmlPath); }

int CBaseCmp::FindReferenceDevice(std::wstring deviceId) {
    for (std::size_t i = 0; i < catalogue.devices.size(); ++i)
        if (::wcscasecmp(deviceId.c_str(), catalogue.devices[i].device_id.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

}  // namespace hbafw
