#include "framework/trust_refusals.h"

#include "framework/file_io.h"
#include "inventory/file_trust.h"

namespace hbafw {

bool RefuseUnsafeTool(ComponentLog& log, const std::string& path) {
    if (PrepareTool(path, kToolMode) != ToolState::Unsafe) return false;
    log.Write(kToolRefused + path + kToolRefusedWhy);
    return true;
}

bool RefuseUnsafeImage(ComponentLog& log, const std::string& path) {
    if (PrepareTool(path, 0) != ToolState::Unsafe) return false;
    log.Write(kImageRefused + path + kToolRefusedWhy);
    return true;
}

void LogRefusedLibraries(ComponentLog& log) {
    for (const LibraryRefusal& refusal : RefusedLibraries())
        log.Write(kLibraryRefused + refusal.path + ": " + refusal.reason + ".\n");
}

}  // namespace hbafw
