// Written by hand rather than through a library: the document is small, flat
// and fixed, and the one delicate part is the string escaping below.
#include "apps/inventory_json.h"

#include <cstdio>

namespace hbafw {

namespace {

// Members of one object, written in the order they are added.
class JsonObject {
public:
    explicit JsonObject(std::string indent) : indent_(std::move(indent)) {}

    JsonObject& Raw(const char* name, const std::string& value) {
        text_ += (text_.empty() ? "{\n" : ",\n") + indent_ + "  " + JsonString(name) + ": " + value;
        return *this;
    }
    JsonObject& Text(const char* name, const std::string& value) { return Raw(name, JsonString(value)); }
    JsonObject& Number(const char* name, long long value) { return Raw(name, std::to_string(value)); }
    JsonObject& Flag(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    std::string End() const { return text_.empty() ? "{}" : text_ + "\n" + indent_ + "}"; }

private:
    std::string indent_;
    std::string text_;
};

template <class Row, class Write>
std::string Array(const std::vector<Row>& rows, const std::string& indent, Write write) {
    if (rows.empty()) return "[]";
    std::string text = "[";
    for (std::size_t i = 0; i < rows.size(); ++i)
        text += (i == 0 ? "\n" : ",\n") + indent + "  " + write(rows[i], indent + "  ");
    return text + "\n" + indent + "]";
}

std::string OptionalText(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string Adapter(const EnumeratedAdapter& adapter, const std::string& indent) {
    const AdapterRecord& record = adapter.record;
    std::string pci = JsonObject(indent + "  ")
                          .Text("id", record.pciId)
                          .Text("subsystem_id", record.subsystemId)
                          .Number("domain", adapter.pciDomain)
                          .Number("bus", adapter.pciBus)
                          .Number("function", adapter.pciFunction)
                          .End();
    std::string ports = Array(adapter.ports, indent + "  ", [](const EnumeratedPort& port, const std::string& in) {
        return JsonObject(in).Text("wwn", port.wwn).Text("state", port.state).Text("speed", port.speed).End();
    });
    return JsonObject(indent)
        .Text("name", adapter.adapterName)
        .Raw("build", OptionalText(BuildForPciId(record.pciId)))
        .Text("library", adapter.servingLibrary)
        .Flag("refreshed", adapter.status == 0)
        .Text("manufacturer", adapter.manufacturer)
        .Text("model", record.model)
        .Text("model_description", adapter.modelDescription)
        .Text("serial_number", adapter.serialNumber)
        .Raw("pci", pci)
        .Text("node_wwn", record.nodeWwn)
        .Text("port_wwn", record.portWwn)
        .Raw("ports", ports)
        .Text("driver_name", adapter.driverName)
        .Text("driver_version", record.driverVersion)
        .Text("firmware_version", record.firmwareVersion)
        .Text("option_rom_version", record.optionRomVersion)
        .End();
}

std::string Catalogue(const Compliance& compliance, const std::string& indent) {
    std::string items = Array(compliance.items, indent + "  ", [](const ComplianceItem& item, const std::string& in) {
        return JsonObject(in)
            .Text("device_id", item.deviceId)
            .Text("product", item.product)
            .Text("type", item.type)
            .Text("active_version", item.activeVersion)
            .Text("package_version", item.packageVersion)
            .Text("action", item.action)
            .Text("build", item.build)
            .End();
    });
    std::string builds = Array(compliance.builds, indent + "  ", [](const BuildRun& run, const std::string& in) {
        return JsonObject(in)
            .Text("build", run.build)
            .Flag("discovered", run.discovered)
            .Raw("devices", std::to_string(run.devices))
            .End();
    });
    return JsonObject(indent)
        .Text("path", compliance.cataloguePath)
        .Flag("read", compliance.catalogueRead)
        .Raw("build", OptionalText(compliance.build))
        .Raw("builds", builds)
        .Flag("discovered", compliance.discovered)
        .Flag("busy", compliance.busy)
        .Raw("items", items)
        .End();
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : Utf8FromBytes(text)) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string InventoryJson(const Inventory& inventory, const SystemPaths& paths) {
    std::string libraries = Array(inventory.libraries, "  ", [](const LibraryRow& library, const std::string& in) {
        return JsonObject(in)
            .Number("slot", static_cast<long long>(library.slot))
            .Text("name", library.name)
            .Text("path", library.path)
            .Text("status", library.status)
            .End();
    });
    std::string adapters = Array(inventory.adapters, "  ", Adapter);
    std::string restart = JsonObject("  ")
                              .Flag("required", inventory.restart.required)
                              .Raw("since", inventory.restart.required
                                                ? std::to_string(static_cast<long long>(inventory.restart.since))
                                                : "null")
                              .End();
    std::string lastRun = "null";
    if (inventory.lastRun) {
        const LastRun& run = *inventory.lastRun;
        lastRun = JsonObject("  ")
                      .Number("time", static_cast<long long>(run.time))
                      .Raw("exit_code", run.exitCode ? std::to_string(*run.exitCode) : "null")
                      .Text("action", run.action)
                      .Text("outcome", run.outcome)
                      .End();
    }
    JsonObject document("");
    document.Number("schema_version", kJsonSchemaVersion)
        .Text("hba_conf", paths.hbaConf)
        .Flag("hba_conf_read", inventory.configurationRead)
        .Raw("libraries", libraries)
        .Raw("adapters", adapters)
        .Raw("restart", restart)
        .Raw("last_run", lastRun);
    if (inventory.compliance) document.Raw("catalogue", Catalogue(*inventory.compliance, "  "));
    return document.End() + "\n";
}

}  // namespace hbafw
