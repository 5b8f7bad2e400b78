// Lays a described machine out in a folder the way sim/sandbox expects it
// (sim/machines/README.md has the map): the files of the description, the
// built simulated library and tools, and a sysfs tree of its adapters. It
// runs nothing; sim/machine.h runs builds in the folder.
#pragma once

#include <filesystem>

#include "sim/description.h"

namespace hbafw::sim {

// Writes into root (created when missing), replacing files of the same name.
// Throws std::runtime_error or std::filesystem::filesystem_error when a file
// cannot be written.
void Lay(const MachineDescription& description, const std::filesystem::path& root);

}  // namespace hbafw::sim
