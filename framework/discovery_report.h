// Writes the XML discovery report of a run: what was found and what would be
// done. It reads the discovery result and changes nothing.
#pragma once

#include <string>

#include "framework/records.h"

namespace hbafw {

// True when the report was saved to path. An existing regular file is replaced
// whole, only once the new report is complete on disk; on failure it is kept.
bool WriteDiscoveryReport(const DiscoveryResult& result, const std::string& path);

}  // namespace hbafw
