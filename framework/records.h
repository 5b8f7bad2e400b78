// The catalogue and discovery records shared by the framework and the vendor
// components. Plain data held by value in ordered lists; no behaviour here.
#pragma once

#include <string>
#include <vector>

namespace hbafw {

struct ReferenceDevice {
    std::wstring type;
    std::wstring device_id;
    std::wstring model;
    std::wstring firmware;
    std::wstring bios;
    std::wstring boot;
    std::wstring duration;
    int biosPresent = 2;  // 0 once a bios element with an empty value was read
};

struct ReferenceCatalogue {
    std::wstring discovery_app_path;
    std::wstring installer_app_path;
    std::vector<ReferenceDevice> devices;
};

struct FirmwareItem {
    std::wstring type;
    std::wstring firmware_id;
    std::wstring version;
    std::wstring active_version;
    std::wstring action;
    std::wstring duration;
    std::wstring message;
    std::wstring shared;
};

struct DiscoveredDevice {
    std::wstring device_id;
    std::wstring product_id;
    std::wstring busnumber;
    std::wstring funcnumber;
    std::vector<FirmwareItem> fw_items;
};

struct DiscoveryResult {
    std::wstring osId;
    std::wstring type;
    std::wstring alt_name;
    std::wstring version;
    std::wstring takes_effect;
    std::vector<DiscoveredDevice> devices;
};

}  // namespace hbafw
