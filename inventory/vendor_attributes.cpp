// The three vendor attribute routines. Every path that opens a vendor library
// closes it again; the only state kept is the entry point the latest
// resolution found in a library the HBA API layer holds open.
#include "inventory/vendor_attributes.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "inventory/file_trust.h"

namespace hbafw {

namespace {

constexpr HBA_UINT32 kVendorHandleMask = 0xFFFF;

VKXFCGetAdapterAttributes2Func gRememberedAttributesEntry = nullptr;

struct VendorChoice {
    const char* fileName;
    const char* loadFailure;
    std::vector<std::string> SystemPaths::*libraries;
};

// The vendor is told by the adapter name alone, case as written.
VendorChoice ChooseVendor(const char* adapterName) {
    if (std::strstr(adapterName, "qlogic") != nullptr)
        return {"libqlsdm", "unable to load qlsdm", &SystemPaths::qlogicLibraries};
    if (std::strstr(adapterName, "Emulex") != nullptr)
        return {"libemsdm", "unable to load emsdm", &SystemPaths::emulexLibraries};
    return {"bfahbaapi", "unable to load bfahbaapi", &SystemPaths::brocadeLibraries};
}

void SetText(char (&statusText)[kStatusTextSize], const char* text) {
    std::snprintf(statusText, kStatusTextSize, "%s", text);
}

bool SameWwn(const HBA_WWN& a, const HBA_WWN& b) { return std::memcmp(a.wwn, b.wwn, sizeof a.wwn) == 0; }

void CopyLocation(const VendorAdapterAttributes& record, PciLocation& location) {
    location.subsystemIds = record.subsystemIds;
    location.bus = record.pciBus;
    location.function = record.pciFunction;
    location.domain = record.pciDomain;
}

struct VendorEntries {
    VKXFCLoadLibraryFunc load;
    VKXFCGetNumberOfAdaptersFunc count;
    VKXFCGetAdapterNameFunc name;
    VKXFCOpenAdapterFunc open;
    VKXFCGetAdapterAttributes2Func attributes;
    VKXFCCloseAdapterFunc close;
    VKXFCFreeLibraryFunc free;
};

// The first missing entry's name, or null when all seven were found.
const char* ResolveVendorEntries(void* library, VendorEntries& entries) {
    struct Lookup {
        const char* name;
        void** target;
    };
    const Lookup lookups[] = {
        {"VKXFC_LoadLibrary", reinterpret_cast<void**>(&entries.load)},
        {"VKXFC_GetNumberOfAdapters", reinterpret_cast<void**>(&entries.count)},
        {"VKXFC_GetAdapterName", reinterpret_cast<void**>(&entries.name)},
        {"VKXFC_OpenAdapter", reinterpret_cast<void**>(&entries.open)},
        {"VKXFC_GetAdapterAttributes2", reinterpret_cast<void**>(&entries.attributes)},
        {"VKXFC_CloseAdapter", reinterpret_cast<void**>(&entries.close)},
        {"VKXFC_FreeLibrary", reinterpret_cast<void**>(&entries.free)},
    };
    for (const Lookup& lookup : lookups) {
        *lookup.target = ::dlsym(library, lookup.name);
        if (*lookup.target == nullptr) return lookup.name;
    }
    return nullptr;
}

int SearchAdapters(const VendorEntries& entries, const HBA_WWN& nodeWwn,
                   char (&adapterName)[kVendorSearchNameSize], PciLocation& location,
                   char (&statusText)[kStatusTextSize]) {
    int count = entries.count();
    if (count > kMaxVendorAdapters) count = kMaxVendorAdapters;
    for (int index = 0; index < count; ++index) {
        std::memset(adapterName, 0, sizeof adapterName);
        if (entries.name(static_cast<HBA_UINT32>(index), adapterName) != 0) {
            SetText(statusText, "fail to get adapter number");
            return kVendorNameFailed;
        }
        adapterName[kVendorSearchNameSize - 1] = '\0';
        HBA_HANDLE handle = entries.open(adapterName);
        if (handle == 0) {
            SetText(statusText, "fail to open adapter");
            return kVendorOpenFailed;
        }
        VendorAdapterAttributes record{};
        HBA_UINT32 status = entries.attributes(handle, &record);
        if (status != 0) {
            std::snprintf(statusText, kStatusTextSize,
                          "fail to read adapter attribs, adapterHandle 0x%x, retStatus 0x%x", handle, status);
            entries.close(handle);
            return kVendorReadFailed;
        }
        entries.close(handle);
        if (SameWwn(record.standard.NodeWWN, nodeWwn)) {
            CopyLocation(record, location);
            return kVendorFound;
        }
    }
    SetText(statusText, "could not find WWNN match");
    return kVendorNoWwnMatch;
}

}  // namespace

bool ResolveVendorAttributesEntry(const std::string& adapterName, const std::string& servingLibraryPath,
                                  void* servingLibraryHandle, char (&statusText)[kStatusTextSize], int& failed) {
    VendorChoice vendor = ChooseVendor(adapterName.c_str());
    if (servingLibraryPath.find(vendor.fileName) == std::string::npos) return false;
    if (servingLibraryHandle == nullptr) {
        failed = 1;
        SetText(statusText, "libHandle is NULL; cannot dlsym");
        return true;
    }
    gRememberedAttributesEntry =
        reinterpret_cast<VKXFCGetAdapterAttributes2Func>(::dlsym(servingLibraryHandle, "VKXFC_GetAdapterAttributes2"));
    if (gRememberedAttributesEntry != nullptr) {
        failed = 0;
        SetText(statusText, "dlsym for VKXFC_GetAdapterAttributes2 success!");
    } else {
        failed = 1;
        SetText(statusText, "unable to dlsym for VKXFC_GetAdapterAttributes2");
    }
    return true;
}

int ReadVendorAttributes(const HBA_WWN& nodeWwn, PciLocation& location, char (&statusText)[kStatusTextSize],
                         HBA_HANDLE layerHandle) {
    HBA_HANDLE vendorHandle = layerHandle & kVendorHandleMask;
    // A caller that went on after a failed resolution gets -3, not a call through null.
    if (gRememberedAttributesEntry == nullptr) {
        std::snprintf(statusText, kStatusTextSize,
                      "fail to read adapter attribs: handle used is 0x%x: retStatus is 0x%x", vendorHandle, 1u);
        return kVendorReadFailed;
    }
    VendorAdapterAttributes record{};
    HBA_UINT32 status = gRememberedAttributesEntry(vendorHandle, &record);
    if (status != 0) {
        std::snprintf(statusText, kStatusTextSize,
                      "fail to read adapter attribs: handle used is 0x%x: retStatus is 0x%x", vendorHandle, status);
        return kVendorReadFailed;
    }
    if (SameWwn(record.standard.NodeWWN, nodeWwn)) {
        CopyLocation(record, location);
        std::snprintf(statusText, kStatusTextSize, "read adapter attribs Success! handle used is 0x%x", vendorHandle);
    }
    return kVendorFound;
}

int FindVendorAttributes(const HBA_WWN& nodeWwn, char (&adapterName)[kVendorSearchNameSize], PciLocation& location,
                         char (&statusText)[kStatusTextSize], const SystemPaths& paths) {
    SetText(statusText, "pass");
    adapterName[kVendorSearchNameSize - 1] = '\0';
    VendorChoice vendor = ChooseVendor(adapterName);
    void* library = nullptr;
    for (const std::string& path : paths.*vendor.libraries) {
        library = OpenTrustedLibrary(path);
        if (library != nullptr) break;
    }
    if (library == nullptr) {
        SetText(statusText, vendor.loadFailure);
        return kVendorLoadFailed;
    }
    VendorEntries entries{};
    if (const char* missing = ResolveVendorEntries(library, entries)) {
        std::snprintf(statusText, kStatusTextSize, "unable to dlsym for %s", missing);
        ::dlclose(library);
        return kVendorEntryMissing;
    }
    if (entries.load() != 0) {
        SetText(statusText, "fail to load library");
        ::dlclose(library);
        return kVendorLibraryInitFailed;
    }
    int result = SearchAdapters(entries, nodeWwn, adapterName, location, statusText);
    entries.free();
    ::dlclose(library);
    return result;
}

}  // namespace hbafw
