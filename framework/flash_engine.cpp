// The component forks a supervisor, which starts a session of its own and
// forks the engine; the supervisor reports the engine's end over a socket and
// waits for the component's acknowledgement that the end is logged. No
// acknowledgement means the component is gone, and the supervisor logs the end.
#include "framework/flash_engine.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "framework/child_process.h"
#include "framework/file_io.h"
#include "framework/flash_signals.h"
#include "framework/run_lock.h"
#include "inventory/shell_pipe.h"

namespace hbafw {

namespace {
constexpr const char* kEngineNotStarted = "ERROR! : The flash engine could not be started.\n";
constexpr const char* kEngineSignalled = "ERROR! : The flash engine was ended by signal ";
// Above the three descriptors the engine gets, so moving it there never clashes.
constexpr int kFirstFreeDescriptor = 10;

struct Report {
    EngineOutcome::End end;
    int value;
};

std::string StopNotice(int signal) {
    return "NOTICE : Received " + SignalName(signal) + " during the flash; the flash was allowed to finish.\n";
}

std::string EndingLine(const EngineOutcome& outcome) {
    switch (outcome.end) {
        case EngineOutcome::End::Exited: return kEngineExitCode + std::to_string(outcome.value) + "\n";
        case EngineOutcome::End::Signalled: return kEngineSignalled + std::to_string(outcome.value) + ".\n";
        case EngineOutcome::End::NotStarted: return kEngineNotStarted;
        case EngineOutcome::End::NotSeen: return kEngineEndNotSeen;
    }
    return kEngineNotStarted;
}

std::string StoppedLine(const Report& report) {
    switch (report.end) {
        case EngineOutcome::End::Exited:
            return kStoppedDuringFlash + std::string(kEngineExitCode) + std::to_string(report.value) + "\n";
        case EngineOutcome::End::Signalled:
            return kStoppedDuringFlash + std::string(kStoppedEngineSignalled) + std::to_string(report.value) + ".\n";
        default: return kStoppedDuringFlash + std::string(kStoppedEngineNotStarted);
    }
}

bool ReadWhole(int fd, void* data, std::size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void NullStandardDescriptors() {
    int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2 && null >= 0; ++fd) ::dup2(null, fd);
    if (null > 2) ::close(null);
}

// In the engine child; returns only to report why exec failed.
int ExecEngine(int logFd, int lockFd, char* const* argv) {
    FlashSignalShield::IgnoreInChild();
    // Kept open across exec: the engine itself holds the lock while it lives.
    if (lockFd >= 0 && ::fcntl(lockFd, F_DUPFD, kFirstFreeDescriptor) < 0) return errno;
    int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 0) < 0) return errno;
    for (int target = 1; target <= 3; ++target)
        if (::dup2(logFd, target) < 0) return errno;
    // A program without "#!" is run by the shell, as through system().
    ::execvp(argv[0], argv);
    return errno;
}

[[noreturn]] void Supervise(int logFd, const RunLock* lock, int channel, char* const* argv) {
    const int lockFd = lock != nullptr ? lock->descriptor() : -1;
    ::setsid();
    FlashSignalShield::IgnoreInChild();
    NullStandardDescriptors();  // the caller's pipes must not wait for the flash
    Report report{EngineOutcome::End::NotStarted, 0};
    int failed[2];
    if (::pipe2(failed, O_CLOEXEC) == 0) {
        int failedWrite = ::fcntl(failed[1], F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
        ::close(failed[1]);
        pid_t engine = ::fork();
        if (engine == 0) {
            ::close(channel);
            int error = ExecEngine(logFd, lockFd, argv);
            ssize_t ignored = ::write(failedWrite, &error, sizeof error);
            (void)ignored;
            ::_exit(127);
        }
        ::close(failedWrite);
        int error = 0;
        bool execFailed = engine > 0 && ReadWhole(failed[0], &error, sizeof error);
        ::close(failed[0]);
        int status = 0;
        if (engine > 0 && WaitForChild(engine, status) && !execFailed) {
            if (WIFSIGNALED(status))
                report = {EngineOutcome::End::Signalled, WTERMSIG(status)};
            else
                report = {EngineOutcome::End::Exited, WEXITSTATUS(status)};
        }
    }
    ::send(channel, &report, sizeof report, MSG_NOSIGNAL);
    char logged = 0;
    bool endLogged = !ReadWhole(channel, &logged, 1) && WriteAll(logFd, StoppedLine(report)) && ::fsync(logFd) == 0;
    // Nobody is left to tell of a mark that stays; the next run reports it.
    if (endLogged && lock != nullptr) static_cast<void>(lock->ClearFlashing());
    ::_exit(0);
}

// The supervisor's report, or NotSeen when it vanished without one.
EngineOutcome Await(int channel, int& stopRequest, FlashSignalShield& shield) {
    Report report{};
    bool reported = ReadWhole(channel, &report, sizeof report);
    stopRequest = shield.StopRequest();
    if (!reported) return {EngineOutcome::End::NotSeen, 0};
    return {report.end, report.value};
}
}  // namespace

std::string JoinWords(const std::vector<std::string>& words) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : " ") + word;
    return joined;
}

std::string LogRedirection(const ComponentLog& log) {
    std::string path = QuoteShellWord(log.path());
    return " 1>> " + path + " 2>> " + path + " 3>> " + path;
}

EngineOutcome RunFlashEngine(ComponentLog& log, const RunLock* lock, const std::string& shown,
                             const std::vector<std::string>& program) {
    std::size_t failures = log.failures();
    log.Write(kExecuting).Write(shown).Write("\n");
    // A flash nobody logged could be neither audited nor recovered.
    int opened = log.failures() == failures && !program.empty() ? log.OpenFile() : -1;
    int logFd = opened >= 0 ? ::fcntl(opened, F_DUPFD_CLOEXEC, kFirstFreeDescriptor) : -1;
    if (opened >= 0) ::close(opened);
    int channel[2] = {-1, -1};
    bool ready = logFd >= 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) == 0;
    // Nor one whose mark would be lost with its component (a power cut).
    if (ready && lock != nullptr && !lock->SetFlashing()) {
        ::close(channel[0]);
        ::close(channel[1]);
        ready = false;
    }
    if (!ready) {
        if (logFd >= 0) ::close(logFd);
        log.Write(kEngineNotStarted);
        return {EngineOutcome::End::NotStarted, 0};
    }
    std::vector<char*> argv = ArgumentVector(program);

    EngineOutcome outcome{EngineOutcome::End::NotStarted, 0};
    int stopRequest = 0;
    pid_t supervisor;
    {
        FlashSignalShield shield;
        supervisor = ::fork();
        if (supervisor == 0) {
            ::close(channel[0]);
            Supervise(logFd, lock, channel[1], argv.data());
        }
        ::close(channel[1]);
        if (supervisor > 0) outcome = Await(channel[0], stopRequest, shield);
    }
    ::fsync(logFd);
    ::close(logFd);
    if (stopRequest != 0) log.Write(StopNotice(stopRequest));
    std::size_t before = log.failures();
    log.Write(EndingLine(outcome));
    // A mark that cannot be cleared only makes the next run warn.
    bool endLogged = outcome.end != EngineOutcome::End::NotSeen && log.failures() == before && log.Sync();
    if (endLogged && lock != nullptr) static_cast<void>(lock->ClearFlashing());
    char logged = 1;
    ::send(channel[0], &logged, 1, MSG_NOSIGNAL);
    ::close(channel[0]);
    int status = 0;
    if (supervisor > 0) WaitForChild(supervisor, status);
    return outcome;
}

}  // namespace hbafw
