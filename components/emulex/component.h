// The Emulex vendor component: discovery entirely from the flash kit's query
// output (no management layer), and the kit's script as the flash engine.
#pragma once

#include <string>

#include "framework/base_component.h"

namespace EmulexComp {

class CComponent : public hbafw::CBaseCmp {
public:
    using hbafw::CBaseCmp::CBaseCmp;
    // Removes the private folder the kit was unpacked into.
    ~CComponent() override;

    bool DiscoverAdapters() override;
    std::wstring NormalizeVersion(std::wstring version) override;
    // Unpacks the one kit of the working folder into a fresh folder of its
    // own under paths.kitFolders; anything else (no kit, two kits, a tampered kit, an unpack
    // failure, no script) is logged with its reason and fails discovery.
    int PrepareKit() override;
    int Flash() override;

    // The reading half of DiscoverAdapters: the captured "/q /sysfs" output
    // against the catalogue, appending to the discovery result.
    void ReadQueryOutput(const std::string& output);

private:
    // Empty when the kit is ready, else the reason it is not.
    std::string UnpackKit();

    std::string kitFolder_;  // kitFolders/hbafw-kit.XXXXXX once made
    std::string script_;     // its elxflashStandalone*/lx/elxflash.sh
};

inline constexpr const char* kKitPattern = "elxflashStandalone*.zip";
inline constexpr const char* kKitFailed = "FAILED!\n";
inline constexpr const char* kNoKit = "ERROR! : No Emulex kit (elxflashStandalone*.zip) in the working folder.\n";
inline constexpr const char* kSeveralKits =
    "ERROR! : More than one Emulex kit (elxflashStandalone*.zip) in the working folder.\n";
inline constexpr const char* kKitNotUnpacked = "ERROR! : The Emulex kit could not be unpacked: ";
inline constexpr const char* kKitWithoutScript = "ERROR! : The Emulex kit holds no elxflashStandalone*/lx/elxflash.sh.\n";

// Catalogue text V against active text A, compared by the digits before and the
// text after the first non-digit of each.
int SplitCompare(const std::wstring& catalogue, const std::wstring& active);

// The program's exit code for the script's exit status, logging its messages.
int ReportScriptStatus(hbafw::ComponentLog& log, int status);

// The maker's support site, named at the end of the offline-update notice.
inline constexpr const char* kSupportAddress = "https://www.broadcom.com/support";

}  // namespace EmulexComp
