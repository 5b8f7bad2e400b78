// What sim/sandbox promises the other tests: the machine folder's files at the
// fixed paths, the host's own files there never visible, writes to the system
// paths kept inside, and the log, sim/ and exit status passed back. Each row
// runs on a plain host and on one that has its own hba.conf, release files,
// vendor libraries and log. It does not test any hbafw binary.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

// Prints each path of the list that exists; an empty output means none does.
const std::string kPrintExisting = "for f in $PATHS; do [ -e \"$f\" ] && echo \"$f\"; done; true";

std::string PrintExisting(const std::string& paths) { return "PATHS='" + paths + "'; " + kPrintExisting; }

const std::string kAllVendorLibraries =
    "/usr/lib/libqlsdm.so /usr/lib64/libqlsdm-x86_64.so /lib/cim/libqlsdm.so "
    "/usr/lib/libemsdm.so /usr/lib64/libemsdm.so /lib/cim/libemsdm.so "
    "/usr/lib/bfahbaapi.so /usr/lib64/bfahbaapi.so /lib/cim/bfahbaapi.so";

struct File {
    std::string path;
    std::string content;
};

struct ContractCase {
    const char* name;
    std::vector<File> machineFiles;
    std::string script;
    std::string out;
    int exitCode = 0;
    std::optional<File> machineFileAfter = std::nullopt;  // content expected in the folder after the run
    std::string hostPathAbsent = "";                      // must not exist on the host after the run
    bool logUnwritable = false;
};

const ContractCase kContractCases[] = {
    {.name = "MissingEtcFilesDoNotExist", .machineFiles = {},
     .script = PrintExisting("/etc/hba.conf /etc/redhat-release /etc/SuSE-release"), .out = ""},
    {.name = "EtcFilesComeFromTheMachine",
     .machineFiles = {{"etc/hba.conf", "qla2xxx /usr/lib/libqlsdm.so\n"}, {"etc/SuSE-release", "SLES 11\n"}},
     .script = "cat /etc/hba.conf /etc/SuSE-release; " + PrintExisting("/etc/redhat-release"),
     .out = "qla2xxx /usr/lib/libqlsdm.so\nSLES 11\n"},
    {.name = "OtherEtcFilesStay", .machineFiles = {},
     .script = PrintExisting("/etc/passwd /etc/ld.so.cache"), .out = "/etc/passwd\n/etc/ld.so.cache\n"},
    {.name = "NoVendorLibraryUnlessGiven", .machineFiles = {},
     .script = PrintExisting(kAllVendorLibraries), .out = ""},
    {.name = "VendorLibraryFromTheMachine", .machineFiles = {{"usr/lib/cim/libqlsdm.so", "simulated\n"}},
     .script = "cat /lib/cim/libqlsdm.so; " + PrintExisting(kAllVendorLibraries),
     .out = "simulated\n/lib/cim/libqlsdm.so\n"},
    {.name = "SysIsEmptyWithoutMachineSys", .machineFiles = {},
     .script = "ls -A /sys | wc -l", .out = "0\n"},
    {.name = "SysComesFromTheMachine", .machineFiles = {{"sys/bus/pci/devices/0000:03:00.0/vendor", "0x1077\n"}},
     .script = "cat /sys/bus/pci/devices/0000:03:00.0/vendor; ls /sys", .out = "0x1077\nbus\n"},
    {.name = "RunsInTheWorkFolder", .machineFiles = {{"work/reference.xml", "<x/>"}},
     .script = "basename \"$PWD\"; ls", .out = "work\nreference.xml\n"},
    {.name = "ExitStatusPassedOn", .machineFiles = {}, .script = "exit 42", .out = "", .exitCode = 42},
    {.name = "LogReadableAfterwards", .machineFiles = {},
     .script = "cat /var/vkx/Component.log; echo new >> /var/vkx/Component.log", .out = "",
     .machineFileAfter = File{"var/vkx/Component.log", "new\n"}},
    {.name = "ExistingLogIsTheMachines", .machineFiles = {{"var/vkx/Component.log", "earlier\n"}},
     .script = "cat /var/vkx/Component.log", .out = "earlier\n"},
    {.name = "LogUnwritableOnRequest", .machineFiles = {},
     .script = "echo x 2>/dev/null >> /var/vkx/Component.log || echo refused; " + PrintExisting("/var/vkx/Component.log"),
     .out = "refused\n", .logUnwritable = true},
    {.name = "SimFolderSharedBothWays", .machineFiles = {{"sim/adapters", "two\n"}},
     .script = "cat /etc/hbafw-sim/adapters; echo called > /etc/hbafw-sim/calls", .out = "two\n",
     .machineFileAfter = File{"sim/calls", "called\n"}},
    {.name = "EtcWritesStayInside", .machineFiles = {},
     .script = "echo x > /etc/hbafw-sandbox-probe && cat /etc/hbafw-sandbox-probe", .out = "x\n",
     .hostPathAbsent = "/etc/hbafw-sandbox-probe"},
    {.name = "UsrWritesStayInside", .machineFiles = {{"usr/lib/hbafw-sandbox-probe", "y\n"}},
     .script = "cat /usr/lib/hbafw-sandbox-probe", .out = "y\n", .hostPathAbsent = "/usr/lib/hbafw-sandbox-probe"},
    {.name = "VarWritesStayInside", .machineFiles = {},
     .script = "mkdir /var/hbafw-sandbox-probe && echo z", .out = "z\n", .hostPathAbsent = "/var/hbafw-sandbox-probe"},
    {.name = "RunIsPrivate", .machineFiles = {},
     .script = "ls -A /run | grep -cvx mount; echo r > /run/hbafw-sandbox-probe && cat /var/run/hbafw-sandbox-probe", .out = "0\nr\n",
     .hostPathAbsent = "/run/hbafw-sandbox-probe"},
    {.name = "RootHomeIsPrivate", .machineFiles = {},
     .script = "ls -A /root | wc -l; stat -c %a /root; echo h > /root/hbafw-sandbox-probe", .out = "0\n700\n",
     .hostPathAbsent = "/root/hbafw-sandbox-probe"},
};

// Which host the sandbox runs on: this one, or one with its own files at the fixed paths.
enum class Host { Plain, WithOwnFiles };

// A failing row names itself instead of dumping its bytes.
void PrintTo(const ContractCase& row, std::ostream* os) { *os << row.name; }
void PrintTo(Host host, std::ostream* os) { *os << (host == Host::Plain ? "plain host" : "host with own files"); }

class SandboxContractTest : public SandboxTest,
                            public ::testing::WithParamInterface<std::tuple<Host, ContractCase>> {};

TEST_P(SandboxContractTest, Holds) {
    const auto& [host, row] = GetParam();
    sim::Machine onHost(host == Host::Plain ? sim::DefaultSandbox() : HBAFW_E2E_HOST_WITH_OWN_FILES);
    for (const File& file : row.machineFiles) onHost.WriteFile(file.path, file.content);
    onHost.SetLogUnwritable(row.logUnwritable);

    sim::RunResult run = onHost.Run({"/bin/sh", "-c", row.script});

    EXPECT_EQ(run.out, row.out) << "stderr: " << run.err;
    EXPECT_EQ(run.exitCode, row.exitCode) << "stderr: " << run.err;
    if (row.machineFileAfter) {
        EXPECT_EQ(onHost.ReadFile(row.machineFileAfter->path), row.machineFileAfter->content);
    }
    if (!row.hostPathAbsent.empty()) {
        EXPECT_FALSE(std::filesystem::exists(row.hostPathAbsent)) << row.hostPathAbsent;
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Host, ContractCase>>& info) {
    const auto& [host, row] = info.param;
    return std::string(host == Host::Plain ? "PlainHost_" : "HostWithOwnFiles_") + row.name;
}

INSTANTIATE_TEST_SUITE_P(Sandbox, SandboxContractTest,
                         ::testing::Combine(::testing::Values(Host::Plain, Host::WithOwnFiles),
                                            ::testing::ValuesIn(kContractCases)),
                         CaseName);

}  // namespace
}  // namespace hbafw::e2e
