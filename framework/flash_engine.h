// Running a vendor's flash engine with its output appended to the log, and
// telling a real exit status from an engine that never finished. While it runs
// neither a hang-up nor a stop request ends it or the component.
#pragma once

#include <string>

#include "framework/component_log.h"

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
    enum class End { Exited, NotStarted, Signalled };
    End end = End::NotStarted;
    int value = 0;  // exit status 0..255, or the signal number
};

// " 1>> LOG 2>> LOG 3>> LOG" for the log's path, as a command line shows it.
std::string LogRedirection(const ComponentLog& log);

// Runs command through the shell, which execs the engine, with descriptors 1,
// 2 and 3 appending to the log file: the redirection LogRedirection names,
// made by the component so that it never follows a link at the log path. A log
// that cannot be written leaves the engine not started. SIGHUP, SIGINT,
// SIGQUIT, SIGTERM and SIGPIPE are ignored by the engine and held off the
// component until the engine ends; the log is then flushed to disk and a stop
// request that arrived is logged as a NOTICE.
EngineOutcome RunFlashEngine(ComponentLog& log, const std::string& command);

// For an engine that did not exit normally: logs an "ERROR! : " line saying
// what happened and returns true; the caller then returns 7.
bool ReportAbnormalEnd(ComponentLog& log, const EngineOutcome& outcome);

}  // namespace hbafw
