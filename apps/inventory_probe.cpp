// hbafw-inventory: shows an operator what the component will see before it
// flashes anything: the HBA API layer's library table, then every enumerated
// adapter with its record, ports and serving library; --xml and --json write
// the same as a document, --prometheus as node_exporter metrics, --capture as
// a simulated machine folder. It changes nothing but the metrics file or the
// capture folder asked for and, like the components, reads no option file and
// no environment variable.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <ctime>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "apps/inventory_capture.h"
#include "apps/inventory_compliance.h"
#include "apps/inventory_json.h"
#include "apps/inventory_metrics.h"
#include "apps/inventory_view.h"
#include "framework/file_io.h"
#include "framework/process_start.h"
#include "framework/run_lock.h"
#include "framework/tool_identity.h"
#include "inventory/file_trust.h"
#include "inventory/hba_api.h"

namespace {

using namespace hbafw;

constexpr int kExitAdaptersFound = 0;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitNoAdapters = 3;
constexpr int kExitFileFailed = 4;
constexpr int kExitOutOfMemory = 7;
constexpr int kExitAnswered = 0;

constexpr const char* kUsage =
    "Usage: hbafw-inventory [--xml | --json] [--catalogue REFERENCE.XML] [--prometheus FILE]\n"
    "       hbafw-inventory --capture DIR [--anonymize]\n"
    "Lists the HBA API libraries of /etc/hba.conf and the adapters the firmware component would see.\n"
    "--catalogue (with --json or --prometheus): each firmware item as the package's vendor build decides it.\n"
    "--prometheus: node_exporter textfile metrics written to FILE, replaced whole.\n"
    "--capture: this server as a simulated machine folder in DIR (new or empty), its tools asked\n"
    "in the working folder as a run asks them; --anonymize replaces WWNs and serial numbers.\n"
    "--help, --version: this text, or the version and build, and nothing else.\n"
    "Exit status: 0 adapters found (or captured), 3 none found, 4 catalogue unreadable, metrics\n"
    "or capture not written, or the run lock refused (or, for a capture, held by a run),\n"
    "2 bad command line.\n";
constexpr const char* kNoConfiguration = "No HBA API configuration could be read: ";
constexpr const char* kLibraryRefused = "  Not loaded: ";
constexpr const char* kNoAdaptersFound = "No adapters found.\n";
constexpr const char* kOutOfMemory = "ERROR! : out of memory\n";
constexpr const char* kCatalogueUnreadable = "ERROR! : the catalogue could not be read: ";
constexpr const char* kCatalogueBusy =
    "WARNING! : Another firmware update is running on this machine; the catalogue was not compared.\n";
constexpr const char* kMetricsNotWritten = "ERROR! : the metrics file could not be written: ";

// The layer is loaded once on its own to show its table as the components'
// enumeration will find it, and let go before the enumeration loads it again.
Inventory TakeInventory(const SystemPaths& paths, std::ostream& console) {
    Inventory inventory;
    inventory.configurationRead = HBA_LoadLibrary(paths.hbaConf) == HBA_STATUS_OK;
    if (inventory.configurationRead) {
        for (std::size_t slot = 0; slot < HbaLibrarySlotsFilled(); ++slot) {
            const HbaLibraryEntry& entry = HbaLibrarySlot(slot);
            inventory.libraries.push_back({slot, entry.name, entry.path, HbaLibraryStatusText(entry.status)});
        }
        HBA_FreeLibrary();
    }
    inventory.adapters = EnumerateAdapterDetails(paths, console);
    inventory.restart = ReadRestartState(paths);
    inventory.lastRun = ReadLastRun(paths);
    return inventory;
}

struct Field {
    const char* label;
    const char* xmlName;
    const char* value;
};

// The record's fields, then the attributes that only this tool shows.
std::vector<Field> RecordFields(const EnumeratedAdapter& adapter) {
    const AdapterRecord& record = adapter.record;
    return {{"Node WWN", "nodeWwn", record.nodeWwn},
            {"Port WWN", "portWwn", record.portWwn},
            {"PCI id", "pciId", record.pciId},
            {"Subsystem id", "subsystemId", record.subsystemId},
            {"Driver version", "driverVersion", record.driverVersion},
            {"Firmware version", "firmwareVersion", record.firmwareVersion},
            {"Option ROM version", "optionRomVersion", record.optionRomVersion},
            {"Spare", "spare", record.spare},
            {"Model", "model", record.model},
            {"Manufacturer", "manufacturer", adapter.manufacturer.c_str()},
            {"Model description", "modelDescription", adapter.modelDescription.c_str()},
            {"Serial number", "serialNumber", adapter.serialNumber.c_str()},
            {"Driver name", "driverName", adapter.driverName.c_str()}};
}

void PrintText(const Inventory& inventory, const SystemPaths& paths) {
    std::cout << "HBA API libraries (" << paths.hbaConf << "):\n";
    if (!inventory.configurationRead) std::cout << "  " << kNoConfiguration << paths.hbaConf << "\n";
    for (const LibraryRow& library : inventory.libraries)
        std::cout << "  slot " << library.slot << ": " << library.name << "  " << library.path << "  ["
                  << library.status << "]\n";
    for (const LibraryRefusal& refusal : RefusedLibraries())
        std::cout << kLibraryRefused << refusal.path << ": " << refusal.reason << ".\n";
    if (inventory.adapters.empty()) std::cout << kNoAdaptersFound;
    for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
        const EnumeratedAdapter& adapter = inventory.adapters[i];
        std::cout << "\nAdapter " << i << ": " << adapter.adapterName << (adapter.status != 0 ? "  (refresh failed)" : "")
                  << "\n  Serving library:    " << adapter.servingLibrary << "\n";
        for (const Field& field : RecordFields(adapter))
            std::cout << "  " << field.label << ":" << std::string(19 - std::strlen(field.label), ' ') << field.value
                      << "\n";
        std::cout << "  Ports:              " << adapter.numberOfPorts << "\n";
        for (std::size_t p = 0; p < adapter.ports.size(); ++p)
            std::cout << "    Port " << p << ": " << adapter.ports[p].wwn << "  " << adapter.ports[p].state << "  "
                      << adapter.ports[p].speed << "\n";
    }
}

const xmlChar* X(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

void PrintXml(const Inventory& inventory, const SystemPaths& paths) {
    xmlDocPtr document = xmlNewDoc(X("1.0"));
    xmlNodePtr root = xmlNewNode(nullptr, X("hbafw_inventory"));
    xmlDocSetRootElement(document, root);
    xmlNodePtr libraries = xmlNewChild(root, nullptr, X("libraries"), nullptr);
    xmlNewProp(libraries, X("configuration"), X(paths.hbaConf.c_str()));
    xmlNewProp(libraries, X("read"), X(inventory.configurationRead ? "true" : "false"));
    for (const LibraryRow& library : inventory.libraries) {
        xmlNodePtr node = xmlNewChild(libraries, nullptr, X("library"), nullptr);
        xmlNewProp(node, X("slot"), X(std::to_string(library.slot).c_str()));
        xmlNewProp(node, X("name"), X(library.name.c_str()));
        xmlNewProp(node, X("path"), X(library.path.c_str()));
        xmlNewProp(node, X("status"), X(library.status.c_str()));
    }
    xmlNodePtr adapters = xmlNewChild(root, nullptr, X("adapters"), nullptr);
    for (const EnumeratedAdapter& adapter : inventory.adapters) {
        xmlNodePtr node = xmlNewChild(adapters, nullptr, X("adapter"), nullptr);
        xmlNewProp(node, X("name"), X(adapter.adapterName.c_str()));
        xmlNewProp(node, X("library"), X(adapter.servingLibrary.c_str()));
        xmlNewProp(node, X("refreshed"), X(adapter.status == 0 ? "true" : "false"));
        for (const Field& field : RecordFields(adapter))
            xmlNewTextChild(node, nullptr, X(field.xmlName), X(field.value));
        xmlNodePtr ports = xmlNewChild(node, nullptr, X("ports"), nullptr);
        xmlNewProp(ports, X("count"), X(std::to_string(adapter.numberOfPorts).c_str()));
        for (std::size_t p = 0; p < adapter.ports.size(); ++p) {
            xmlNodePtr port = xmlNewChild(ports, nullptr, X("port"), nullptr);
            xmlNewProp(port, X("index"), X(std::to_string(p).c_str()));
            xmlNewProp(port, X("wwn"), X(adapter.ports[p].wwn.c_str()));
            xmlNewProp(port, X("state"), X(adapter.ports[p].state.c_str()));
            xmlNewProp(port, X("speed"), X(adapter.ports[p].speed.c_str()));
        }
    }
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(document, &text, &size, "UTF-8", 1);
    std::cout.write(reinterpret_cast<const char*>(text), size);
    xmlFree(text);
    xmlFreeDoc(document);
}

struct Options {
    enum class Format { Text, Xml, Json, None } format = Format::Text;
    std::string catalogue, metrics, capture;
    bool anonymize = false;
};

// False for anything the usage text does not allow.
bool ParseOptions(int argc, char** argv, Options& options) {
    bool formatGiven = false;
    for (int i = 1; i < argc; ++i) {
        bool xml = std::strcmp(argv[i], "--xml") == 0, json = std::strcmp(argv[i], "--json") == 0;
        std::string* file = std::strcmp(argv[i], "--catalogue") == 0    ? &options.catalogue
                            : std::strcmp(argv[i], "--prometheus") == 0 ? &options.metrics
                            : std::strcmp(argv[i], "--capture") == 0    ? &options.capture
                                                                        : nullptr;
        Options::Format asked = xml ? Options::Format::Xml : Options::Format::Json;
        if ((xml || json) && (!formatGiven || options.format == asked)) {
            formatGiven = true;
            options.format = asked;
        } else if (file != nullptr && file->empty() && i + 1 < argc && argv[i + 1][0] != '\0') {
            *file = argv[++i];
        } else if (std::strcmp(argv[i], "--anonymize") == 0 && !options.anonymize) {
            options.anonymize = true;
        } else {
            return false;
        }
    }
    if (!options.capture.empty() || options.anonymize)
        return !options.capture.empty() && !formatGiven && options.catalogue.empty() && options.metrics.empty();
    if (!formatGiven && !options.metrics.empty()) options.format = Options::Format::None;
    bool catalogueShown = options.format == Options::Format::Json || !options.metrics.empty();
    return options.catalogue.empty() || catalogueShown;
}

int Probe(int argc, char** argv) {
    if (AnsweredHelpOrVersion(argc, argv, "hbafw-inventory", kUsage)) return kExitAnswered;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return kExitBadCommandLine;
    }
    SystemPaths paths;
    // A capture and a catalogue run the vendor builds' discovery, which asks
    // their tools: never beside a flash, so under the components' own lock,
    // which a reader takes without creating it.
    std::optional<RunLock> lock;
    if (!options.capture.empty() || !options.catalogue.empty()) lock.emplace(paths.runLock, RunLock::Join::IfPresent);
    bool refused = lock && lock->state() == RunLock::State::Refused;
    bool busy = lock && lock->state() == RunLock::State::HeldElsewhere;
    if (refused) std::cerr << kLockRefused << paths.runLock << "\n";
    if (!options.capture.empty()) {
        if (busy) std::cerr << kAnotherRun;
        if (busy || refused) return kExitFileFailed;
        return CaptureMachine(options.capture, options.anonymize, paths, std::cout, std::cerr) ? kExitAdaptersFound
                                                                                               : kExitFileFailed;
    }
    // Unless text is asked for, the enumeration's own status lines must not break the document.
    Inventory inventory = TakeInventory(paths, options.format == Options::Format::Text ? std::cout : std::cerr);
    int code = inventory.adapters.empty() ? kExitNoAdapters : kExitAdaptersFound;
    if (!options.catalogue.empty()) {
        inventory.compliance = DecideCompliance(options.catalogue, paths, !busy && !refused);
        inventory.compliance->busy = busy;
        if (busy) std::cerr << kCatalogueBusy;
        if (!inventory.compliance->catalogueRead) std::cerr << kCatalogueUnreadable << options.catalogue << "\n";
        if (!inventory.compliance->catalogueRead || refused) {
            code = kExitFileFailed;
        } else if (code == kExitNoAdapters && !inventory.compliance->items.empty()) {
            // A build that finds its adapters without the HBA API layer (Emulex) still found some.
            code = kExitAdaptersFound;
        }
    }
    if (options.format == Options::Format::Xml) PrintXml(inventory, paths);
    if (options.format == Options::Format::Json) std::cout << InventoryJson(inventory, paths);
    if (options.format == Options::Format::Text) PrintText(inventory, paths);
    std::cout << std::flush;
    if (!options.metrics.empty() && !ReplaceFile(options.metrics, InventoryMetrics(inventory, std::time(nullptr)),
                                                FolderHandle::Owners::Anyone)) {
        std::cerr << kMetricsNotWritten << options.metrics << "\n";
        code = kExitFileFailed;
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // It runs find, grep, cat and wc as root, as the vendor builds do.
    PrepareProcess();
    try {
        return Probe(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << kOutOfMemory;
        return kExitOutOfMemory;
    }
}
