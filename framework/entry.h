// The process entry of a vendor build: construct, parse, run, destroy.
#pragma once

#include <libxml/parser.h>

#include <new>

#include "framework/command_line.h"
#include "framework/console.h"
#include "framework/flash_signals.h"
#include "framework/process_start.h"
#include "framework/run_sequence.h"
#include "framework/tool_identity.h"

namespace hbafw {

inline constexpr std::string_view kBadCommandLine = "ERROR! : Failed to parse command line\n";
inline constexpr std::string_view kOutOfMemory = "ERROR! : Out of memory\n";

// Parses, then runs the component while holding the machine's run lock, and
// flushes the log to disk at the end. Allocation failure anywhere ends in exit
// code 7.
int ParseAndRun(CBaseCmp& component, int argc, const char* const* argv);

// The answer to ScanLongOptions' words, before any component exists: nothing
// is created, read or run. A version asked for is "nothing done", as the usage is.
int AnswerLongOptions(int scanned, std::string_view program);

// Component is the vendor's CComponent; it is destroyed before libxml2's global
// state is released, once, at the end of the process's use of it.
template <class Component>
int ComponentMain(int argc, const char* const* argv, std::string_view program) {
    int code = kExitFailure;
    PrepareProcess();
    SurviveClosedPipes();
    if (int scanned = ScanLongOptions(argc, argv); scanned != kParseRun) return AnswerLongOptions(scanned, program);
    try {
        Component component;
        code = ParseAndRun(component, argc, argv);
    } catch (const std::bad_alloc&) {
        ConsoleWrite(kOutOfMemory);
        code = kExitFailure;
    }
    xmlCleanupParser();
    return code;
}

}  // namespace hbafw
