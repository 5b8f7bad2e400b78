// The attack table: every entry point that writes a file as root is one line
// (a shell command run as root in the sandbox and the file it writes), and
// every line meets the same rows, each an attack a local user (65534) can
// make. A row passes when no root-only file changed, nothing root wrote landed
// in the user's folder, the user's own file stayed the user's, and the exit
// code is the line's. A new writer is a new line; tests/attack/raw_writes_test.sh
// fails for a write outside the one writer, which only lines here exercise.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

struct EntryPoint {
    const char* name;  // also the test's name
    // The file the command writes; every folder of it below /etc, /usr or
    // /var, which the sandbox overlays.
    std::string target;
    // Run by /bin/sh in the machine's work folder with TARGET, BIN (the
    // build's binaries) and SRC (the source tree) in its environment.
    std::string command;
    int normalExit = 0;
    std::vector<int> refusedExits;
    int creates = 0;           // how many of the target's last folders the command makes
    std::string swapped = "";  // the folder swapped mid-run; empty: the target's
    bool foldersAnyOwner = false;  // a service's folders (node_exporter's) may be a user's
};

void PrintTo(const EntryPoint& line, std::ostream* os) { *os << line.name; }

// The collection's writers, called as the fleet module calls them.
const std::string kCollectionWriter =
    "PYTHONPATH=\"$SRC/deploy/ansible\" /usr/bin/python3 \"$SRC/tests/attack/collection_writer.py\" ";

// The three vendor builds share the framework's writer, so the QLogic build
// stands for them. A Python writer's line runs it as the fleet module would,
// e.g. with PYTHONPATH=$SRC/deploy/ansible; a shell one runs its script.
const EntryPoint kEntryPoints[] = {
    // The report is still written when the log is not.
    {"VendorBuildLog", "/var/vkx/Component.log", "\"$BIN/hbafw-qlogic\" /d report.xml", 3, {3, 7}},
    {"VendorBuildRunLock", "/var/vkx/Component.lock", "\"$BIN/hbafw-qlogic\"", 1, {7}},
    // After a flash: the record of it that outlives a cleared restart signal.
    {"VendorBuildFinishedFlash", "/var/vkx/flashes/finished", "\"$BIN/hbafw-qlogic\" /s", 1, {1, 7}, 1},
    {"VendorBuildReport", "/var/hbafw-reports/discovery.xml", "\"$BIN/hbafw-qlogic\" /d \"$TARGET\"", 3, {3}},
    {"InventoryPrometheus", "/var/lib/prometheus/node-exporter/hbafw.prom",
     "\"$BIN/hbafw-inventory\" --prometheus \"$TARGET\" > /dev/null", 0, {4}, 0, "", true},
    {"InventoryCapture", "/var/hbafw-captures/c1/etc/hba.conf",
     "\"$BIN/hbafw-inventory\" --capture /var/hbafw-captures/c1", 0, {4}, 2, "/var/hbafw-captures/c1"},
    {"TwinBuilder", "/var/hbafw-twins/t1/etc/hba.conf", "\"$BIN/mkmachine\" qlogic /var/hbafw-twins/t1", 0, {1, 2},
     2, "/var/hbafw-twins/t1"},
    {"FleetModuleHistory", "/var/lib/hbafw/history.jsonl", kCollectionWriter + "history \"$TARGET\"", 0, {1}},
    {"FleetModuleState", "/var/lib/hbafw/runs/reboot.json", kCollectionWriter + "state \"$TARGET\"", 0, {1}},
    {"FleetModuleRestartSignal", "/var/hbafw-run/reboot-required", kCollectionWriter + "signal \"$TARGET\"", 0, {1}},
    {"FleetModuleBundleFolder", "/var/lib/hbafw/bundles/b1/reference.xml", kCollectionWriter + "bundle \"$TARGET\"", 0,
     {1}, 1, "/var/lib/hbafw/bundles"},
    {"BundleMaker", "/var/hbafw-bundles/hbafw-bundle-1.0.0.tar.gz",
     "sed -e \"s|@PROJECT_VERSION@|1.0.0|; s|@HBAFW_SYMBOL_FLOOR@|$SRC/scripts/lib/symbol_floor.sh|;"
     " s|@HBAFW_BUNDLE_BINARIES@|$BIN|\" \"$SRC/apps/hbafw-bundle.in\" > /var/tmp/hbafw-bundle &&"
     " bash /var/tmp/hbafw-bundle --any-symbols --output \"$(dirname \"$TARGET\")\" reference.xml > /dev/null",
     0, {1}},
};

// Lines whose rows are known to fail until their writer moves onto the
// folder handle: their failures are printed and the line is skipped.
const std::vector<std::string> kAwaitingTheirWriter = {};

std::string Parent(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// The deepest folder that exists before the run.
std::string Base(const EntryPoint& line) {
    std::string base = Parent(line.target);
    for (int i = 0; i < line.creates; ++i) base = Parent(base);
    return base;
}

// The folders on the way that exist before the run, from the second level
// down (a top-level folder is the sandbox's mount point).
std::vector<std::string> FoldersOnTheWay(const EntryPoint& line) {
    std::vector<std::string> folders;
    for (std::string folder = Base(line); std::count(folder.begin(), folder.end(), '/') > 1; folder = Parent(folder))
        folders.insert(folders.begin(), folder);
    return folders;
}

struct Row {
    std::string name;
    std::string attack;  // shell, before the run
    std::string after = "";
    bool refused = true;
    bool paused = false;  // held before its first write while the folder is swapped
};

const std::string kWritten =
    "[ -f \"$TARGET\" ] && [ \"$(stat -c %u \"$TARGET\")\" = 0 ] || note 'the file was not written'";

std::vector<Row> Rows(const EntryPoint& line) {
    std::vector<Row> rows = {
        {"no attack", "", kWritten, false},
        {"link at the file", "mkdir -p \"${TARGET%/*}\"; ln -s $VICTIM \"$TARGET\"; chown -h 65534 \"$TARGET\""},
        {"target made by the user", "mkdir -p \"${TARGET%/*}\"; echo mine > \"$TARGET\"; chown 65534 \"$TARGET\"",
         "[ \"$(stat -c %u \"$TARGET\")\" = 65534 ] && [ \"$(cat \"$TARGET\")\" = mine ] || note 'the file was taken over'"},
        {"folder swapped between check and write", "SWAPPED='" + (line.swapped.empty() ? Parent(line.target) : line.swapped) + "'",
         "[ -e $PAUSE.seen ] || note 'the run never reached its write'", false, true},
        {"full file system",
         "unmount \"$BASE\"; mkdir /var/tmp/keep; cp -a \"$BASE/.\" /var/tmp/keep/\n"
         "mount -t tmpfs -o size=16k full \"$BASE\"; cp -a /var/tmp/keep/. \"$BASE/\"\n"
         "dd if=/dev/zero of=\"$BASE/.filler\" bs=1024 2>/dev/null",
         "! find \"$BASE\" -name \".${TARGET##*/}.*\" | grep -q . || note 'a temporary was left'"},
    };
    for (const std::string& folder : FoldersOnTheWay(line)) {
        rows.push_back({"link at " + folder, "linked '" + folder + "'"});
        rows.push_back({"user's folder " + folder, "chown 65534 '" + folder + "'",
                        line.foldersAnyOwner ? kWritten : "", !line.foldersAnyOwner});
    }
    return rows;
}

// Every row's script: the victim (a root-only file), the user's folder, the
// folders the line expects, the row's attack, the run, and the checks.
const std::string kPrelude = R"sh(FACTS=/etc/hbafw-sim/facts; VICTIM=/etc/hbafw-victim; USERS=/var/tmp/user
PAUSE=/var/tmp/hbafw-pause
note() { echo "$*" >> $FACTS; }
unmount() { while mountpoint -q "$1"; do umount -l "$1"; done; }
printf 'root only\n' > $VICTIM; chmod 600 $VICTIM; mkdir -p $USERS; chown 65534 $USERS
# The user's copy of the path below $1, its file a link to the victim, and $1 a link to it.
linked() {
    unmount "$1"; rest=${TARGET#$1/}; mv "$1" "$1.held"
    mkdir -p "$USERS/$(dirname "$rest")"; ln -s $VICTIM "$USERS/$rest"; chown -hR 65534 $USERS
    ln -s $USERS "$1"; chown -h 65534 "$1"
}
)sh";

const std::string kChecks = R"sh(
[ "$(cat $VICTIM)" = 'root only' ] && [ "$(stat -c '%u %a' $VICTIM)" = '0 600' ] || note 'the root-only file changed'
[ -z "$(find $USERS -user 0)" ] || note "root wrote into the user's folder: $(find $USERS -user 0 | tr '\n' ' ')"
exit $code
)sh";

std::string RowScript(const EntryPoint& line, const Row& row) {
    std::string script = kPrelude + "export BIN='" + sim::BuildBinary("") + "' SRC='" + HBAFW_E2E_SOURCE_DIR +
                         "' TARGET='" + line.target + "'; BASE='" + Base(line) + "'\n";
    for (const std::string& folder : FoldersOnTheWay(line)) script += "unmount '" + folder + "'\n";
    // A program of its own, so the pause is preloaded into a shell line too.
    script += "cat > /var/tmp/entry-point <<'EOF'\n" + line.command + "\nEOF\nmkdir -p \"$BASE\"\n" + row.attack + "\n";
    const std::string run = "/bin/sh /var/tmp/entry-point > /etc/hbafw-sim/run.out 2>&1";
    if (!row.paused) return script + run + "; code=$?\n" + row.after + kChecks;
    return script + "LD_PRELOAD='" + HBAFW_E2E_PAUSE_LIBRARY +
           "' HBAFW_PAUSE_AT=\"${TARGET##*/}\" HBAFW_PAUSE_MARK=$PAUSE"
           " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" " + run + " & pid=$!\n"
           "n=0; until [ -e $PAUSE ] || [ $n = 1500 ] || ! kill -0 $pid 2>/dev/null; do sleep 0.02; n=$((n + 1)); done\n"
           "if [ -e $PAUSE ]; then linked \"$SWAPPED\"; rm $PAUSE; touch $PAUSE.seen; fi\n"
           "wait $pid; code=$?\n" +
           row.after + kChecks;
}

class AttackTable : public SandboxTest, public ::testing::WithParamInterface<EntryPoint> {};

TEST_P(AttackTable, LocalUserGainsNothing) {
    const EntryPoint& line = GetParam();
    std::string failures;
    for (const Row& row : Rows(line)) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic"));
        sim::RunResult run = m.Run({"/bin/sh", "-c", RowScript(line, row), "sh"});
        std::vector<int> allowed = row.refused ? line.refusedExits : std::vector<int>{line.normalExit};
        if (row.paused) allowed.insert(allowed.end(), line.refusedExits.begin(), line.refusedExits.end());
        std::string facts = m.ReadFile("sim/facts");
        if (!facts.empty() || std::find(allowed.begin(), allowed.end(), run.exitCode) == allowed.end())
            failures += "--- " + row.name + ": exit " + std::to_string(run.exitCode) + "\n" + facts +
                        m.ReadFile("sim/run.out") + run.err + "\n";
    }
    if (std::find(kAwaitingTheirWriter.begin(), kAwaitingTheirWriter.end(), line.name) != kAwaitingTheirWriter.end())
        GTEST_SKIP() << "awaiting its writer; failing rows:\n" << failures;
    EXPECT_EQ(failures, "") << line.name;
}

INSTANTIATE_TEST_SUITE_P(EveryRootWriter, AttackTable, ::testing::ValuesIn(kEntryPoints),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hbafw::e2e
