// The run lock is taken only once the command line asks for a run, so the
// usage text and the command-line error work while another run holds it.
#include "framework/entry.h"

#include "framework/run_lock.h"

namespace hbafw {

namespace {
// Shown even in silent mode: a caller must learn why nothing was done.
void ReportAnotherRun(ComponentLog& log) {
    if (log.quiet()) ConsoleWrite(kAnotherRun);
    log.Write(kAnotherRun);
}
}  // namespace

int ParseAndRun(CBaseCmp& component, int argc, const char* const* argv) {
    try {
        int parsed = ParseCommandLine(component, argc, argv);
        if (parsed == kParseBad) {
            // Not through the log, and shown even in silent mode.
            ConsoleWrite(kBadCommandLine);
            return kExitFailure;
        }
        if (parsed == kParseUsage) return kExitNothingDone;
        RunLock lock(component.paths.runLock);
        if (lock.state() == RunLock::State::HeldElsewhere) {
            ReportAnotherRun(component.log);
            return kExitFailure;
        }
        int code = Run(component);
        component.log.Sync();
        return code;
    } catch (const std::bad_alloc&) {
        component.log.Write(kOutOfMemory);
        return kExitFailure;
    }
}

}  // namespace hbafw
