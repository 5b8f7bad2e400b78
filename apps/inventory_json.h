// The inventory as a JSON document of a versioned schema (man page
// hbafw-inventory(8) lists its members). Only ever added to: a member that
// changes meaning or goes away raises kJsonSchemaVersion.
#pragma once

#include <string>

#include "apps/inventory_view.h"

namespace hbafw {

inline constexpr int kJsonSchemaVersion = 1;

std::string InventoryJson(const Inventory& inventory, const SystemPaths& paths);

// text as a JSON string literal, quotes included; bytes as Utf8FromBytes reads them.
std::string JsonString(const std::string& text);

}  // namespace hbafw
