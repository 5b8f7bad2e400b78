// Entry point of the inventory: appends one record per installed adapter.
#pragma once

#include <list>

#include "inventory/adapter_record.h"
#include "inventory/system_paths.h"

namespace hbafw {

// Returns 1 in every case; an empty list means no adapter was found.
int EnumerateAdapters(std::list<AdapterRecord>& adapters, const SystemPaths& paths = SystemPaths{});

}  // namespace hbafw
