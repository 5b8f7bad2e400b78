#include "sim/vendor_tools.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace hbafw::sim {

namespace {

std::string ReadSource(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void InstallExecutable(const Machine& machine, const std::string& source, const std::string& relative) {
    machine.WriteFile(relative, ReadSource(source));
    std::filesystem::permissions(machine.Path(relative), std::filesystem::perms::owner_all |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
}

}  // namespace

void InstallQlafwupdate(const Machine& machine, const std::vector<QLogicInstance>& instances, EngineBehaviour flash) {
    InstallExecutable(machine, HBAFW_SIM_TOOLS_DIR "/qlafwupdate", "work/qlafwupdate");
    std::string list;
    for (const QLogicInstance& i : instances) list += i.portWwn + " " + i.flashImage + "\n";
    machine.WriteFile("sim/qlafwupdate/instances", list);
    machine.WriteFile("sim/qlafwupdate/flash", flash.mode + "\n");
}

void SetQlafwupdateQuery(const Machine& machine, const std::string& text) {
    machine.WriteFile("sim/qlafwupdate/query", text);
}

void InstallEmulexKit(const Machine& machine, const std::vector<EmulexAdapter>& adapters, EngineBehaviour flash) {
    std::string kit = HBAFW_SIM_KIT;
    machine.WriteFile("work/" + std::filesystem::path(kit).filename().string(), ReadSource(kit));
    std::string list;
    for (const EmulexAdapter& a : adapters)
        list += a.model + " " + a.pciId + " " + a.vendorId + " " + a.subsystemId + " " + a.subsystemVendorId + " " +
                a.firmware + " " + a.bootCode + "\n";
    machine.WriteFile("sim/elxflash/adapters", list);
    machine.WriteFile("sim/elxflash/flash", flash.mode + "\n");
}

void InstallBcuBootupdate(const Machine& machine, EngineBehaviour flash) {
    InstallExecutable(machine, HBAFW_SIM_TOOLS_DIR "/bcu_bootupdate", "work/bcu_bootupdate");
    machine.WriteFile("work/bfa_boot_fw", ReadSource(HBAFW_SIM_TOOLS_DIR "/bfa_boot_fw"));
    machine.WriteFile("sim/bcu/flash", flash.mode + "\n");
}

std::string ToolCalls(const Machine& machine, const std::string& tool) {
    return machine.ReadFile("sim/" + tool + "/calls");
}

}  // namespace hbafw::sim
