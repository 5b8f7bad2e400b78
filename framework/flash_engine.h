// Running a vendor's flash engine with its output appended to the log, and
// telling a real exit status from an engine that never finished.
#pragma once

#include <string>

#include "framework/component_log.h"

namespace hbafw {

// The lines every vendor's Flash writes around its engine.
inline constexpr const char* kExecuting = "Executing flash engine: ";
inline constexpr const char* kEngineExitCode = "Flash Engine exit code: ";

struct EngineOutcome {
    enum class End { Exited, NotStarted, Signalled };
    End end = End::NotStarted;
    int value = 0;  // exit status 0..255, or the signal number
};

// " 1>> LOG 2>> LOG 3>> LOG" for the log's path.
std::string LogRedirection(const ComponentLog& log);

// Runs command (already carrying its redirection) through the shell. The shell
// execs the engine, so a signal that ends the engine is seen as such rather
// than as an exit status the tables would misread.
EngineOutcome RunFlashEngine(const std::string& command);

// For an engine that did not exit normally: logs an "ERROR! : " line saying
// what happened and returns true; the caller then returns 7.
bool ReportAbnormalEnd(ComponentLog& log, const EngineOutcome& outcome);

}  // namespace hbafw
