// The run lock is taken only once the command line asks for a run, so the
// usage text and the command-line error work while another run holds it.
#include "framework/entry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <csignal>

#include "framework/run_lock.h"

namespace hbafw {

namespace {
// Shown even in silent mode: a caller must learn why nothing was done.
void ReportRefusal(ComponentLog& log, const std::string& text) {
    if (log.quiet()) ConsoleWrite(text);
    log.Write(text);
}
}  // namespace

void PrepareProcess() {
    // A closed standard descriptor would otherwise be taken by the first file
    // opened (console text would land in the lock file).
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0) continue;
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
    // An inherited "ignore" would make the kernel reap the flash's supervisor
    // before its end could be waited for.
    std::signal(SIGCHLD, SIG_DFL);
    // Commands are found where root's are, never through the caller's PATH.
    ::setenv("PATH", kCommandPath, 1);
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
