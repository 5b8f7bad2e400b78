// The base component every vendor component derives from: its records, its
// flags and the virtual operations the run sequence and vendor code call.
// Declaration order of members and virtual slots is part of its contract.
#pragma once

#include <list>
#include <string>

#include "framework/component_log.h"
#include "framework/records.h"
#include "framework/run_lock.h"
#include "inventory/adapter_record.h"
#include "inventory/system_paths.h"

namespace hbafw {

class CBaseCmp {
public:
    explicit CBaseCmp(const SystemPaths& paths = SystemPaths{});
    virtual ~CBaseCmp();

    CBaseCmp(const CBaseCmp&) = delete;
    CBaseCmp& operator=(const CBaseCmp&) = delete;

    virtual bool DiscoverAdapters();
    virtual std::wstring NormalizeVersion(std::wstring version);
    virtual void DiscoverFirmware();
    virtual int PrepareKit();
    virtual int Flash();
    virtual bool WriteDiscoveryXml();
    virtual int FindReferenceDevice(std::wstring deviceId);

    // Where the system's fixed files are; kept first so the log can use it.
    const SystemPaths paths;

    ComponentLog log;
    bool silent = false;
    bool selfDiscovery = false;
    bool force = false;
    std::list<AdapterRecord> adapters;
    ReferenceCatalogue catalogue;
    DiscoveryResult result;
    std::string discoveryXmlPath;
    // The run's lock, while the entry holds one; the flash engine keeps it.
    const RunLock* runLock = nullptr;
    // The vendor tool's answer to discovery's query, as read, for a capture of the server.
    std::string toolAnswer;
};

}  // namespace hbafw
