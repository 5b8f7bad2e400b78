// The QLogic vendor component: active boot image versions from qlafwupdate's
// query, a lenient catalogue lookup, and qlafwupdate as the flash engine.
// Adapters themselves come from the base component's enumeration.
#pragma once

#include <string>
#include <vector>

#include "framework/base_component.h"

namespace QLogicComp {

class CComponent : public hbafw::CBaseCmp {
public:
    using hbafw::CBaseCmp::CBaseCmp;
    ~CComponent() override = default;

    std::wstring NormalizeVersion(std::wstring version) override;
    void DiscoverFirmware() override;
    // Refuses a tampered qlafwupdate before its query, and makes it executable.
    int PrepareKit() override;
    int Flash() override;
    int FindReferenceDevice(std::wstring deviceId) override;

    // The reading half of DiscoverFirmware: the captured "/q" output against the
    // adapter records and the catalogue, appending to the discovery result.
    void ReadQueryOutput(const std::string& output);
};

// What the query says of one tool instance.
struct ToolInstance {
    std::wstring flashImage;
    std::string portName;
};

inline constexpr int kInstanceCount = 64;

// Reads the query's lines into the 64-entry instance table. Lines naming an
// instance outside 0..63, and lines before the first "HBA Instance" line,
// belong to no entry and are ignored.
std::vector<ToolInstance> ReadQueryInstances(const std::vector<std::string>& lines);

// The program's exit code for the tool's exit status.
int ExitCodeForToolStatus(int status);

}  // namespace QLogicComp
