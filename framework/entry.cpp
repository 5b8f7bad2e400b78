// The run lock is taken only once the command line asks for a run, so the
// usage text and the command-line error work while another run holds it.
#include "framework/entry.h"

#include "framework/run_lock.h"

namespace hbafw {

namespace {
// Shown even in silent mode: a caller must learn why nothing was done.
void ReportRefusal(ComponentLog& log, const std::string& text) {
    if (log.quiet()) ConsoleWrite(text);
    log.Write(text);
}
}  // namespace

int AnswerLongOptions(int scanned, std::string_view program) {
    if (scanned == kParseBad) {
        ConsoleWrite(kBadCommandLine);
        return kExitFailure;
    }
    if (scanned == kParseVersion) ConsoleWrite(VersionText(program));
    return kExitNothingDone;
}

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
            ReportRefusal(component.log, std::string(kAnotherRun));
            return kExitFailure;
        }
        if (lock.state() == RunLock::State::Refused) {
            ReportRefusal(component.log, kLockRefused + component.paths.runLock + "\n");
            return kExitFailure;
        }
        if (lock.EarlierFlashUnseen()) {
            std::size_t failures = component.log.failures();
            component.log.Write(kEarlierFlashUnseen);
            // The mark is that flash's only record until the warning is on disk;
            // one that cannot be cleared is reported again next time.
            if (component.log.failures() == failures && component.log.Sync())
                static_cast<void>(lock.ClearFlashing());
        }
        component.runLock = &lock;
        int code = Run(component);
        component.log.Sync();
        return code;
    } catch (const std::bad_alloc&) {
        component.log.Write(kOutOfMemory);
        return kExitFailure;
    }
}

}  // namespace hbafw
