// A simulated machine for end-to-end tests: a fresh folder laid out like the
// system's fixed paths (etc/, sys/, usr/, var/vkx, work/, sim/), run through
// sim/sandbox so a real binary sees it as the host, in the foreground or the
// background. What the folder holds comes from a description (sim/lay.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "sim/description.h"

namespace hbafw::sim {

// What one sandboxed command left behind.
struct RunResult {
    int exitCode = -1;  // the command's status, 128 + signal when it was killed
    std::string out;
    std::string err;
};

// The sandbox's own status when it cannot run on this host (not root, no namespaces).
inline constexpr int kSandboxUnavailable = 77;

// Paths of this build tree, fixed when the library was configured.
std::string DefaultSandbox();
std::string BuildBinary(std::string_view name);
// The built binary with its arguments, as a command for Run or a BackgroundRun.
std::vector<std::string> BuildCommand(std::string_view binary, const std::vector<std::string>& arguments = {});

class Machine;

// A sandboxed command started without waiting for it, for acting mid-run. Its
// output goes to files of the machine's sim/ folder, or standard output to a
// pipe whose reader is already gone. Destroying it kills a command still running.
class BackgroundRun {
public:
    enum class Console { Files, Closed };
    BackgroundRun(const Machine& machine, const std::vector<std::string>& command, const std::string& tag,
                  Console console = Console::Files);
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    bool started() const { return pid_ > 0; }
    // Waits for the command; its output is read back from the files.
    RunResult Wait();

private:
    const Machine& machine_;
    std::string out_, err_;
    int pid_ = -1;
};

// Test support: a setup step that cannot be done (no temp folder, no fork)
// throws a standard exception, so the test using it fails with the reason.
class Machine {
public:
    explicit Machine(std::string sandbox = DefaultSandbox());
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path Path(std::string_view relative) const { return root_ / relative; }

    // Lays the described machine out in the folder (sim/lay.h).
    void Lay(const MachineDescription& description) const;

    // Writes (replacing) a file below the folder, creating its parent folders.
    void WriteFile(std::string_view relative, std::string_view content) const;
    bool Exists(std::string_view relative) const;
    // The whole file, or empty when it is missing.
    std::string ReadFile(std::string_view relative) const;

    // Runs the command in the sandbox with work/ as its working directory.
    RunResult Run(const std::vector<std::string>& command) const;
    RunResult RunBuild(std::string_view binary, const std::vector<std::string>& arguments = {}) const {
        return Run(BuildCommand(binary, arguments));
    }

    std::string Log() const { return ReadFile(kLogFile); }
    bool LogExists() const { return Exists(kLogFile); }
    // The sandbox mounts var/vkx read-only while this flag file exists.
    void SetLogUnwritable(bool unwritable) const;

    static constexpr std::string_view kLogFile = "var/vkx/Component.log";
    static constexpr std::string_view kReferenceFile = "work/reference.xml";

private:
    friend class BackgroundRun;
    // The sandbox command line for command, as exec's argument words.
    std::vector<std::string> SandboxWords(const std::vector<std::string>& command) const;

    std::string sandbox_;
    std::filesystem::path root_;
};

// The arguments of each flash call the named tool ("qlafwupdate", "elxflash",
// "bcu") received, one line per call.
inline std::string ToolCalls(const Machine& machine, const std::string& tool) {
    return machine.ReadFile("sim/" + tool + "/calls");
}

}  // namespace hbafw::sim
