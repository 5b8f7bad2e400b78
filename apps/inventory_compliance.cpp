// The vendor build's status lines go to standard error here, so standard
// output carries only the document asked for.
#include "apps/inventory_compliance.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

#include "components/brocade/component.h"
#include "components/emulex/component.h"
#include "components/qlogic/component.h"
#include "framework/console.h"
#include "framework/file_io.h"
#include "framework/platform_detection.h"
#include "framework/reference_catalogue.h"

namespace hbafw {

namespace {

std::string Narrow(const std::wstring& text) { return NarrowForConsole(text); }

// A build lists every adapter its catalogue names, another vendor's too on a
// mixed server; that one's own build decides those.
template <class Component>
void Discover(const ReferenceCatalogue& catalogue, const SystemPaths& paths, BuildRun& run,
              std::vector<ComplianceItem>& items) {
    Component component(paths);
    component.log.setQuiet(true);
    component.catalogue = catalogue;
    DetectOperatingSystem(component);
    run.discovered = component.DiscoverAdapters();
    if (!run.discovered) return;
    for (const DiscoveredDevice& device : component.result.devices) {
        std::string deviceId = Narrow(device.device_id);
        if (BuildForPciId(deviceId) != run.build) continue;
        ++run.devices;
        for (const FirmwareItem& item : device.fw_items)
            items.push_back({deviceId, Narrow(device.product_id), Narrow(item.type), Narrow(item.active_version),
                             Narrow(item.version), Narrow(item.action), run.build});
    }
}

void DiscoverWith(const ReferenceCatalogue& catalogue, const SystemPaths& paths, BuildRun& run,
                  std::vector<ComplianceItem>& items) {
    if (run.build == "hbafw-qlogic") Discover<QLogicComp::CComponent>(catalogue, paths, run, items);
    if (run.build == "hbafw-emulex") Discover<EmulexComp::CComponent>(catalogue, paths, run, items);
    if (run.build == "hbafw-brocade") Discover<BrocadeComp::CComponent>(catalogue, paths, run, items);
}

// Enumeration lines written to std::cout land on standard error meanwhile.
class CoutToCerr {
public:
    CoutToCerr() : saved_(std::cout.rdbuf(std::cerr.rdbuf())) {}
    ~CoutToCerr() { std::cout.rdbuf(saved_); }
    CoutToCerr(const CoutToCerr&) = delete;
    CoutToCerr& operator=(const CoutToCerr&) = delete;

private:
    std::streambuf* saved_;
};

}  // namespace

Compliance DecideCompliance(const std::string& cataloguePath, const SystemPaths& paths, bool compare) {
    Compliance compliance;
    compliance.cataloguePath = cataloguePath;
    ReferenceCatalogue catalogue;
    compliance.catalogueRead = LoadCatalogue(catalogue, cataloguePath);
    if (!compliance.catalogueRead || !compare) return compliance;
    for (const std::string& build : BuildsOnPciBus(paths)) compliance.builds.push_back({build});
    if (compliance.builds.empty()) return compliance;
    compliance.build = compliance.builds.front().build;

    // The vendor tools are named relative to the package's folder.
    int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0) return compliance;
    if (::chdir(FolderOf(cataloguePath).c_str()) == 0) {
        SystemPaths quiet = paths;
        quiet.componentLog.clear();
        CoutToCerr redirect;
        std::fflush(stdout);
        int savedOut = ::dup(STDOUT_FILENO);
        if (savedOut >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) {
            for (BuildRun& run : compliance.builds) {
                DiscoverWith(catalogue, quiet, run, compliance.items);
                compliance.discovered = compliance.discovered || run.discovered;
            }
            std::fflush(stdout);
            ::dup2(savedOut, STDOUT_FILENO);
        }
        if (savedOut >= 0) ::close(savedOut);
        if (::fchdir(home) != 0) compliance.discovered = false;
    }
    ::close(home);
    return compliance;
}

}  // namespace hbafw
