// The system's own SNIA HBA API layer: reads the library configuration, loads
// every listed vendor library, numbers the adapters of all libraries as one
// table and dispatches the standard calls to the library serving a handle.
// It does not interpret attributes; its tables are process-wide and unguarded
// (one thread). Names follow the standard but live in hbafw, so a vendor
// library's own exports of the same names never bind to them.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "inventory/hba_api_types.h"
#include "inventory/system_paths.h"

namespace hbafw {

// Table bounds. Configuration lines past the 32nd are not loaded; adapters past
// the 256th are not listed; adapter names are kept whole up to the 256
// characters a vendor's name buffer holds. Library names (shown only) are cut
// to 63 characters; a line whose path exceeds 255 characters is skipped, since
// a cut path would load another file.
inline constexpr std::size_t kMaxLibraries = 32;
inline constexpr std::size_t kMaxAdapters = 256;
inline constexpr std::size_t kLibraryNameSize = 64;
inline constexpr std::size_t kLibraryPathSize = 256;
inline constexpr std::size_t kAdapterNameSize = 257;
// The vendor's name buffer; the layer adds one guard byte that stays NUL.
inline constexpr std::size_t kVendorNameBufferSize = 256;
inline constexpr std::size_t kConfigLineMax = 511;

enum HbaLibraryStatus : HBA_UINT32 {
    kLibraryNeverLoaded = 0,
    kLibraryLoaded = 1,
    kLibraryNotLoaded = 2,
};

struct HbaLibraryEntry {
    char name[kLibraryNameSize];
    char path[kLibraryPathSize];
    void* handle;
    HBA_ENTRYPOINTS entryPoints;
    HBA_UINT32 status;
};

struct HbaAdapterEntry {
    char name[kAdapterNameSize];
    HBA_UINT32 slot;
};

// One usable configuration line: the library's name and its cleaned path.
struct HbaConfigLine {
    std::string name;
    std::string path;
};

// The usable lines of a configuration, in order, at most kMaxLibraries of them.
// Only reads; HBA_LoadLibrary loads what it returns.
std::vector<HbaConfigLine> ReadHbaConfig(std::istream& config);

HBA_UINT32 HBA_GetVersion();
// 0 after reading the configuration, 1 if it cannot be opened (tables untouched).
// Libraries still loaded from an earlier call are unloaded first.
HBA_STATUS HBA_LoadLibrary(const std::string& configPath = SystemPaths{}.hbaConf);
HBA_STATUS HBA_FreeLibrary();
HBA_UINT32 HBA_GetNumberOfAdapters();
HBA_STATUS HBA_GetAdapterName(HBA_UINT32 adapterIndex, std::string& adapterName);
// 0 when no listed adapter has exactly this name or its library cannot open it.
HBA_HANDLE HBA_OpenAdapter(const std::string& adapterName);
void HBA_CloseAdapter(HBA_HANDLE handle);
HBA_STATUS HBA_GetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes);
HBA_STATUS HBA_GetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_PORTATTRIBUTES* attributes);
HBA_STATUS HBA_GetPortStatistics(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_PORTSTATISTICS* statistics);
HBA_STATUS HBA_GetDiscoveredPortAttributes(HBA_HANDLE handle, HBA_UINT32 portIndex, HBA_UINT32 discoveredPortIndex,
                                           HBA_PORTATTRIBUTES* attributes);
HBA_STATUS HBA_GetPortAttributesByWWN(HBA_HANDLE handle, HBA_WWN portWwn, HBA_PORTATTRIBUTES* attributes);
HBA_STATUS HBA_SendCTPassThru(HBA_HANDLE handle, void* request, HBA_UINT32 requestSize, void* response,
                              HBA_UINT32 responseSize);
HBA_STATUS HBA_GetEventBuffer(HBA_HANDLE handle, HBA_EVENTINFO* events, HBA_UINT32* eventCount);
HBA_STATUS HBA_SetRNIDMgmtInfo(HBA_HANDLE handle, HBA_MGMTINFO* info);
HBA_STATUS HBA_GetRNIDMgmtInfo(HBA_HANDLE handle, HBA_MGMTINFO* info);
HBA_STATUS HBA_SendRNID(HBA_HANDLE handle, HBA_WWN wwn, HBA_WWNTYPE wwnType, void* response,
                        HBA_UINT32* responseSize);
void HBA_RefreshInformation(HBA_HANDLE handle);
void HBA_ResetStatistics(HBA_HANDLE handle, HBA_UINT32 portIndex);
HBA_STATUS HBA_GetFcpTargetMapping(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* mapping);
HBA_STATUS HBA_GetFcpPersistentBinding(HBA_HANDLE handle, HBA_FCPBINDING* binding);
HBA_STATUS HBA_SendScsiInquiry(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, HBA_UINT8 evpd,
                               HBA_UINT32 pageCode, void* response, HBA_UINT32 responseSize, void* sense,
                               HBA_UINT32 senseSize);
HBA_STATUS HBA_SendReportLUNs(HBA_HANDLE handle, HBA_WWN portWwn, void* response, HBA_UINT32 responseSize,
                              void* sense, HBA_UINT32 senseSize);
HBA_STATUS HBA_SendReadCapacity(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, void* response,
                                HBA_UINT32 responseSize, void* sense, HBA_UINT32 senseSize);

// The handle of the library serving the adapter, its path copied out; null and
// an empty path when the index is not below the adapter count.
void* GetAdapterLibrary(HBA_UINT32 adapterIndex, std::string& libraryPath);

// Read access to the tables, for diagnostics and tests.
const HbaLibraryEntry& HbaLibrarySlot(std::size_t slot);
// How many slots the latest HBA_LoadLibrary filled.
std::size_t HbaLibrarySlotsFilled();
const char* HbaLibraryStatusText(HBA_UINT32 status);
HBA_UINT32 HbaAdapterSlot(HBA_UINT32 adapterIndex);

}  // namespace hbafw
