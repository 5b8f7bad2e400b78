// Configuration reading, library loading and dispatch of the HBA API layer.
// Vendor code is entered only through the entry-point tables the libraries
// register; nothing here reads past a vendor-written buffer.
#include "inventory/hba_api.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <type_traits>

#include "inventory/file_trust.h"

namespace hbafw {

namespace {

constexpr HBA_UINT32 kVendorHandleMask = 0xFFFF;
constexpr int kSlotShift = 16;

HbaLibraryEntry gLibraries[kMaxLibraries];
HbaAdapterEntry gAdapters[kMaxAdapters];
HBA_UINT32 gAdapterCount = 0;
std::size_t gSlotsFilled = 0;

void CopyBounded(char* target, std::size_t targetSize, std::string_view text) {
    std::size_t n = text.size() < targetSize - 1 ? text.size() : targetSize - 1;
    std::memcpy(target, text.data(), n);
    std::memset(target + n, 0, targetSize - n);
}

bool IsPathCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.' || c == '/';
}

struct ConfigLine {
    std::string_view name;
    std::string_view path;
};

// False for lines that take no slot.
bool ParseConfigLine(std::string_view line, ConfigLine& parsed) {
    if (line.empty() || line[0] == '\n' || line[0] == '#') return false;
    line = line.substr(0, line.find('\n'));
    std::size_t split = line.find('\t');
    if (split == std::string_view::npos) split = line.find(' ');
    if (split == std::string_view::npos) return false;
    parsed.name = line.substr(0, split);
    std::size_t pathStart = line.find_first_not_of(" \t", split);
    parsed.path = pathStart == std::string_view::npos ? std::string_view() : line.substr(pathStart);
    if (parsed.name.empty() || parsed.path.empty()) return false;
    std::size_t pathEnd = 0;
    while (pathEnd < parsed.path.size() && IsPathCharacter(parsed.path[pathEnd])) ++pathEnd;
    parsed.path = parsed.path.substr(0, pathEnd);
    // An empty path would make dlopen hand back the program itself.
    return !parsed.path.empty() && parsed.path.size() < kLibraryPathSize;
}

void LoadSlot(HbaLibraryEntry& library, const HbaConfigLine& line) {
    CopyBounded(library.name, sizeof library.name, line.name);
    CopyBounded(library.path, sizeof library.path, line.path);
    std::memset(&library.entryPoints, 0, sizeof library.entryPoints);
    library.handle = OpenTrustedLibrary(library.path);
    if (library.handle == nullptr) return;
    auto registerLibrary = reinterpret_cast<HBARegisterLibraryFunc>(::dlsym(library.handle, "HBA_RegisterLibrary"));
    if (registerLibrary != nullptr) {
        const HBA_ENTRYPOINTS& entries = library.entryPoints;
        if (registerLibrary(&library.entryPoints) != HBA_STATUS_OK) {
            library.status = kLibraryNotLoaded;
        } else if (entries.GetVersionHandler != nullptr) {
            if (entries.GetVersionHandler() == 0)
                library.status = kLibraryNotLoaded;
            else if (entries.LoadLibraryHandler != nullptr)
                library.status = entries.LoadLibraryHandler() == HBA_STATUS_OK ? kLibraryLoaded : kLibraryNotLoaded;
        }
    }
    // Only loaded slots are ever unloaded, so a library that did not come up is
    // closed now rather than left open for the rest of the process.
    if (library.status != kLibraryLoaded) {
        ::dlclose(library.handle);
        library.handle = nullptr;
    }
}

template <typename Entry, typename... Args>
HBA_STATUS Dispatch(HBA_HANDLE handle, Entry HBA_ENTRYPOINTS::*member, Args... args) {
    HBA_UINT32 slot = handle >> kSlotShift;
    if (slot >= kMaxLibraries) return HBA_STATUS_ERROR_INVALID_HANDLE;
    const HbaLibraryEntry& library = gLibraries[slot];
    if (library.status != kLibraryLoaded) return HBA_STATUS_ERROR;
    Entry entry = library.entryPoints.*member;
    if (entry == nullptr) return HBA_STATUS_ERROR_NOT_SUPPORTED;
    HBA_HANDLE vendorHandle = handle & kVendorHandleMask;
    if constexpr (std::is_void_v<decltype(entry(vendorHandle, args...))>) {
        entry(vendorHandle, args...);
        return HBA_STATUS_OK;
    } else {
        return entry(vendorHandle, args...);
    }
}

}  // namespace

HBA_UINT32 HBA_GetVersion() { return 1; }

std::vector<HbaConfigLine> ReadHbaConfig(std::istream& config) {
    std::vector<HbaConfigLine> lines;
    std::string line;
    while (lines.size() < kMaxLibraries && std::getline(config, line)) {
        // An overlong line is cut, never read on as a second line.
        if (line.size() > kConfigLineMax) line.resize(kConfigLineMax);
        line.push_back('\n');
        ConfigLine parsed;
        if (!ParseConfigLine(line, parsed)) continue;
        lines.push_back({std::string(parsed.name), std::string(parsed.path)});
    }
    return lines;
}

HBA_STATUS HBA_LoadLibrary(const std::string& configPath) {
    std::ifstream config(configPath);
    if (!config.is_open()) return HBA_STATUS_ERROR;
    HBA_FreeLibrary();
    std::vector<HbaConfigLine> lines = ReadHbaConfig(config);
    for (std::size_t slot = 0; slot < lines.size(); ++slot) LoadSlot(gLibraries[slot], lines[slot]);
    gSlotsFilled = lines.size();
    return HBA_STATUS_OK;
}

HBA_STATUS HBA_FreeLibrary() {
    for (HbaLibraryEntry& library : gLibraries) {
        if (library.status != kLibraryLoaded) continue;
        if (library.entryPoints.FreeLibraryHandler != nullptr) library.entryPoints.FreeLibraryHandler();
        ::dlclose(library.handle);
        library.handle = nullptr;
        library.status = kLibraryNotLoaded;
    }
    return HBA_STATUS_OK;
}

HBA_UINT32 HBA_GetNumberOfAdapters() {
    gAdapterCount = 0;
    for (HBA_UINT32 slot = 0; slot < kMaxLibraries; ++slot) {
        const HbaLibraryEntry& library = gLibraries[slot];
        const HBA_ENTRYPOINTS& entries = library.entryPoints;
        if (library.status != kLibraryLoaded || entries.GetNumberOfAdaptersHandler == nullptr) continue;
        HBA_UINT32 count = entries.GetNumberOfAdaptersHandler();
        if (entries.GetAdapterNameHandler == nullptr) continue;
        // The table bound also bounds the walk over an absurd vendor count.
        for (HBA_UINT32 index = 0; index < count && gAdapterCount < kMaxAdapters; ++index) {
            HbaAdapterEntry& adapter = gAdapters[gAdapterCount++];
            std::memset(adapter.name, 0, sizeof adapter.name);
            static_assert(sizeof adapter.name > kVendorNameBufferSize);
            entries.GetAdapterNameHandler(index, adapter.name);
            adapter.name[kVendorNameBufferSize] = '\0';
            adapter.slot = slot;
        }
    }
    return gAdapterCount;
}

HBA_STATUS HBA_GetAdapterName(HBA_UINT32 adapterIndex, std::string& adapterName) {
    if (adapterIndex >= gAdapterCount) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
    adapterName = gAdapters[adapterIndex].name;
    return HBA_STATUS_OK;
}

HBA_HANDLE HBA_OpenAdapter(const std::string& adapterName) {
    for (HBA_UINT32 index = 0; index < gAdapterCount; ++index) {
        HbaAdapterEntry& adapter = gAdapters[index];
        if (adapterName != adapter.name) continue;
        const HbaLibraryEntry& library = gLibraries[adapter.slot];
        if (library.status != kLibraryLoaded || library.entryPoints.OpenAdapterHandler == nullptr) return 0;
        char name[kAdapterNameSize];
        CopyBounded(name, sizeof name, adapterName);
        HBA_HANDLE vendorHandle = library.entryPoints.OpenAdapterHandler(name);
        // The vendor's 0 is its failure; packing it would hide that for slots above 0.
        if (vendorHandle == 0) return 0;
        return (adapter.slot << kSlotShift) | (vendorHandle & kVendorHandleMask);
    }
    return 0;
}

void HBA_CloseAdapter(HBA_HANDLE handle) { Dispatch(handle, &HBA_ENTRYPOINTS::CloseAdapterHandler); }

HBA_STATUS HBA_GetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetAdapterAttributesHandler, attributes);
}

HBA_STATUS HBA_GetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_PORTATTRIBUTES* attributes) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetAdapterPortAttributesHandler, portIndex, attributes);
}

HBA_STATUS HBA_GetPortStatistics(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_PORTSTATISTICS* statistics) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetPortStatisticsHandler, portIndex, statistics);
}

HBA_STATUS HBA_GetDiscoveredPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_UINT32 discoveredPortIndex,
                                           HBA_PORTATTRIBUTES* attributes) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetDiscoveredPortAttributesHandler, portIndex, discoveredPortIndex,
                    attributes);
}

HBA_STATUS HBA_GetPortAttributesByWWN(HBA_HANDLE handle, HBA_WWN portWwn, HBA_PORTATTRIBUTES* attributes) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetPortAttributesByWWNHandler, portWwn, attributes);
}

HBA_STATUS HBA_SendCTPassThru(HBA_HANDLE handle, void* request, HBA_UINT32 requestSize, void* response,
                              HBA_UINT32 responseSize) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::SendCTPassThruHandler, request, requestSize, response, responseSize);
}

HBA_STATUS HBA_GetEventBuffer(HBA_HANDLE handle, HBA_EVENTINFO* events, HBA_UINT32* eventCount) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetEventBufferHandler, events, eventCount);
}

HBA_STATUS HBA_SetRNIDMgmtInfo(HBA_HANDLE handle, HBA_MGMTINFO* info) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::SetRNIDMgmtInfoHandler, info);
}

HBA_STATUS HBA_GetRNIDMgmtInfo(HBA_HANDLE handle, HBA_MGMTINFO* info) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetRNIDMgmtInfoHandler, info);
}

HBA_STATUS HBA_SendRNID(HBA_HANDLE handle, HBA_WWN wwn, HBA_WWNTYPE wwnType, void* response,
                        HBA_UINT32* responseSize) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::SendRNIDHandler, wwn, wwnType, response, responseSize);
}

void HBA_RefreshInformation(HBA_HANDLE handle) { Dispatch(handle, &HBA_ENTRYPOINTS::RefreshInformationHandler); }

void HBA_ResetStatistics(HBA_HANDLE handle, HBA_UINT32 portIndex) {
    Dispatch(handle, &HBA_ENTRYPOINTS::ResetStatisticsHandler, portIndex);
}

HBA_STATUS HBA_GetFcpTargetMapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* mapping) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetFcpTargetMappingHandler, mapping);
}

HBA_STATUS HBA_GetFcpPersistentBinding(HBA_HANDLE handle, HBA_FCPBINDING* binding) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::GetFcpPersistentBindingHandler, binding);
}

HBA_STATUS HBA_SendScsiInquiry(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, HBA_UINT8 evpd,
                               HBA_UINT32 pageCode, void* response, HBA_UINT32 responseSize, void* sense,
                               HBA_UINT32 senseSize) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::ScsiInquiryHandler, portWwn, fcLun, evpd, pageCode, response,
                    responseSize, sense, senseSize);
}

HBA_STATUS HBA_SendReportLUNs(HBA_HANDLE handle, HBA_WWN portWwn, void* response, HBA_UINT32 responseSize,
                              void* sense, HBA_UINT32 senseSize) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::ReportLUNsHandler, portWwn, response, responseSize, sense, senseSize);
}

HBA_STATUS HBA_SendReadCapacity(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, void* response,
                                HBA_UINT32 responseSize, void* sense, HBA_UINT32 senseSize) {
    return Dispatch(handle, &HBA_ENTRYPOINTS::ReadCapacityHandler, portWwn, fcLun, response, responseSize, sense,
                    senseSize);
}

void* GetAdapterLibrary(HBA_UINT32 adapterIndex, std::string& libraryPath) {
    libraryPath.clear();
    if (adapterIndex >= gAdapterCount) return nullptr;
    const HbaLibraryEntry& library = gLibraries[gAdapters[adapterIndex].slot];
    libraryPath = library.path;
    return library.handle;
}

const HbaLibraryEntry& HbaLibrarySlot(std::size_t slot) { return gLibraries[slot < kMaxLibraries ? slot : 0]; }

std::size_t HbaLibrarySlotsFilled() { return gSlotsFilled; }

const char* HbaLibraryStatusText(HBA_UINT32 status) {
    switch (status) {
        case kLibraryNeverLoaded: return "never loaded";
        case kLibraryLoaded: return "loaded";
        case kLibraryNotLoaded: return "not loaded";
        default: return "unknown";
    }
}

HBA_UINT32 HbaAdapterSlot(HBA_UINT32 adapterIndex) {
    return adapterIndex < gAdapterCount ? gAdapters[adapterIndex].slot : kMaxLibraries;
}

}  // namespace hbafw
