// What hbafw-inventory gathered, as plain data shared by its writers (text,
// XML, JSON, node_exporter metrics), and the few facts derived from it that
// every writer shows the same way. Gathering and writing live elsewhere.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "inventory/adapter_enumeration.h"
#include "inventory/system_paths.h"

namespace hbafw {

struct LibraryRow {
    std::size_t slot;
    std::string name, path, status;
};

// One firmware item as the vendor build's discovery decided it.
struct ComplianceItem {
    std::string deviceId, product, type, activeVersion, packageVersion, action, build;
};

// One vendor build that ran because its vendor's adapters are on the PCI bus.
struct BuildRun {
    std::string build;
    bool discovered = false;
    std::size_t devices = 0;  // its own vendor's devices it listed
};

struct Compliance {
    std::string cataloguePath;
    bool catalogueRead = false;
    std::string build;  // the first build that ran, or empty
    std::vector<BuildRun> builds;
    bool discovered = false;  // by any of the builds
    bool busy = false;  // not compared: another run held the components' lock
    std::vector<ComplianceItem> items;
};

// The system's restart signal, as far as this package is named in it.
struct RestartState {
    bool required = false;
    std::time_t since = 0;  // when the signal file was written, when required
};

// The newest record of the fleet module's history, when there is one.
struct LastRun {
    std::time_t time = 0;
    std::optional<long long> exitCode;  // none while a flash went on
    std::string action, outcome;
};

struct Inventory {
    bool configurationRead = false;
    std::vector<LibraryRow> libraries;
    std::vector<EnumeratedAdapter> adapters;
    RestartState restart;
    std::optional<LastRun> lastRun;
    std::optional<Compliance> compliance;
};

// The package's name as it appears in the restart signal's package list.
inline constexpr const char* kPackageName = "hbafw";

// The vendor build that serves an adapter of this PCI id ("10772532"), by its
// vendor half; empty when none does.
std::string BuildForPciId(const std::string& pciId);

// A device of a known adapter vendor on the PCI bus, its ids as sysfs shows
// them without "0x": vendor, device, subsystem vendor, subsystem device.
struct KnownPciDevice {
    std::string ids[4];
};
std::vector<KnownPciDevice> KnownPciDevices(const SystemPaths& paths);

// The vendor builds whose vendors have a device on the PCI bus, in vendor id
// order: every one serves the server, whatever its tools list.
std::vector<std::string> BuildsOnPciBus(const SystemPaths& paths);

// Required when the package list names this package; since is the signal's time.
RestartState ReadRestartState(const SystemPaths& paths);

// The last line of the history file. The module writes each record with
// sorted keys, so the run's own outcome is the line's last "outcome" (its
// items' outcomes come before it) and its other fields appear once.
std::optional<LastRun> ReadLastRun(const SystemPaths& paths);
std::optional<LastRun> LastRunFromLine(const std::string& line);

// Bytes taken one character each (as the component reads tool text) and
// written as UTF-8, so any adapter text is valid in JSON and metric labels.
std::string Utf8FromBytes(const std::string& bytes);

}  // namespace hbafw
