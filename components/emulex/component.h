// The Emulex vendor component: discovery entirely from the flash kit's query
// output (no management layer), and the kit's script as the flash engine.
#pragma once

#include <string>

#include "framework/base_component.h"

namespace EmulexComp {

class CComponent : public hbafw::CBaseCmp {
public:
    using hbafw::CBaseCmp::CBaseCmp;
    ~CComponent() override = default;

    bool DiscoverAdapters() override;
    std::wstring NormalizeVersion(std::wstring version) override;
    int PrepareKit() override;
    int Flash() override;

    // The reading half of DiscoverAdapters: the captured "/q /sysfs" output
    // against the catalogue, appending to the discovery result.
    void ReadQueryOutput(const std::string& output);
};

// Catalogue text V against active text A, compared by the digits before and the
// text after the first non-digit of each.
int SplitCompare(const std::wstring& catalogue, const std::wstring& active);

// The program's exit code for the script's exit status, logging its messages.
int ReportScriptStatus(hbafw::ComponentLog& log, int status);

// The maker's support site, named at the end of the offline-update notice.
inline constexpr const char* kSupportAddress = "https://www.broadcom.com/support";

}  // namespace EmulexComp
