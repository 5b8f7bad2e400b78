// Fixture for end-to-end tests: a fresh simulated machine per test, and a skip
// (not a failure) when this host cannot run the sandbox (not root, no mount
// namespaces). It holds no expectations about any binary's output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace hbafw::e2e {

// What every run that reaches discovery prints first, and a flash's heading.
inline const std::string kUpToDiscovery =
    std::string(51, '-') + "\nLoading references...done.\nPerforming discovery...\n";
inline const std::string kFlashing = "Performing flash -- DO NOT INTERRUPT!\n";
// The vendor builds' usage text.
inline const std::string kUsage =
    "TRXXXXXX.zelpak [options]\n"
    "    options\n"
    "    --------------------------\n"
    "    /f = Force the installation\n"
    "    /s = Execute silently\n"
    "    /d [path] = Perform self-discovery and output to [path]\n";
inline const std::string kQlafwupdateOutput =
    "qlafwupdate: flashing adapters (stdout)\nqlafwupdate: progress report (stderr)\nqlafwupdate: engine trace (fd 3)\n";

// The text of every <name> element of a tool's XML output, in document order.
inline std::vector<std::string> Elements(const std::string& xml, const std::string& name) {
    std::vector<std::string> values;
    std::string open = "<" + name + ">", close = "</" + name + ">";
    for (std::size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        std::size_t start = at + open.size();
        values.push_back(xml.substr(start, xml.find(close, start) - start));
    }
    return values;
}

class SandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        static const sim::RunResult probe = sim::Machine().Run({"/bin/true"});
        if (probe.exitCode == sim::kSandboxUnavailable)
            GTEST_SKIP() << "sandbox unavailable on this host: " << probe.err;
        ASSERT_EQ(probe.exitCode, 0) << "sandbox probe failed: " << probe.err;
    }

    void TearDown() override {
        if (!leaksSuppressed_) return;
        if (hadLeakOptions_)
            setenv("LSAN_OPTIONS", savedLeakOptions_.c_str(), 1);
        else
            unsetenv("LSAN_OPTIONS");
    }

    // libhbalinux's free entry releases nothing its load entry allocated, and
    // the layer loads it again around every adapter's vendor search, so a
    // sanitizer build of any binary reports those blocks as leaked once the
    // library is closed. Only blocks allocated below the call of a vendor's load
    // entry are let through; the slow unwinder is needed to see past the
    // library's frames, which keep no frame pointer.
    void SuppressTheLibrarysOwnLeaks() {
        const char* saved = std::getenv("LSAN_OPTIONS");
        hadLeakOptions_ = saved != nullptr;
        if (saved != nullptr) savedLeakOptions_ = saved;
        leaksSuppressed_ = true;
        machine.WriteFile("sim/vendor-load-leaks.supp", "leak:LoadSlot\n");
        std::string options = "fast_unwind_on_malloc=0:print_suppressions=0:suppressions=" +
                              machine.Path("sim/vendor-load-leaks.supp").string();
        setenv("LSAN_OPTIONS", options.c_str(), 1);
    }

    // The QLogic build run with these arguments on the test's machine.
    sim::RunResult RunQLogic(const std::vector<std::string>& arguments) const {
        return machine.RunBuild("hbafw-qlogic", arguments);
    }

    sim::Machine machine;

private:
    bool leaksSuppressed_ = false;
    bool hadLeakOptions_ = false;
    std::string savedLeakOptions_;
};

}  // namespace hbafw::e2e
