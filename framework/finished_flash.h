// The component's own record of a flash that ended well, kept until the
// machine restarts, and the system's restart signal it raises with it: the
// one account of flashed firmware that no caller can miss, however the run
// that flashed ended. Nothing here logs; a record that cannot be written
// changes no message and no exit code of the run.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "inventory/system_paths.h"

namespace hbafw {

// Records a flash that ended at now in paths.finishedFlash (its folder
// root-only), keeping the time of this boot's first one, and names the
// package in the restart signal.
void RecordFinishedFlash(const SystemPaths& paths, std::time_t now);

// When this boot's first finished flash ended; none when the record is of
// an earlier boot, missing or unreadable.
std::optional<std::time_t> FinishedFlashThisBoot(const SystemPaths& paths);

// The record's text: the boot id, then the time, a line each.
std::string FinishedFlashText(const std::string& bootId, std::time_t time);

}  // namespace hbafw
