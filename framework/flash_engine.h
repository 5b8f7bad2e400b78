// Running a vendor's flash engine with its output appended to the log, and
// telling a real exit status from an engine that never finished. While it runs
// neither a hang-up, a stop request nor the death of the component ends it.
#pragma once

#include <string>
#include <vector>

#include "framework/component_log.h"
#include "framework/run_lock.h"

namespace hbafw {

// The lines every vendor's Flash writes around its engine.
inline constexpr const char* kExecuting = "Executing flash engine: ";
inline constexpr const char* kEngineExitCode = "Flash Engine exit code: ";

// Appended to the log by the flash's supervisor when the component that started
// the flash is gone (killed) before it logged the engine's end. One of the three
// endings follows it on the same line; callers that look for a flash's end after
// a lost run read this line.
inline constexpr const char* kStoppedDuringFlash = "NOTICE : The component was stopped during the flash; ";
// ... followed by kEngineExitCode and the status, or by one of these two.
inline constexpr const char* kStoppedEngineSignalled = "the flash engine was ended by signal ";
inline constexpr const char* kStoppedEngineNotStarted = "the flash engine could not be started.\n";
// Logged by a component whose flash supervisor vanished before reporting the
// engine's end: the engine may still be running and holds the lock.
inline constexpr const char* kEngineEndNotSeen = "ERROR! : The end of the flash was not seen.\n";

struct EngineOutcome {
    // NotSeen: the supervisor vanished before reporting; the engine may still run.
    enum class End { Exited, NotStarted, Signalled, NotSeen };
    End end = End::NotStarted;
    int value = 0;  // exit status 0..255, or the signal number
};

// The words joined by blanks, as the "Executing" line shows a command.
std::string JoinWords(const std::vector<std::string>& words);

// " 1>> LOG 2>> LOG 3>> LOG" for the log's path, as a command line shows it.
std::string LogRedirection(const ComponentLog& log);

// Logs "Executing flash engine: " and shown, then runs program (argv[0] by its
// path, no shell) with descriptors 1, 2 and 3 appending to the log file and
// standard input from /dev/null, and logs how it ended: "Flash Engine exit
// code: " and the status, or an "ERROR! : " line. The engine is not started
// unless its "Executing" line reached the log and the lock (when given) holds
// the flashing mark on disk, nor when it cannot be executed.
//
// The engine runs under a supervising child in a session of its own, so no
// signal to the caller's process group or terminal reaches either; both hold
// the run lock until the engine ends. If the
// component is gone before it logged the end, the supervisor appends
// kStoppedDuringFlash and the ending instead. SIGHUP, SIGINT, SIGQUIT, SIGTERM
// and SIGPIPE are ignored by the engine and held off the component until the
// engine ends; the log is then flushed to disk and a stop request that arrived
// is logged as a NOTICE.
EngineOutcome RunFlashEngine(ComponentLog& log, const RunLock* lock, const std::string& shown,
                             const std::vector<std::string>& program);

}  // namespace hbafw
