// The fixed paths of the system, in one place. Classes take them as parameters
// with these defaults, so tests can point them at a temporary folder. It lives in
// the lowest layer that needs paths, so the framework and the inventory share it.
#pragma once

#include <string>
#include <vector>

namespace hbafw {

// The PATH every command the component runs is looked up in, whatever the caller's.
inline constexpr const char* kCommandPath = "/usr/sbin:/usr/bin:/sbin:/bin";

struct SystemPaths {
    std::string componentLog = "/var/vkx/Component.log";
    // Held (flock) by the run in progress, so one machine flashes once at a time.
    std::string runLock = "/var/vkx/Component.lock";
    // Root's alone (0700): each run unpacks the Emulex kit into a folder of its
    // own here, never in the working folder, which a fleet shares with others.
    std::string kitFolders = "/var/vkx/kits";
    std::string hbaConf = "/etc/hba.conf";
    std::string sysRoot = "/sys";
    // The restart signal Debian's and Ubuntu's tools read, and its package list.
    std::string rebootRequired = "/run/reboot-required";
    std::string rebootRequiredPackages = "/run/reboot-required.pkgs";
    // The component's record of this boot's first flash that ended well, in a
    // root-only folder; a record of an earlier boot means nothing.
    std::string finishedFlash = "/var/vkx/flashes/finished";
    std::string bootId = "/proc/sys/kernel/random/boot_id";
    // The fleet module's run history, one JSON object a line, newest last.
    std::string updateHistory = "/var/lib/hbafw/history.jsonl";
    std::string redhatRelease = "/etc/redhat-release";
    std::string suseRelease = "/etc/SuSE-release";
    // Vendor management libraries, tried in this order.
    std::vector<std::string> qlogicLibraries = {"/usr/lib/libqlsdm.so", "/usr/lib64/libqlsdm-x86_64.so",
                                                "/lib/cim/libqlsdm.so"};
    std::vector<std::string> emulexLibraries = {"/usr/lib/libemsdm.so", "/usr/lib64/libemsdm.so",
                                                "/lib/cim/libemsdm.so"};
    std::vector<std::string> brocadeLibraries = {"/usr/lib/bfahbaapi.so", "/usr/lib64/bfahbaapi.so",
                                                 "/lib/cim/bfahbaapi.so"};
};

}  // namespace hbafw
