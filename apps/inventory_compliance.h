// Compliance against a package's catalogue, decided by the vendor build
// itself: its discovery runs in the catalogue's folder (where the package's
// tools are) exactly as a self-discovery run would, but keeps no log, writes
// no report and flashes nothing.
#pragma once

#include <string>

#include "apps/inventory_view.h"
#include "inventory/system_paths.h"

namespace hbafw {

// Every build whose vendor has adapters on the PCI bus runs (BuildsOnPciBus),
// and keeps the items of its own vendor's devices, as the fleet module's runs
// do. A catalogue that cannot be read, or no discovery that succeeds, leaves
// discovered false; so does compare false, for which no discovery runs.
Compliance DecideCompliance(const std::string& cataloguePath, const SystemPaths& paths, bool compare);

}  // namespace hbafw
