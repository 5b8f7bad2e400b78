#include "framework/entry.h"

namespace hbafw {

int ParseAndRun(CBaseCmp& component, int argc, const char* const* argv) {
    try {
        int parsed = ParseCommandLine(component, argc, argv);
        if (parsed == kParseBad) {
            // Not through the log, and shown even in silent mode.
            ConsoleWrite(kBadCommandLine);
            return kExitFailure;
        }
        if (parsed == kParseUsage) return kExitNothingDone;
        return Run(component);
    } catch (const std::bad_alloc&) {
        component.log.Write(kOutOfMemory);
        return kExitFailure;
    }
}

}  // namespace hbafw
