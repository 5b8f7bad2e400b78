// hbafw-inventory: shows an operator what the component will see before it
// flashes anything: the HBA API layer's library table, then every enumerated
// adapter with its record, ports and serving library; --xml writes the same
// as an XML document. It changes nothing and, like the components, reads no
// option file and no environment variable.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "framework/process_start.h"
#include "inventory/adapter_enumeration.h"
#include "inventory/file_trust.h"
#include "inventory/hba_api.h"
#include "inventory/system_paths.h"

namespace {

using namespace hbafw;

constexpr int kExitAdaptersFound = 0;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitNoAdapters = 3;
constexpr int kExitOutOfMemory = 7;

constexpr const char* kUsage =
    "Usage: hbafw-inventory [--xml]\n"
    "Lists the HBA API libraries of /etc/hba.conf and the adapters the firmware component would see.\n"
    "Exit status: 0 adapters found, 3 none found, 2 bad command line.\n";
constexpr const char* kNoConfiguration = "No HBA API configuration could be read: ";
constexpr const char* kLibraryRefused = "  Not loaded: ";
constexpr const char* kNoAdaptersFound = "No adapters found.\n";
constexpr const char* kOutOfMemory = "ERROR! : out of memory\n";

struct LibraryRow {
    std::size_t slot;
    std::string name, path, status;
};

struct Inventory {
    bool configurationRead = false;
    std::vector<LibraryRow> libraries;
    std::vector<EnumeratedAdapter> adapters;
};

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

int Probe(int argc, char** argv) {
    bool xml = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--xml") == 0) {
            xml = true;
        } else {
            std::cerr << kUsage;
            return kExitBadCommandLine;
        }
    }
    SystemPaths paths;
    // In XML mode the enumeration's own status lines must not break the document.
    Inventory inventory = TakeInventory(paths, xml ? std::cerr : std::cout);
    if (xml)
        PrintXml(inventory, paths);
    else
        PrintText(inventory, paths);
    std::cout << std::flush;
    return inventory.adapters.empty() ? kExitNoAdapters : kExitAdaptersFound;
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
