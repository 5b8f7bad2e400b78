#include "framework/flash_engine.h"

#include <sys/wait.h>

#include <cstdlib>

#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {
constexpr const char* kEngineNotStarted = "ERROR! : The flash engine could not be started.\n";
constexpr const char* kEngineSignalled = "ERROR! : The flash engine was ended by signal ";
}  // namespace

std::string LogRedirection(const ComponentLog& log) {
    std::string path = QuoteShellWord(log.path());
    return " 1>> " + path + " 2>> " + path + " 3>> " + path;
}

EngineOutcome RunFlashEngine(const std::string& command) {
    int status = std::system(("exec " + command).c_str());
    if (status == -1) return {EngineOutcome::End::NotStarted, 0};
    if (WIFSIGNALED(status)) return {EngineOutcome::End::Signalled, WTERMSIG(status)};
    return {EngineOutcome::End::Exited, (status & 0xFF00) >> 8};
}

bool ReportAbnormalEnd(ComponentLog& log, const EngineOutcome& outcome) {
    switch (outcome.end) {
        case EngineOutcome::End::Exited:
            return false;
        case EngineOutcome::End::NotStarted:
            log.Write(kEngineNotStarted);
            return true;
        case EngineOutcome::End::Signalled:
            log.Write(kEngineSignalled).Write(outcome.value).Write(".\n");
            return true;
    }
    return false;
}

}  // namespace hbafw
