// The inventory as node_exporter textfile metrics (text exposition format),
// and their atomic placement where the textfile collector reads them. Every
// series carries an index label, so two identical adapters stay two series.
#pragma once

#include <ctime>
#include <string>

#include "apps/inventory_view.h"

namespace hbafw {

std::string InventoryMetrics(const Inventory& inventory, std::time_t now);

// text as a label value, quotes included: backslash, quote and newline escaped.
std::string LabelValue(const std::string& text);

}  // namespace hbafw
