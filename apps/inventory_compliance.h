// Compliance against a package's catalogue, decided by the vendor build
// itself: its discovery runs in the catalogue's folder (where the package's
// tools are) exactly as a self-discovery run would, but keeps no log, writes
// no report and flashes nothing.
#pragma once

#include <string>

#include "apps/inventory_view.h"
#include "inventory/system_paths.h"

namespace hbafw {

// The build is the one whose vendor the catalogue's first device names. A
// catalogue that cannot be read, or a discovery that fails (no adapter, a
// tool refused or missing), leaves discovered false; so does compare false,
// for which the discovery does not run at all.
Compliance DecideCompliance(const std::string& cataloguePath, const SystemPaths& paths, bool compare);

}  // namespace hbafw
