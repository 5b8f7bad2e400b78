// Cost of EnumerateAdapters for 1 to 256 simulated adapters over a sysfs tree
// of realistic size, both ways of walking /sys (one search per adapter, and
// one per enumeration), beside the floor: one find over the same tree. Per
// case it gives the time in finds and the processes one enumeration starts.
// It measures whole enumerations; it does not check their records (the tests do).
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>

#include "inventory/adapter_enumeration.h"
#include "inventory/shell_pipe.h"
#include "sim/lay.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// About 40 entries per filler device: some 40 000 entries, as on a server.
constexpr std::size_t kFillerDevices = 1000;

struct BenchMachine {
    fs::path root;
    hbafw::SystemPaths paths;

    explicit BenchMachine(int adapters) {
        char pattern[] = "/tmp/hbafw-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        root = pattern;
        // Laid out as a sandboxed machine, but read in place: hba.conf names the
        // library by its path in this folder.
        ::setenv("HBAFW_SIM_DIR", (root / "sim").c_str(), 1);
        hbafw::sim::MachineDescription description{
            .hbaConf = "qla2xxx " + (root / "usr/lib/libqlsdm.so").string() + "\n",
            .libraries = {{.path = "/usr/lib/libqlsdm.so"}},
            .sysfsFiller = kFillerDevices};
        for (int i = 0; i < adapters; ++i) {
            hbafw::sim::SimulatedAdapter& adapter = description.adapters.emplace_back();
            char wwn[32];
            std::snprintf(wwn, sizeof wwn, "20:00:00:1B:32:0A:%02X:%02X", i / 256, i % 256);
            adapter.name = "qlogic-QLE2562-" + std::to_string(i);
            adapter.nodeWwn = wwn;
            wwn[0] = '2', wwn[1] = '1';
            adapter.portWwns = {wwn};
            adapter.pci = {0, static_cast<std::uint8_t>(0x10 + i / 8), 0, static_cast<std::uint8_t>(i % 8),
                           0x1077, 0x2532, 0x1077, 0x015c};
        }
        hbafw::sim::Lay(description, root);
        paths.hbaConf = (root / "etc/hba.conf").string();
        paths.sysRoot = (root / "sys").string();
        paths.qlogicLibraries = {(root / "usr/lib/libqlsdm.so").string()};
    }
    ~BenchMachine() { fs::remove_all(root); }

    std::string FindCommand() const {
        return "find " + hbafw::QuoteShellWord(paths.sysRoot) + " -name subsystem_vendor";
    }
};

void RunFind(const std::string& command) {
    std::size_t lines = 0;
    hbafw::ReadCommandLines(command, [&](const std::string&) { return ++lines, false; });
    benchmark::DoNotOptimize(lines);
}

// The quickest of a few finds over the machine's tree, in seconds.
double FindFloorSeconds(const BenchMachine& machine) {
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        Clock::time_point start = Clock::now();
        RunFind(machine.FindCommand());
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

std::size_t EnumerateOnce(const BenchMachine& machine, hbafw::SysfsWalk walk) {
    // The simulated library's call log would otherwise grow across iterations.
    fs::remove(machine.root / "sim/calls.log");
    std::list<hbafw::AdapterRecord> records;
    hbafw::EnumerateAdapters(records, machine.paths, walk);
    benchmark::DoNotOptimize(records);
    return records.size();
}

// Processes (and threads) that one enumeration starts, or -1 when no PID namespace can
// be made here. Inside a fresh namespace PIDs are handed out from 1 upwards,
// so the PID of a probe forked after the work tells how many came before it;
// other processes on the machine cannot disturb the count.
long CountProcessesStarted(const BenchMachine& machine, hbafw::SysfsWalk walk) {
    int channel[2];
    if (::pipe(channel) != 0) return -1;
    pid_t outer = ::fork();
    if (outer < 0) return -1;
    if (outer == 0) {
        ::close(channel[0]);
        long count = -1;
        if (::unshare(CLONE_NEWPID) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWPID) == 0) {
            pid_t first = ::fork();  // PID 1 of the namespace, which reports
            if (first > 0) ::waitpid(first, nullptr, 0), ::_exit(0);
            if (first == 0) {
                EnumerateOnce(machine, walk);
                pid_t probe = ::fork();
                if (probe == 0) ::_exit(0);
                if (probe > 0) ::waitpid(probe, nullptr, 0), count = probe - 2;  // neither PID 1 nor the probe
            }
        }
        ssize_t written = ::write(channel[1], &count, sizeof count);
        ::_exit(written == static_cast<ssize_t>(sizeof count) ? 0 : 1);
    }
    ::close(channel[1]);
    long count = -1;
    if (::read(channel[0], &count, sizeof count) != static_cast<ssize_t>(sizeof count)) count = -1;
    ::close(channel[0]);
    ::waitpid(outer, nullptr, 0);
    return count;
}

// Arguments: adapters, then 0 for one search per adapter or 1 for one per enumeration.
void BM_EnumerateAdapters(benchmark::State& state) {
    const int adapters = static_cast<int>(state.range(0));
    const hbafw::SysfsWalk walk =
        state.range(1) != 0 ? hbafw::SysfsWalk::OncePerEnumeration : hbafw::SysfsWalk::PerAdapter;
    BenchMachine machine(adapters);
    double seconds = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        if (EnumerateOnce(machine, walk) != static_cast<std::size_t>(adapters))
            state.SkipWithError("wrong adapter count");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    double perEnumeration = seconds / static_cast<double>(state.iterations());
    state.counters["x_find"] = perEnumeration / FindFloorSeconds(machine);
    long processes = CountProcessesStarted(machine, walk);
    if (processes >= 0) state.counters["processes"] = static_cast<double>(processes);
    else state.SetLabel("no PID namespace here: processes not counted");
    // Seconds per adapter (printed with an SI prefix: 150m is 150 ms).
    state.counters["per_adapter"] = benchmark::Counter(
        static_cast<double>(adapters), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EnumerateAdapters)
    ->ArgNames({"adapters", "shared"})
    ->ArgsProduct({{1, 16, 64, 256}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One find over the whole tree: the part of each adapter's lookup that grows with sysfs.
void BM_FindFloor(benchmark::State& state) {
    BenchMachine machine(1);
    std::string command = machine.FindCommand();
    for (auto _ : state) RunFind(command);
}
BENCHMARK(BM_FindFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
