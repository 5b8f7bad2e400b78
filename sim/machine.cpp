// The machine folder lives in a private temporary directory removed with the
// object. Commands run as child processes, in the foreground with both output
// streams captured or in the background writing them to files; nothing here
// mounts anything itself, that is the sandbox script's job.
#include "sim/machine.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "framework/child_process.h"
#include "sim/lay.h"

namespace hbafw::sim {

namespace {

std::filesystem::path MakeTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hbafw-machine.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    return pattern;
}

// Reads both pipes together so a chatty command cannot block on a full one.
void DrainPipes(int outFd, int errFd, RunResult& result) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

pid_t Spawn(const std::vector<std::string>& words, int in, int out, int err) {
    pid_t child = StartProgram(words, in, out, err);
    if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
    return child;
}

int WaitStatus(pid_t child) {
    int status = 0;
    WaitForChild(child, status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string DefaultSandbox() { return HBAFW_SIM_SANDBOX; }

std::string BuildBinary(std::string_view name) { return std::string(HBAFW_SIM_BIN_DIR) + "/" + std::string(name); }

std::vector<std::string> BuildCommand(std::string_view binary, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {BuildBinary(binary)};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

void Machine::Lay(const MachineDescription& description) const { sim::Lay(description, root_); }

Machine::Machine(std::string sandbox) : sandbox_(std::move(sandbox)), root_(MakeTempFolder()) {
    for (const char* folder : {"etc", "sim", "var/vkx", "work"}) std::filesystem::create_directories(root_ / folder);
}

Machine::~Machine() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void Machine::WriteFile(std::string_view relative, std::string_view content) const {
    std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

bool Machine::Exists(std::string_view relative) const {
    std::error_code ignored;
    return std::filesystem::exists(Path(relative), ignored);
}

std::string Machine::ReadFile(std::string_view relative) const {
    std::ifstream file(Path(relative), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void Machine::SetLogUnwritable(bool unwritable) const {
    if (unwritable) {
        WriteFile("sim/log-unwritable", "");
    } else {
        std::error_code ignored;
        std::filesystem::remove(Path("sim/log-unwritable"), ignored);
    }
}

std::vector<std::string> Machine::SandboxWords(const std::vector<std::string>& command) const {
    std::vector<std::string> words = {sandbox_, root_.string()};
    words.insert(words.end(), command.begin(), command.end());
    return words;
}

RunResult Machine::Run(const std::vector<std::string>& command) const {
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t child = Spawn(SandboxWords(command), devNull, outPipe[1], errPipe[1]);
    close(devNull);
    close(outPipe[1]);
    close(errPipe[1]);

    RunResult result;
    DrainPipes(outPipe[0], errPipe[0], result);
    result.exitCode = WaitStatus(child);
    return result;
}

BackgroundRun::BackgroundRun(const Machine& machine, const std::vector<std::string>& command, const std::string& tag,
                             Console console)
    : machine_(machine), out_("sim/" + tag + ".out"), err_("sim/" + tag + ".err") {
    int deadPipe[2] = {-1, -1};
    if (console == Console::Closed) {
        if (pipe2(deadPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
        close(deadPipe[0]);
    }
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = console == Console::Closed
                  ? deadPipe[1]
                  : open(machine.Path(out_).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(machine.Path(err_).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = Spawn(machine.SandboxWords(command), in, out, err);
    for (int fd : {in, out, err})
        if (fd >= 0) close(fd);
}

BackgroundRun::~BackgroundRun() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        WaitStatus(pid_);
    }
}

RunResult BackgroundRun::Wait() {
    RunResult result;
    if (pid_ > 0) result.exitCode = WaitStatus(pid_);
    pid_ = -1;
    result.out = machine_.ReadFile(out_);
    result.err = machine_.ReadFile(err_);
    return result;
}

}  // namespace hbafw::sim
