// Refresh of an adapter through the HBA API layer and its PCI location read
// through the vendor management library.
#include "inventory/fc_hba_adapter.h"

#include "inventory/attribute_text.h"
#include "inventory/hba_api.h"
#include "inventory/vendor_attributes.h"

namespace hbafw {

namespace {

class LockHeld {
public:
    explicit LockHeld(pthread_mutex_t& mutex) : mutex_(mutex) { pthread_mutex_lock(&mutex_); }
    ~LockHeld() { pthread_mutex_unlock(&mutex_); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    pthread_mutex_t& mutex_;
};

}  // namespace

FcHbaAdapter::FcHbaAdapter(HBA_UINT32 index, const SystemPaths& systemPaths)
    : adapterIndex(index), paths(systemPaths) {
    pthread_mutex_init(&lock, nullptr);
}

FcHbaAdapter::~FcHbaAdapter() {
    HBA_FreeLibrary();
    pthread_mutex_destroy(&lock);
}

std::string FcHbaAdapter::GetNodeWWNText() const { return FormatWwn(NodeWWN.wwn); }

void FcHbaAdapter::CopyAttributes(HBA_ADAPTERATTRIBUTES& attributes) {
    NormalizeAttributeText(attributes.SerialNumber, sizeof attributes.SerialNumber);
    NormalizeAttributeText(attributes.ModelDescription, sizeof attributes.ModelDescription);
    NormalizeAttributeText(attributes.Manufacturer, sizeof attributes.Manufacturer);
    NormalizeAttributeText(attributes.HardwareVersion, sizeof attributes.HardwareVersion);
    NormalizeAttributeText(attributes.OptionROMVersion, sizeof attributes.OptionROMVersion);
    NormalizeAttributeText(attributes.FirmwareVersion, sizeof attributes.FirmwareVersion);
    Manufacturer = BoundedText(attributes.Manufacturer);
    SerialNumber = BoundedText(attributes.SerialNumber);
    Model = BoundedText(attributes.Model);
    ModelDescription = BoundedText(attributes.ModelDescription);
    NodeWWN = attributes.NodeWWN;
    NodeSymbolicName = BoundedText(attributes.NodeSymbolicName);
    HardwareVersion = BoundedText(attributes.HardwareVersion);
    DriverVersion = BoundedText(attributes.DriverVersion);
    OptionROMVersion = BoundedText(attributes.OptionROMVersion);
    FirmwareVersion = BoundedText(attributes.FirmwareVersion);
    NumberOfPorts = attributes.NumberOfPorts;
    DriverName = BoundedText(attributes.DriverName);
    subsystemIds = attributes.VendorSpecificID;
}

int FcHbaAdapter::ReadPorts(HBA_HANDLE handle) {
    int result = NumberOfPorts > kMaxPortsPerAdapter ? 1 : 0;
    HBA_UINT32 walked = NumberOfPorts > kMaxPortsPerAdapter ? kMaxPortsPerAdapter : NumberOfPorts;
    for (HBA_UINT32 index = 0; index < walked; ++index) {
        HBA_PORTATTRIBUTES attributes{};
        if (HBA_GetAdapterPortAttributes(handle, index, &attributes) != HBA_STATUS_OK) {
            result = 1;
            continue;
        }
        FcHbaPort port(index, attributes);
        HBA_PORTSTATISTICS statistics{};
        if (HBA_GetPortStatistics(handle, index, &statistics) != HBA_STATUS_OK)
            result = 1;
        else
            port.SetStatistics(statistics);
        ports.push_back(port);
    }
    return result;
}

int FcHbaAdapter::Refresh() {
    LockHeld held(lock);
    std::string name;
    if (HBA_GetAdapterName(adapterIndex, name) != HBA_STATUS_OK) return 1;
    adapterName = name;
    HBA_HANDLE handle = HBA_OpenAdapter(adapterName);
    if (handle == 0) return 1;
    HBA_ADAPTERATTRIBUTES attributes{};
    if (HBA_GetAdapterAttributes(handle, &attributes) != HBA_STATUS_OK) {
        HBA_CloseAdapter(handle);
        return 1;
    }
    ports.clear();
    CopyAttributes(attributes);
    int result = ReadPorts(handle);
    HBA_CloseAdapter(handle);
    return result;
}

void FcHbaAdapter::ReadPciLocation() {
    std::string libraryPath;
    void* libraryHandle = GetAdapterLibrary(adapterIndex, libraryPath);
    char statusText[kStatusTextSize] = {};
    int failed = 0;
    PciLocation location{subsystemIds, pciBus, pciFunction, pciDomain};
    if (ResolveVendorAttributesEntry(adapterName, libraryPath, libraryHandle, statusText, failed)) {
        if (failed != 0) return;
        HBA_HANDLE handle = HBA_OpenAdapter(adapterName);
        if (handle == 0) return;
        ReadVendorAttributes(NodeWWN, location, statusText, handle);
        HBA_CloseAdapter(handle);
    } else {
        // The vendor library may be the very file the layer holds open; it is
        // let go so the search starts it afresh, then the layer comes back in
        // configuration order, keeping its slot numbers.
        HBA_FreeLibrary();
        char nameCopy[kVendorSearchNameSize] = {};
        CopyToField(nameCopy, sizeof nameCopy, adapterName);
        FindVendorAttributes(NodeWWN, nameCopy, location, statusText, paths);
        HBA_LoadLibrary(paths.hbaConf);
    }
    subsystemIds = location.subsystemIds;
    pciBus = location.bus;
    pciFunction = location.function;
    pciDomain = location.domain;
}

}  // namespace hbafw
