// Puts the simulated vendor tools into a machine's working folder and sets
// how they behave. The tools read their state from the machine's sim/ folder.
#pragma once

#include <string>
#include <vector>

#include "sim/description.h"
#include "sim/machine.h"

namespace hbafw::sim {

// How a simulated flash engine ends: "exit N", "signal NAME", "hang SECONDS", "silent".
struct EngineBehaviour {
    std::string mode = "exit 0";
};

// qlafwupdate in work/; its "/q" answer lists the instances in order.
void InstallQlafwupdate(const Machine& machine, const std::vector<QLogicInstance>& instances,
                        EngineBehaviour flash = {});
// Replaces the "/q" answer with this exact text.
void SetQlafwupdateQuery(const Machine& machine, const std::string& text);

// The kit zip in work/; its script answers "/q /sysfs" with these adapters.
void InstallEmulexKit(const Machine& machine, const std::vector<EmulexAdapter>& adapters, EngineBehaviour flash = {});

// bcu_bootupdate and bfa_boot_fw in work/.
void InstallBcuBootupdate(const Machine& machine, EngineBehaviour flash = {});

// The arguments of each flash call the named tool ("qlafwupdate", "elxflash",
// "bcu") received, one line per call.
std::string ToolCalls(const Machine& machine, const std::string& tool);

}  // namespace hbafw::sim
