// Entry point of the inventory: appends one record per installed adapter, and
// the richer walk behind it that the diagnostic tool shows. Adapter objects
// live only during the call; the records are what survive.
#pragma once

#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "inventory/adapter_record.h"
#include "inventory/pci_identity.h"
#include "inventory/system_paths.h"

namespace hbafw {

inline constexpr const char* kFailedStatusLine = "MRA get returned failed status!\n";

struct EnumeratedPort {
    std::string wwn;
    std::string state;
    std::string speed;
};

struct EnumeratedAdapter {
    AdapterRecord record;
    std::string adapterName;
    std::string servingLibrary;
    // Attributes the record has no field for, shown by the diagnostic.
    std::string manufacturer;
    std::string serialNumber;
    std::string modelDescription;
    std::string driverName;
    unsigned numberOfPorts = 0;
    std::vector<EnumeratedPort> ports;
    int status = 0;
    // Where the HBA API layer places it; the layer gives no device number.
    unsigned pciDomain = 0, pciBus = 0, pciFunction = 0;
};

// Returns 1 in every case; an empty list means no adapter was found.
int EnumerateAdapters(std::list<AdapterRecord>& adapters, const SystemPaths& paths = SystemPaths{},
                      SysfsWalk walk = SysfsWalk::OncePerEnumeration);

// The same walk; the failed-status line of each failed adapter goes to console.
std::vector<EnumeratedAdapter> EnumerateAdapterDetails(const SystemPaths& paths, std::ostream& console,
                                                       SysfsWalk walk = SysfsWalk::OncePerEnumeration);

}  // namespace hbafw
