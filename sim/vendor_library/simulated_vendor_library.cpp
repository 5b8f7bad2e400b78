// A stand-in for an adapter vendor's library: an SNIA HBA API library
// (HBA_RegisterLibrary) and a management library (the VKXFC_ entry points) in
// one, serving the adapters described in DIR/adapters.conf and logging every
// call to DIR/calls.log. DIR is /etc/hbafw-sim, or $HBAFW_SIM_DIR for unit
// tests; this library is test-only and never shipped. Build variants leave one
// export out (SIM_OMIT_...). It checks nothing about its caller.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "inventory/hba_api_types.h"

using namespace hbafw;

namespace {

// NumberOfPorts is the count of port= fields unless ports= says otherwise.
constexpr HBA_UINT32 kPortsFromList = 0xFFFFFFFFu;

struct SimAdapter {
    std::string name;
    HBA_WWN node{};
    std::vector<HBA_WWN> ports;
    std::string model = "QLE2562", driver = "8.07.00.08", firmware = "5.06.05", optionRom = "2.02",
                serial = "SIM0001", manufacturer = "QLogic Corporation", libraries;
    HBA_UINT32 reportedPorts = kPortsFromList;
    HBA_UINT32 subsystem = 0x015c1077, vendorSpecific = 0;
    HBA_UINT32 portState = 2, portSpeed = 0x10;
    HBA_UINT8 bus = 0, function = 0, domain = 0;
};

struct SimFault {
    std::string kind, library, adapter, entry;
    long port = -1;
    unsigned long value = 0;
};

std::vector<SimAdapter> gAdapters;  // the adapters this copy of the library serves
std::vector<SimFault> gFaults;

std::string SimDir() {
    const char* dir = std::getenv("HBAFW_SIM_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/etc/hbafw-sim";
}

std::string ThisLibrary() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&SimDir), &info) == 0 || info.dli_fname == nullptr) return "?";
    std::string path = info.dli_fname;
    return path.substr(path.rfind('/') + 1);
}

void Log(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::ofstream(SimDir() + "/calls.log", std::ios::app) << ThisLibrary() << ' ' << line << '\n';
}

bool ParseWwn(const std::string& text, HBA_WWN& wwn) {
    unsigned b[8];
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6],
                    &b[7]) != 8)
        return false;
    for (int i = 0; i < 8; ++i) wwn.wwn[i] = static_cast<HBA_UINT8>(b[i]);
    return true;
}

// Built by appending rather than replace(): GCC 12 at -O2 and above reports a
// false -Wrestrict inside std::string::replace, which -Werror would turn fatal.
std::string Decoded(const std::string& value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t at = 0; at < value.size();) {
        if (value.compare(at, 3, "%20") == 0) {
            decoded += ' ';
            at += 3;
        } else {
            decoded += value[at++];
        }
    }
    return decoded;
}

bool ServedHere(const std::string& libraries) {
    if (libraries.empty()) return true;
    std::stringstream list(libraries);
    std::string name;
    while (std::getline(list, name, ','))
        if (name == ThisLibrary()) return true;
    return false;
}

void ReadDescription() {
    gAdapters.clear();
    gFaults.clear();
    std::ifstream description(SimDir() + "/adapters.conf");
    std::string line;
    while (std::getline(description, line)) {
        std::istringstream words(line);
        std::string kind, word;
        words >> kind;
        SimAdapter adapter;
        SimFault fault;
        if (kind == "fault") words >> fault.kind;
        while (words >> word) {
            std::size_t equals = word.find('=');
            if (equals == std::string::npos) continue;
            std::string key = word.substr(0, equals), value = Decoded(word.substr(equals + 1));
            unsigned long number = std::strtoul(value.c_str(), nullptr, 0);
            if (kind == "fault") {
                if (key == "library") fault.library = value;
                if (key == "adapter") fault.adapter = value;
                if (key == "entry") fault.entry = value;
                if (key == "port") fault.port = static_cast<long>(number);
                if (key == "value") fault.value = number;
                continue;
            }
            HBA_WWN wwn{};
            if (key == "name") adapter.name = value;
            if (key == "node" && ParseWwn(value, wwn)) adapter.node = wwn;
            if (key == "port" && ParseWwn(value, wwn)) adapter.ports.push_back(wwn);
            if (key == "model") adapter.model = value;
            if (key == "driver") adapter.driver = value;
            if (key == "firmware") adapter.firmware = value;
            if (key == "optionrom") adapter.optionRom = value;
            if (key == "serial") adapter.serial = value;
            if (key == "manufacturer") adapter.manufacturer = value;
            if (key == "library") adapter.libraries = value;
            if (key == "ports") adapter.reportedPorts = static_cast<HBA_UINT32>(number);
            if (key == "subsystem") adapter.subsystem = static_cast<HBA_UINT32>(number);
            if (key == "vendorspecific") adapter.vendorSpecific = static_cast<HBA_UINT32>(number);
            if (key == "state") adapter.portState = static_cast<HBA_UINT32>(number);
            if (key == "speed") adapter.portSpeed = static_cast<HBA_UINT32>(number);
            if (key == "bus") adapter.bus = static_cast<HBA_UINT8>(number);
            if (key == "function") adapter.function = static_cast<HBA_UINT8>(number);
            if (key == "domain") adapter.domain = static_cast<HBA_UINT8>(number);
        }
        if (kind == "fault" && (fault.library.empty() || fault.library == ThisLibrary())) gFaults.push_back(fault);
        if (kind == "adapter" && ServedHere(adapter.libraries)) gAdapters.push_back(adapter);
    }
}

const SimFault* Fault(const char* kind, const std::string& adapter = {}, long port = -1) {
    for (const SimFault& fault : gFaults)
        if (fault.kind == kind && (fault.adapter.empty() || fault.adapter == adapter) &&
            (fault.port < 0 || fault.port == port))
            return &fault;
    return nullptr;
}

HBA_UINT32 HandleBase() {
    const SimFault* fault = Fault("handle-base");
    return fault != nullptr ? static_cast<HBA_UINT32>(fault->value) : 1;
}

// Callers may hold only the low 16 bits of a handle, as the HBA API layer does.
SimAdapter* ByHandle(HBA_HANDLE handle) {
    for (std::size_t i = 0; i < gAdapters.size(); ++i)
        if (((HandleBase() + i) & 0xFFFF) == (handle & 0xFFFF)) return &gAdapters[i];
    return nullptr;
}

HBA_UINT32 AdapterCount(const char* fault) {
    const SimFault* absurd = Fault(fault);
    return absurd != nullptr ? static_cast<HBA_UINT32>(absurd->value) : static_cast<HBA_UINT32>(gAdapters.size());
}

// With the unterminated-texts fault every text fills its field with no NUL.
template <std::size_t N>
void Text(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    if (Fault("unterminated-texts") != nullptr) {
        std::memset(field, 'X', N);
        std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
        return;
    }
    std::snprintf(field, N, "%s", text.c_str());
}

HBA_STATUS WriteName(HBA_UINT32 index, char* name, const char* failFault) {
    if (index >= gAdapters.size()) return HBA_STATUS_ERROR_ILLEGAL_INDEX;
    if (Fault(failFault, gAdapters[index].name) != nullptr) return HBA_STATUS_ERROR;
    char field[256];
    Text(field, gAdapters[index].name);
    std::memcpy(name, field, sizeof field);
    return HBA_STATUS_OK;
}

HBA_HANDLE Open(const char* name, const char* failFault) {
    for (std::size_t i = 0; i < gAdapters.size(); ++i) {
        std::string expected = gAdapters[i].name;
        if (Fault("unterminated-texts") != nullptr) expected = std::string(name, ::strnlen(name, 256));
        if (expected != name) continue;
        if (Fault(failFault, gAdapters[i].name) != nullptr) return 0;
        return HandleBase() + static_cast<HBA_UINT32>(i);
    }
    return 0;
}

void FillStandard(const SimAdapter& adapter, HBA_ADAPTERATTRIBUTES& attributes) {
    std::memset(&attributes, 0, sizeof attributes);
    Text(attributes.Manufacturer, adapter.manufacturer);
    Text(attributes.SerialNumber, adapter.serial);
    Text(attributes.Model, adapter.model);
    Text(attributes.ModelDescription, adapter.model + " Fibre Channel Adapter");
    attributes.NodeWWN = adapter.node;
    Text(attributes.NodeSymbolicName, adapter.model + " " + adapter.name);
    Text(attributes.HardwareVersion, "1.0");
    Text(attributes.DriverVersion, adapter.driver);
    Text(attributes.OptionROMVersion, adapter.optionRom);
    Text(attributes.FirmwareVersion, adapter.firmware);
    attributes.VendorSpecificID = adapter.vendorSpecific;
    if (Fault("absurd-ports") != nullptr)
        attributes.NumberOfPorts = 0xFFFFFFFFu;
    else if (adapter.reportedPorts != kPortsFromList)
        attributes.NumberOfPorts = adapter.reportedPorts;
    else
        attributes.NumberOfPorts = static_cast<HBA_UINT32>(adapter.ports.size());
    Text(attributes.DriverName, "qla2xxx");
}

}  // namespace

extern "C" {

static HBA_UINT32 SimGetVersion() {
    HBA_UINT32 version = Fault("version-zero") != nullptr ? 0 : 2;
    Log("HBA_GetVersion = %u", version);
    return version;
}

static HBA_STATUS SimLoadLibrary() {
    ReadDescription();
    HBA_STATUS status = Fault("load-fails") != nullptr ? HBA_STATUS_ERROR : HBA_STATUS_OK;
    Log("HBA_LoadLibrary = %u", status);
    return status;
}

static HBA_STATUS SimFreeLibrary() {
    Log("HBA_FreeLibrary");
    return HBA_STATUS_OK;
}

static HBA_UINT32 SimGetNumberOfAdapters() {
    HBA_UINT32 count = AdapterCount("adapter-count");
    Log("HBA_GetNumberOfAdapters = %u", count);
    return count;
}

static HBA_STATUS SimGetAdapterName(HBA_UINT32 index, char* name) {
    HBA_STATUS status = WriteName(index, name, "name-fails");
    Log("HBA_GetAdapterName %u = %u", index, status);
    return status;
}

static HBA_HANDLE SimOpenAdapter(char* name) {
    HBA_HANDLE handle = Open(name, "open-fails");
    Log("HBA_OpenAdapter %.256s = 0x%x", name, handle);
    return handle;
}

static void SimCloseAdapter(HBA_HANDLE handle) { Log("HBA_CloseAdapter 0x%x", handle); }

static HBA_STATUS SimGetAdapterAttributes(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes) {
    SimAdapter* adapter = ByHandle(handle);
    HBA_STATUS status = HBA_STATUS_ERROR_INVALID_HANDLE;
    if (adapter != nullptr) {
        status = Fault("attributes-fail", adapter->name) != nullptr ? HBA_STATUS_ERROR : HBA_STATUS_OK;
        if (status == HBA_STATUS_OK) FillStandard(*adapter, *attributes);
    }
    Log("HBA_GetAdapterAttributes 0x%x = %u", handle, status);
    return status;
}

static HBA_STATUS SimGetAdapterPortAttributes(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTATTRIBUTES* attributes) {
    SimAdapter* adapter = ByHandle(handle);
    HBA_STATUS status = HBA_STATUS_ERROR_INVALID_HANDLE;
    if (adapter != nullptr) {
        status = HBA_STATUS_OK;
        if (Fault("port-fails", adapter->name, port) != nullptr) status = HBA_STATUS_ERROR;
        if (port >= adapter->ports.size() && Fault("absurd-ports") == nullptr) status = HBA_STATUS_ERROR_ILLEGAL_INDEX;
    }
    if (status == HBA_STATUS_OK) {
        std::memset(attributes, 0, sizeof *attributes);
        attributes->NodeWWN = adapter->node;
        attributes->PortWWN = port < adapter->ports.size() ? adapter->ports[port] : adapter->node;
        attributes->PortFcId = 0x010200 + port;
        attributes->PortType = 5;
        attributes->PortState = adapter->portState;
        attributes->PortSupportedSpeed = 0x1 | 0x2 | 0x8 | 0x10;
        attributes->PortSpeed = adapter->portSpeed;
        attributes->PortMaxFrameSize = 2048;
        Text(attributes->PortSymbolicName, adapter->name + " port");
        Text(attributes->OSDeviceName, "/dev/host" + std::to_string(port));
    }
    if (Fault("absurd-ports") == nullptr || port < 4) Log("HBA_GetAdapterPortAttributes 0x%x %u = %u", handle, port, status);
    return status;
}

static HBA_STATUS SimGetPortStatistics(HBA_HANDLE handle, HBA_UINT32 port, HBA_PORTSTATISTICS* statistics) {
    SimAdapter* adapter = ByHandle(handle);
    if (adapter == nullptr) return HBA_STATUS_ERROR_INVALID_HANDLE;
    if (Fault("statistics-fail", adapter->name, port) != nullptr) return HBA_STATUS_ERROR;
    // Counters count up from 1, the third is unsupported and the fourth is 0.
    HBA_INT64 counters[kPortStatisticsCount];
    for (std::size_t i = 0; i < kPortStatisticsCount; ++i) counters[i] = static_cast<HBA_INT64>(i + 1);
    counters[2] = kUnsupportedCounter;
    counters[3] = 0;
    std::memcpy(statistics, counters, sizeof counters);
    return HBA_STATUS_OK;
}

#ifndef SIM_OMIT_HBA_RegisterLibrary
__attribute__((visibility("default"))) HBA_STATUS HBA_RegisterLibrary(HBA_ENTRYPOINTS* entries) {
    std::memset(entries, 0, sizeof *entries);
    HBA_STATUS status = HBA_STATUS_OK;
    ReadDescription();
    if (Fault("register-fails") != nullptr) status = HBA_STATUS_ERROR;
    entries->GetVersionHandler = SimGetVersion;
    entries->LoadLibraryHandler = SimLoadLibrary;
    entries->FreeLibraryHandler = SimFreeLibrary;
    entries->GetNumberOfAdaptersHandler = SimGetNumberOfAdapters;
    entries->GetAdapterNameHandler = SimGetAdapterName;
    entries->OpenAdapterHandler = SimOpenAdapter;
    entries->CloseAdapterHandler = SimCloseAdapter;
    entries->GetAdapterAttributesHandler = SimGetAdapterAttributes;
    entries->GetAdapterPortAttributesHandler = SimGetAdapterPortAttributes;
    entries->GetPortStatisticsHandler = SimGetPortStatistics;
    for (const SimFault& fault : gFaults) {
        if (fault.kind != "no-entry") continue;
        if (fault.entry == "GetVersion") entries->GetVersionHandler = nullptr;
        if (fault.entry == "LoadLibrary") entries->LoadLibraryHandler = nullptr;
        if (fault.entry == "GetNumberOfAdapters") entries->GetNumberOfAdaptersHandler = nullptr;
        if (fault.entry == "GetAdapterName") entries->GetAdapterNameHandler = nullptr;
        if (fault.entry == "OpenAdapter") entries->OpenAdapterHandler = nullptr;
        if (fault.entry == "GetPortStatistics") entries->GetPortStatisticsHandler = nullptr;
    }
    Log("HBA_RegisterLibrary = %u", status);
    return status;
}
#endif

__attribute__((visibility("default"))) HBA_UINT32 VKXFC_LoadLibrary() {
    ReadDescription();
    HBA_UINT32 status = Fault("vkx-load-fails") != nullptr ? 1 : 0;
    Log("VKXFC_LoadLibrary = %u", status);
    return status;
}

__attribute__((visibility("default"))) int VKXFC_GetNumberOfAdapters() {
    int count = static_cast<int>(AdapterCount("vkx-adapter-count"));
    Log("VKXFC_GetNumberOfAdapters = %d", count);
    return count;
}

__attribute__((visibility("default"))) HBA_UINT32 VKXFC_GetAdapterName(HBA_UINT32 index, char* name) {
    HBA_STATUS status = WriteName(index, name, "vkx-name-fails");
    // An absurd count is asked about far past the end; only the start is logged.
    if (index < 64) Log("VKXFC_GetAdapterName %u = %u", index, status);
    return status;
}

#ifndef SIM_OMIT_VKXFC_OpenAdapter
__attribute__((visibility("default"))) HBA_HANDLE VKXFC_OpenAdapter(char* name) {
    HBA_HANDLE handle = Open(name, "vkx-open-fails");
    Log("VKXFC_OpenAdapter %.256s = 0x%x", name, handle);
    return handle;
}
#endif

#ifndef SIM_OMIT_VKXFC_GetAdapterAttributes2
__attribute__((visibility("default"))) HBA_UINT32 VKXFC_GetAdapterAttributes2(HBA_HANDLE handle,
                                                                               VendorAdapterAttributes* record) {
    SimAdapter* adapter = ByHandle(handle);
    HBA_UINT32 status = adapter == nullptr ? 3 : 0;
    if (adapter != nullptr && Fault("vkx-attributes-fail", adapter->name) != nullptr) status = 0x51;
    if (status == 0) {
        FillStandard(*adapter, record->standard);
        record->subsystemIds = adapter->subsystem;
        record->pciBus = adapter->bus;
        record->pciFunction = adapter->function;
        record->pciDomain = adapter->domain;
    }
    Log("VKXFC_GetAdapterAttributes2 0x%x = %u", handle, status);
    return status;
}
#endif

__attribute__((visibility("default"))) void VKXFC_CloseAdapter(HBA_HANDLE handle) { Log("VKXFC_CloseAdapter 0x%x", handle); }

__attribute__((visibility("default"))) void VKXFC_FreeLibrary() { Log("VKXFC_FreeLibrary"); }

}  // extern "C"

// Loading and unloading are logged so tests can prove every library opened was closed.
__attribute__((constructor)) static void SimLoaded() { Log("loaded"); }
__attribute__((destructor)) static void SimUnloaded() { Log("unloaded"); }
