// A simulated QLogic machine shared by the end-to-end tests: two adapters
// (port WWNs ...:01 and ...:02), their catalogue, the simulated qlafwupdate,
// and the console text every run of it starts with. It asserts nothing.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "sim/adapters.h"
#include "sim/machine.h"
#include "sim/sysfs_tree.h"
#include "sim/vendor_tools.h"

namespace hbafw::e2e {

inline const std::string kUpToDiscovery =
    std::string(51, '-') + "\nLoading references...done.\nPerforming discovery...\n";
inline const std::string kFlashing = "Performing flash -- DO NOT INTERRUPT!\n";
inline const std::string kToolOutput =
    "qlafwupdate: flashing adapters (stdout)\nqlafwupdate: progress report (stderr)\nqlafwupdate: engine trace (fd 3)\n";

inline const std::string kCatalogue = R"(<?xml version="1.0"?>
<orvane_fchba_reference>
  <devices>
    <device>
      <type value="QLogic Fibre Channel HBA"/>
      <device_id value="1077.2532.1077.015C"/>
      <model value="QLE2562"/>
      <boot value="3.00"/>
      <duration value="120"/>
    </device>
    <device>
      <type value="QLogic Fibre Channel HBA"/>
      <device_id value="1077.2031.1077.0170"/>
      <model value="QLE2672"/>
      <boot value="3.20"/>
      <duration value="150"/>
    </device>
  </devices>
</orvane_fchba_reference>
)";

inline sim::SimulatedAdapter Card(int n, sim::PciFunction pci) {
    char node[32], port[32];
    std::snprintf(node, sizeof node, "20:00:00:1B:32:0A:0B:%02X", n);
    std::snprintf(port, sizeof port, "21:00:00:1B:32:0A:0B:%02X", n);
    sim::SimulatedAdapter adapter;
    adapter.name = "qlogic-QLE-" + std::to_string(n);
    adapter.nodeWwn = node;
    adapter.portWwns = {port};
    adapter.pci = pci;
    return adapter;
}

inline const sim::PciFunction kQle2562{0, 5, 0, 0, 0x1077, 0x2532, 0x1077, 0x015c};
inline const sim::PciFunction kQle2672{0, 7, 0, 0, 0x1077, 0x2031, 0x1077, 0x0170};

// Two adapters (port WWNs ...:01 and ...:02) with the given boot images.
inline void Lay(const sim::Machine& m, const std::string& image1, const std::string& image2,
                sim::EngineBehaviour flash = {}) {
    std::vector<sim::SimulatedAdapter> adapters = {Card(1, kQle2562), Card(2, kQle2672)};
    sim::SysfsTree tree(m.Path("sys"));
    tree.AddFiller(10);
    for (const auto& adapter : adapters) tree.AddAdapter(adapter.pci);
    sim::InstallVendorLibrary(m.Path("usr/lib/libqlsdm.so"));
    m.WriteFile("etc/hba.conf", "qla2xxx\t/usr/lib/libqlsdm.so\n");
    m.WriteFile("sim/adapters.conf", sim::Description(adapters));
    m.WriteFile("work/reference.xml", kCatalogue);
    sim::InstallQlafwupdate(m, {{"21:00:00:1B:32:0A:0B:01", image1}, {"21:00:00:1B:32:0A:0B:02", image2}}, flash);
}

}  // namespace hbafw::e2e
