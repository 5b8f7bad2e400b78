// One adapter as the HBA API layer sees it: filled by Refresh from the
// standard attributes and ports, then given its PCI location by the vendor's
// management library. It holds no open handle between calls.
#pragma once

#include <pthread.h>

#include <string>
#include <vector>

#include "inventory/fc_hba_port.h"
#include "inventory/hba_api_types.h"
#include "inventory/system_paths.h"

namespace hbafw {

// The port walk stops here whatever NumberOfPorts says, so an absurd count
// fails the refresh instead of hanging it.
inline constexpr HBA_UINT32 kMaxPortsPerAdapter = 256;

class FcHbaAdapter {
public:
    FcHbaAdapter(HBA_UINT32 index, const SystemPaths& paths = SystemPaths{});
    FcHbaAdapter(const FcHbaAdapter&) = delete;
    FcHbaAdapter& operator=(const FcHbaAdapter&) = delete;
    // Unloads the HBA API layer's libraries.
    virtual ~FcHbaAdapter();

    // 0 on full success, 1 if any step failed.
    int Refresh();
    void ReadPciLocation();

    HBA_UINT32 GetAdapterIndex() const { return adapterIndex; }
    const std::vector<FcHbaPort>& GetPorts() const { return ports; }
    const std::string& GetAdapterName() const { return adapterName; }
    const std::string& GetManufacturer() const { return Manufacturer; }
    const std::string& GetSerialNumber() const { return SerialNumber; }
    const std::string& GetModel() const { return Model; }
    const std::string& GetModelDescription() const { return ModelDescription; }
    const HBA_WWN& GetNodeWWN() const { return NodeWWN; }
    std::string GetNodeWWNText() const;
    const std::string& GetNodeSymbolicName() const { return NodeSymbolicName; }
    const std::string& GetHardwareVersion() const { return HardwareVersion; }
    const std::string& GetDriverVersion() const { return DriverVersion; }
    const std::string& GetOptionROMVersion() const { return OptionROMVersion; }
    const std::string& GetFirmwareVersion() const { return FirmwareVersion; }
    HBA_UINT32 GetNumberOfPorts() const { return NumberOfPorts; }
    const std::string& GetDriverName() const { return DriverName; }
    HBA_UINT32 GetSubsystemIds() const { return subsystemIds; }
    HBA_UINT8 GetPciBus() const { return pciBus; }
    HBA_UINT8 GetPciFunction() const { return pciFunction; }
    HBA_UINT8 GetPciDomain() const { return pciDomain; }

private:
    void CopyAttributes(HBA_ADAPTERATTRIBUTES& attributes);
    int ReadPorts(HBA_HANDLE handle);

    HBA_UINT32 adapterIndex;
    std::vector<FcHbaPort> ports;
    std::string adapterName = "Undefined";
    std::string Manufacturer = "Undefined";
    std::string SerialNumber = "Undefined";
    std::string Model = "Undefined";
    std::string ModelDescription = "Undefined";
    HBA_WWN NodeWWN{};
    std::string NodeSymbolicName = "Undefined";
    std::string HardwareVersion = "Undefined";
    std::string DriverVersion = "Undefined";
    std::string OptionROMVersion = "Undefined";
    std::string FirmwareVersion = "Undefined";
    HBA_UINT32 NumberOfPorts = 0;
    std::string DriverName = "Undefined";
    HBA_UINT32 subsystemIds = 0;
    HBA_UINT8 pciBus = 0;
    HBA_UINT8 pciFunction = 0;
    HBA_UINT8 pciDomain = 0;
    pthread_mutex_t lock;
    SystemPaths paths;
};

}  // namespace hbafw
