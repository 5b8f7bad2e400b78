// Cost of EnumerateAdapters for 1 to 256 simulated adapters over a sysfs tree
// of realistic size, beside the floor it cannot beat: one find over the same
// tree per adapter. It measures wall time of whole enumerations; it does not
// check their records (the tests do).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>

#include "inventory/adapter_enumeration.h"
#include "inventory/shell_pipe.h"
#include "sim/adapters.h"
#include "sim/sysfs_tree.h"

namespace {

namespace fs = std::filesystem;

// About 40 entries per filler device: some 40 000 entries, as on a server.
constexpr std::size_t kFillerDevices = 1000;

struct BenchMachine {
    fs::path root;
    hbafw::SystemPaths paths;

    explicit BenchMachine(int adapters) {
        char pattern[] = "/tmp/hbafw-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        root = pattern;
        ::setenv("HBAFW_SIM_DIR", root.c_str(), 1);
        hbafw::sim::SysfsTree tree(root / "sys");
        tree.AddFiller(kFillerDevices);
        std::vector<hbafw::sim::SimulatedAdapter> described;
        for (int i = 0; i < adapters; ++i) {
            hbafw::sim::SimulatedAdapter adapter;
            char wwn[32];
            std::snprintf(wwn, sizeof wwn, "20:00:00:1B:32:0A:%02X:%02X", i / 256, i % 256);
            adapter.name = "qlogic-QLE2562-" + std::to_string(i);
            adapter.nodeWwn = wwn;
            wwn[0] = '2', wwn[1] = '1';
            adapter.portWwns = {wwn};
            adapter.pci = {0, static_cast<std::uint8_t>(0x10 + i / 8), 0, static_cast<std::uint8_t>(i % 8),
                           0x1077, 0x2532, 0x1077, 0x015c};
            tree.AddAdapter(adapter.pci);
            described.push_back(adapter);
        }
        std::ofstream(root / "adapters.conf") << hbafw::sim::Description(described);
        hbafw::sim::InstallVendorLibrary(root / "usr/lib/libqlsdm.so");
        std::ofstream(root / "hba.conf") << "qla2xxx " << (root / "usr/lib/libqlsdm.so").string() << "\n";
        paths.hbaConf = (root / "hba.conf").string();
        paths.sysRoot = (root / "sys").string();
        paths.qlogicLibraries = {(root / "usr/lib/libqlsdm.so").string()};
    }
    ~BenchMachine() { fs::remove_all(root); }
};

void BM_EnumerateAdapters(benchmark::State& state) {
    BenchMachine machine(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        // The simulated library's call log would otherwise grow across iterations.
        fs::remove(machine.root / "calls.log");
        std::list<hbafw::AdapterRecord> records;
        hbafw::EnumerateAdapters(records, machine.paths);
        if (records.size() != static_cast<std::size_t>(state.range(0))) state.SkipWithError("wrong adapter count");
        benchmark::DoNotOptimize(records);
    }
    // Seconds per adapter (printed with an SI prefix: 150m is 150 ms).
    state.counters["per_adapter"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EnumerateAdapters)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

// One find over the whole tree: the part of each adapter's lookup that grows with sysfs.
void BM_FindFloor(benchmark::State& state) {
    BenchMachine machine(1);
    std::string command = "find " + hbafw::QuoteShellWord(machine.paths.sysRoot) + " -name subsystem_vendor";
    for (auto _ : state) {
        std::size_t lines = 0;
        hbafw::ReadCommandLines(command, [&](const std::string&) { return ++lines, false; });
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_FindFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
