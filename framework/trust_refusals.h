// The component's side of file trust: the log lines that refuse a tool, a
// boot image or a vendor library that someone other than root or this user
// could have chosen. The judgements themselves are inventory/file_trust.h's.
#pragma once

#include <string>

#include "framework/component_log.h"

namespace hbafw {

inline constexpr const char* kToolRefused = "ERROR! : Refusing to run ";
inline constexpr const char* kImageRefused = "ERROR! : Refusing to flash ";
inline constexpr const char* kToolRefusedWhy =
    ": it is a link or not a regular file, owned by another user, or writable by group or others.\n";
// ... followed by the path, ": ", the reason and ".\n".
inline constexpr const char* kLibraryRefused = "WARNING! : Not loading the library ";

// Before a vendor tool runs as root: a tool that is a link, not a regular file
// of root or this user, or that group or others may write, is refused with an
// "ERROR! : " line (true); otherwise it is made executable (0755), and false.
// A missing tool is left for its run to report.
bool RefuseUnsafeTool(ComponentLog& log, const std::string& path);

// The same rule for a file the tool flashes, judged as found and never changed.
bool RefuseUnsafeImage(ComponentLog& log, const std::string& path);

// One line per vendor library refused so far (inventory/file_trust.h), each once.
void LogRefusedLibraries(ComponentLog& log);

}  // namespace hbafw
