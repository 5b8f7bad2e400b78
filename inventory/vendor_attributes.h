// Reading an adapter's PCI location and subsystem ids from its vendor's
// management library: through the library already serving it in the HBA API
// layer, or by loading the vendor's library and searching it by node WWN.
// Nothing here prints or logs; texts and codes go to the caller.
#pragma once

#include <cstddef>
#include <string>

#include "inventory/hba_api_types.h"
#include "inventory/system_paths.h"

namespace hbafw {

inline constexpr std::size_t kStatusTextSize = 256;
// Room the vendor search gives the vendor's name writes (a vendor writes at
// most 256 bytes; the rest is margin that stays NUL).
inline constexpr std::size_t kVendorSearchNameSize = 1024;
// The vendor search asks for at most this many adapters, so an absurd count
// can end the search but never hang it.
inline constexpr int kMaxVendorAdapters = 256;

enum VendorAttributesResult : int {
    kVendorFound = 0,
    kVendorLoadFailed = -1,
    kVendorEntryMissing = -2,
    kVendorReadFailed = -3,
    kVendorOpenFailed = -4,
    kVendorNameFailed = -5,
    kVendorNoWwnMatch = -6,
    kVendorLibraryInitFailed = -7,
};

struct PciLocation {
    HBA_UINT32 subsystemIds = 0;
    HBA_UINT8 bus = 0;
    HBA_UINT8 function = 0;
    HBA_UINT8 domain = 0;
};

// True when the serving library is the adapter vendor's management library;
// then failed tells whether VKXFC_GetAdapterAttributes2 could be resolved in it.
bool ResolveVendorAttributesEntry(const std::string& adapterName, const std::string& servingLibraryPath,
                                  void* servingLibraryHandle, char (&statusText)[kStatusTextSize], int& failed);

// 0 or -3. Fills location only when the record's node WWN equals nodeWwn.
int ReadVendorAttributes(const HBA_WWN& nodeWwn, PciLocation& location, char (&statusText)[kStatusTextSize],
                         HBA_HANDLE layerHandle);

// A result code of VendorAttributesResult. adapterName is overwritten with the
// names the vendor reports.
int FindVendorAttributes(const HBA_WWN& nodeWwn, char (&adapterName)[kVendorSearchNameSize], PciLocation& location,
                         char (&statusText)[kStatusTextSize], const SystemPaths& paths = SystemPaths{});

}  // namespace hbafw
