// A temporary folder standing in for the machine in inventory unit tests: the
// simulated vendor library copied under chosen names, its description and
// call log (through HBAFW_SIM_DIR, read by the simulated library only), an
// hba.conf, and SystemPaths pointing at all of it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "inventory/hba_api.h"
#include "inventory/system_paths.h"
#include "sim/adapters.h"

namespace hbafw::test {

class InventoryFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hbafw-inventory-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root = pattern;
        ::setenv("HBAFW_SIM_DIR", root.c_str(), 1);
        paths.hbaConf = (root / "hba.conf").string();
        paths.sysRoot = (root / "sys").string();
        std::filesystem::create_directories(root / "sys");
        paths.qlogicLibraries = {(root / "usr/lib/libqlsdm.so").string(), (root / "lib64/libqlsdm-x86_64.so").string()};
        paths.emulexLibraries = {(root / "usr/lib/libemsdm.so").string()};
        paths.brocadeLibraries = {(root / "usr/lib/bfahbaapi.so").string()};
    }
    void TearDown() override {
        HBA_FreeLibrary();
        std::filesystem::remove_all(root);
    }

    std::string Library(const std::string& name, const std::string& variant = "full") {
        std::filesystem::path target = root / "usr/lib" / name;
        sim::InstallVendorLibrary(target, variant);
        return target.string();
    }
    void Write(const std::string& relative, const std::string& content) {
        std::filesystem::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << content;
    }
    void Describe(const std::vector<sim::SimulatedAdapter>& adapters, const std::vector<std::string>& faults = {}) {
        Write("adapters.conf", sim::Description(adapters, faults));
    }
    std::vector<std::string> Calls(const std::string& call) { return sim::CallLines(root / "calls.log", call); }
    // Successful opens and closes of one kind, counted over the whole log.
    void ExpectBalanced(const std::string& open, const std::string& close) {
        std::size_t opened = 0;
        for (const std::string& line : Calls(open)) opened += !line.ends_with(" = 0x0");
        EXPECT_EQ(opened, Calls(close).size()) << open << " vs " << close;
    }

    std::filesystem::path root;
    SystemPaths paths;
};

inline sim::SimulatedAdapter Adapter(const std::string& name, const std::string& node, const std::string& port,
                                     const std::string& libraries = {}) {
    sim::SimulatedAdapter adapter;
    adapter.name = name;
    adapter.nodeWwn = node;
    adapter.portWwns = {port};
    adapter.libraries = libraries;
    return adapter;
}

}  // namespace hbafw::test
