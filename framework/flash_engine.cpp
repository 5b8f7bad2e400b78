#include "framework/flash_engine.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "framework/flash_signals.h"
#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {
constexpr const char* kEngineNotStarted = "ERROR! : The flash engine could not be started.\n";
constexpr const char* kEngineSignalled = "ERROR! : The flash engine was ended by signal ";
// Above the three descriptors the engine gets, so moving it there never clashes.
constexpr int kFirstFreeDescriptor = 10;

std::string StopNotice(int signal) {
    return "NOTICE : Received " + SignalName(signal) + " during the flash; the flash was allowed to finish.\n";
}

// Forks the shell for command with the log on descriptors 1 to 3; the status
// waitpid gave, or -1 when no engine could be started.
int ForkAndWait(int logFd, const std::string& shellCommand) {
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        FlashSignalShield::IgnoreInChild();
        for (int target = 1; target <= 3; ++target)
            if (::dup2(logFd, target) < 0) ::_exit(127);
        ::execl("/bin/sh", "sh", "-c", shellCommand.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return status;
}
}  // namespace

std::string LogRedirection(const ComponentLog& log) {
    std::string path = QuoteShellWord(log.path());
    return " 1>> " + path + " 2>> " + path + " 3>> " + path;
}

EngineOutcome RunFlashEngine(ComponentLog& log, const std::string& command) {
    int opened = log.OpenFile();
    if (opened < 0) return {EngineOutcome::End::NotStarted, 0};
    int logFd = ::fcntl(opened, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
    ::close(opened);
    if (logFd < 0) return {EngineOutcome::End::NotStarted, 0};

    int status;
    int stopRequest;
    {
        FlashSignalShield shield;
        status = ForkAndWait(logFd, "exec " + command);
        stopRequest = shield.StopRequest();
    }
    ::fsync(logFd);
    ::close(logFd);
    if (stopRequest != 0) log.Write(StopNotice(stopRequest));

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
