#include "apps/inventory_metrics.h"

#include <utility>
#include <vector>

#include "framework/console.h"
#include "framework/firmware_action.h"

namespace hbafw {

namespace {

using Labels = std::vector<std::pair<const char*, std::string>>;

class Family {
public:
    Family(std::string& out, const char* name, const char* help) : out_(out), name_(name) {
        out_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void Sample(const Labels& labels, long long value) {
        out_ += name_;
        for (std::size_t i = 0; i < labels.size(); ++i)
            out_ += (i == 0 ? "{" : ",") + std::string(labels[i].first) + "=" + LabelValue(labels[i].second);
        out_ += (labels.empty() ? " " : "} ") + std::to_string(value) + "\n";
    }

private:
    std::string& out_;
    const char* name_;
};

void AdapterFamilies(std::string& out, const Inventory& inventory) {
    Family count(out, "hbafw_adapters", "Adapters the HBA API layer enumerates.");
    count.Sample({}, static_cast<long long>(inventory.adapters.size()));
    Family info(out, "hbafw_adapter_info", "One adapter as the HBA API layer shows it; always 1.");
    for (std::size_t i = 0; i < inventory.adapters.size(); ++i) {
        const EnumeratedAdapter& adapter = inventory.adapters[i];
        const AdapterRecord& record = adapter.record;
        info.Sample({{"index", std::to_string(i)},
                     {"adapter", adapter.adapterName},
                     {"build", BuildForPciId(record.pciId)},
                     {"model", record.model},
                     {"serial_number", adapter.serialNumber},
                     {"node_wwn", record.nodeWwn},
                     {"port_wwn", record.portWwn},
                     {"pci_id", record.pciId},
                     {"subsystem_id", record.subsystemId},
                     {"driver_version", record.driverVersion},
                     {"firmware_version", record.firmwareVersion},
                     {"option_rom_version", record.optionRomVersion}},
                    1);
    }
}

void ComplianceFamilies(std::string& out, const Compliance& compliance) {
    Family discovered(out, "hbafw_catalogue_discovered",
                      "1 when the package's vendor build discovered the adapters against its catalogue.");
    for (const BuildRun& run : compliance.builds) discovered.Sample({{"build", run.build}}, run.discovered ? 1 : 0);
    auto identity = [&compliance](std::size_t i) -> Labels {
        const ComplianceItem& entry = compliance.items[i];
        return {{"index", std::to_string(i)}, {"build", entry.build}, {"device_id", entry.deviceId},
                {"type", entry.type}};
    };
    // A family's samples must stay together, so one pass per family.
    Family item(out, "hbafw_firmware_item_info", "One firmware item as the vendor build decides it; always 1.");
    for (std::size_t i = 0; i < compliance.items.size(); ++i) {
        const ComplianceItem& entry = compliance.items[i];
        Labels labels = identity(i);
        labels.insert(labels.end(), {{"product", entry.product},
                                     {"active_version", entry.activeVersion},
                                     {"package_version", entry.packageVersion},
                                     {"action", entry.action}});
        item.Sample(labels, 1);
    }
    Family update(out, "hbafw_update_available", "1 when the package's version of the item is newer.");
    for (std::size_t i = 0; i < compliance.items.size(); ++i)
        update.Sample(identity(i), compliance.items[i].action == NarrowForConsole(kActionUpgrade) ? 1 : 0);
}

}  // namespace

std::string LabelValue(const std::string& text) {
    std::string out = "\"";
    for (char c : Utf8FromBytes(text)) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string InventoryMetrics(const Inventory& inventory, std::time_t now) {
    std::string out;
    AdapterFamilies(out, inventory);
    if (inventory.compliance) ComplianceFamilies(out, *inventory.compliance);
    Family restart(out, "hbafw_reboot_required", "1 while a flashed firmware waits for the machine's restart.");
    restart.Sample({}, inventory.restart.required ? 1 : 0);
    if (inventory.restart.required) {
        Family since(out, "hbafw_reboot_required_since_seconds", "When the restart became due, in Unix time.");
        since.Sample({}, static_cast<long long>(inventory.restart.since));
    }
    if (inventory.lastRun) {
        const LastRun& run = *inventory.lastRun;
        Family when(out, "hbafw_last_run_timestamp_seconds", "When the fleet module last ran here, in Unix time.");
        when.Sample({}, static_cast<long long>(run.time));
        Family info(out, "hbafw_last_run_info", "The fleet module's last run: its action and outcome; always 1.");
        info.Sample({{"action", run.action}, {"outcome", run.outcome}}, 1);
        if (run.exitCode) {
            Family code(out, "hbafw_last_run_exit_code", "The component's exit code in the fleet module's last run.");
            code.Sample({}, *run.exitCode);
        }
    }
    Family refreshed(out, "hbafw_inventory_refresh_timestamp_seconds", "When these metrics were written, in Unix time.");
    refreshed.Sample({}, static_cast<long long>(now));
    return out;
}

}  // namespace hbafw
