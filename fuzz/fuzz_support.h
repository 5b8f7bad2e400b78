// Shared pieces of the parser fuzz targets: the input as text, a component
// whose log lives in a private temporary folder, and an invariant check that
// aborts so libFuzzer records the input. It starts no tool and no server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/records.h"
#include "inventory/adapter_record.h"
#include "inventory/system_paths.h"
#include "tests/framework/temp_dir.h"

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace hbafw::fuzz {

inline std::string Text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A private folder for the whole process, removed when it ends normally.
inline const testing::TempDir& ScratchDir() {
    static const testing::TempDir dir;
    return dir;
}

// One quiet component per process; its log is a file in the scratch folder.
template <class Component>
Component& QuietComponent() {
    static Component component([] {
        SystemPaths paths;
        paths.componentLog = ScratchDir().file("Component.log");
        return paths;
    }());
    component.log.setQuiet(true);
    return component;
}

inline ReferenceDevice CatalogueDevice(const wchar_t* deviceId, const wchar_t* bios, int biosPresent = 2) {
    ReferenceDevice device;
    device.type = L"HBA";
    device.device_id = deviceId;
    device.model = L"model";
    device.firmware = L"2.02A1";
    device.bios = bios;
    device.boot = L"3.10";
    device.duration = L"120";
    device.biosPresent = biosPresent;
    return device;
}

inline AdapterRecord Adapter(const char* pciId, const char* subsystemId, const std::string& portWwn) {
    AdapterRecord record;
    std::snprintf(record.pciId, sizeof record.pciId, "%s", pciId);
    std::snprintf(record.subsystemId, sizeof record.subsystemId, "%s", subsystemId);
    std::snprintf(record.portWwn, sizeof record.portWwn, "%s", portWwn.c_str());
    return record;
}

inline bool IsAction(const std::wstring& action) {
    return action == L"upgrade" || action == L"downgrade" || action == L"rewrite";
}

}  // namespace hbafw::fuzz
