// Enumeration of the installed adapters into flat records: the walk through
// the HBA API layer first, then the sysfs lookups, which share one search of
// /sys. Nothing is thrown out of it; a failed adapter still gets its record.
#include "inventory/adapter_enumeration.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "inventory/attribute_text.h"
#include "inventory/fc_hba_mra.h"
#include "inventory/hba_api.h"

namespace hbafw {

namespace {

AdapterRecord MakeRecord(const FcHbaAdapter& adapter, PciIdentityLookup& sysfs) {
    AdapterRecord record;
    CopyToField(record.nodeWwn, sizeof record.nodeWwn, adapter.GetNodeWWNText());
    const std::vector<FcHbaPort>& ports = adapter.GetPorts();
    CopyToField(record.portWwn, sizeof record.portWwn, ports.empty() ? "" : ports.front().GetPortWWNText());
    CopyToField(record.driverVersion, sizeof record.driverVersion, adapter.GetDriverVersion());
    CopyToField(record.optionRomVersion, sizeof record.optionRomVersion, adapter.GetOptionROMVersion());
    CopyToField(record.firmwareVersion, sizeof record.firmwareVersion, adapter.GetFirmwareVersion());
    CopyToField(record.model, sizeof record.model, adapter.GetModel());
    unsigned low = adapter.GetSubsystemIds() & 0xFFFF;
    unsigned high = adapter.GetSubsystemIds() >> 16;
    CopyToField(record.pciId, sizeof record.pciId,
                sysfs.Lookup(adapter.GetPciDomain(), adapter.GetPciBus(), adapter.GetPciFunction(), low, high));
    std::snprintf(record.subsystemId, sizeof record.subsystemId, "%.4x%.4x", low, high);
    return record;
}

}  // namespace

std::vector<EnumeratedAdapter> EnumerateAdapterDetails(const SystemPaths& paths, std::ostream& console,
                                                       SysfsWalk walk) {
    struct Walked {
        std::unique_ptr<FcHbaAdapter> adapter;
        std::string servingLibrary;
        int status;
    };
    std::vector<Walked> walked;
    {
        FcHbaMRA access(paths);
        int status = 0;
        std::unique_ptr<FcHbaAdapter> adapter = access.GetFirstAdapter(status);
        while (adapter) {
            if (status != 0) console << kFailedStatusLine << std::flush;
            std::string library;
            GetAdapterLibrary(adapter->GetAdapterIndex(), library);
            const FcHbaAdapter& previous = *adapter;
            walked.push_back({std::move(adapter), library, status});
            adapter = access.GetNextAdapter(previous, status);
        }
    }
    std::vector<EnumeratedAdapter> adapters;
    adapters.reserve(walked.size());
    // Per adapter, a fresh lookup is the old walk: nothing shared between adapters.
    std::optional<PciIdentityLookup> sysfs;
    for (const Walked& entry : walked) {
        const FcHbaAdapter& adapter = *entry.adapter;
        if (!sysfs || walk == SysfsWalk::PerAdapter) sysfs.emplace(paths.sysRoot, walk);
        EnumeratedAdapter details{MakeRecord(adapter, *sysfs), adapter.GetAdapterName(), entry.servingLibrary,
                                  adapter.GetManufacturer(), adapter.GetSerialNumber(),
                                  adapter.GetModelDescription(), adapter.GetDriverName(),
                                  adapter.GetNumberOfPorts(), {}, entry.status,
                                  adapter.GetPciDomain(), adapter.GetPciBus(), adapter.GetPciFunction()};
        for (const FcHbaPort& port : adapter.GetPorts())
            details.ports.push_back({port.GetPortWWNText(), port.GetStateText(), port.GetSpeedText()});
        adapters.push_back(std::move(details));
    }
    return adapters;
}

int EnumerateAdapters(std::list<AdapterRecord>& adapters, const SystemPaths& paths, SysfsWalk walk) {
    for (EnumeratedAdapter& adapter : EnumerateAdapterDetails(paths, std::cout, walk))
        adapters.push_back(adapter.record);
    return 1;
}

}  // namespace hbafw
