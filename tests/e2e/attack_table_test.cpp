// The attack table: every entry point that writes a file as root is one line
// (a shell command run as root in the sandbox and the file it writes), and
// every line meets the same rows, each an attack a local user (65534) can
// make. A row passes when no root-only file changed, nothing root wrote landed
// in the user's folder, the user's own file stayed the user's, and the exit
// code is the line's. A new writer is a new line; tests/raw_writes_test.sh
// fails for a write outside the one writer, which only lines here exercise.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/sandbox_test.h"

namespace hbafw::e2e {
namespace {

struct EntryPoint {
    const char* name;
    // The file the command writes; every folder of it must lie below /etc,
    // /usr or /var, which the sandbox overlays.
    std::string target;
    // Run by /bin/sh with TARGET, BIN (the build's binaries) and SRC (the
    // source tree) set, in the machine's work folder.
    std::string command;
    int normalExit = 0;
    std::vector<int> refusedExits;
    // How many of the target's last folders the command makes itself.
    int creates = 0;
    // The folder a user swaps for a link mid-run; empty: the target's folder.
    std::string swapped = "";
    // The folders may be a service's own (node_exporter's).
    bool foldersAnyOwner = false;
    std::vector<std::string> settings = {};
};

// The collection's writers, called as the fleet module calls them.
const std::string kCollectionWriter =
    "PYTHONPATH=\"$SRC/deploy/ansible\" /usr/bin/python3 \"$SRC/tests/attack/collection_writer.py\" ";

// The three vendor builds share the framework's writer, so the QLogic build
// stands for them. A Python writer's line runs it as the fleet module would,
// e.g. with PYTHONPATH=$SRC/deploy/ansible; a shell one runs its script.
const EntryPoint kEntryPoints[] = {
    {.name = "vendor build's log",
     .target = "/var/vkx/Component.log",
     .command = "\"$BIN/hbafw-qlogic\" /d report.xml",
     .normalExit = 3,
     // The report is still written when the log is not.
     .refusedExits = {3, 7}},
    {.name = "vendor build's run lock",
     .target = "/var/vkx/Component.lock",
     .command = "\"$BIN/hbafw-qlogic\"",
     .normalExit = 1,
     .refusedExits = {7}},
    {.name = "vendor build's /d report",
     .target = "/var/hbafw-reports/discovery.xml",
     .command = "\"$BIN/hbafw-qlogic\" /d \"$TARGET\"",
     .normalExit = 3,
     .refusedExits = {3}},
    {.name = "hbafw-inventory --prometheus",
     .target = "/var/lib/prometheus/node-exporter/hbafw.prom",
     .command = "\"$BIN/hbafw-inventory\" --prometheus \"$TARGET\" > /dev/null",
     .refusedExits = {4},
     .foldersAnyOwner = true},
    {.name = "hbafw-inventory --capture",
     .target = "/var/hbafw-captures/c1/etc/hba.conf",
     .command = "\"$BIN/hbafw-inventory\" --capture /var/hbafw-captures/c1",
     .refusedExits = {4},
     .creates = 2,
     .swapped = "/var/hbafw-captures/c1"},
    {.name = "twin builder",
     .target = "/var/hbafw-twins/t1/etc/hba.conf",
     .command = "\"$BIN/mkmachine\" qlogic /var/hbafw-twins/t1",
     .refusedExits = {1, 2},
     .creates = 2,
     .swapped = "/var/hbafw-twins/t1"},
    {.name = "fleet module's history",
     .target = "/var/lib/hbafw/history.jsonl",
     .command = kCollectionWriter + "history \"$TARGET\"",
     .refusedExits = {1}},
    {.name = "fleet module's state",
     .target = "/var/lib/hbafw/runs/reboot.json",
     .command = kCollectionWriter + "state \"$TARGET\"",
     .refusedExits = {1}},
    {.name = "fleet module's restart signal",
     .target = "/var/hbafw-run/reboot-required",
     .command = kCollectionWriter + "signal \"$TARGET\"",
     .refusedExits = {1}},
    {.name = "fleet module's bundle folder",
     .target = "/var/lib/hbafw/bundles/b1/reference.xml",
     .command = kCollectionWriter + "bundle \"$TARGET\"",
     .refusedExits = {1},
     .creates = 1,
     .swapped = "/var/lib/hbafw/bundles"},
    {.name = "bundle maker",
     .target = "/var/hbafw-bundles/hbafw-bundle-1.0.0.tar.gz",
     .command = "sed -e \"s|@PROJECT_VERSION@|1.0.0|; s|@HBAFW_SYMBOL_FLOOR@|$SRC/scripts/lib/symbol_floor.sh|;"
                " s|@HBAFW_BUNDLE_BINARIES@|$BIN|\" \"$SRC/apps/hbafw-bundle.in\" > /var/tmp/hbafw-bundle &&"
                " bash /var/tmp/hbafw-bundle --any-symbols --output \"$(dirname \"$TARGET\")\" reference.xml > /dev/null",
     .refusedExits = {1}},
};

// Lines whose rows are known to fail until their writer moves onto the
// folder handle; each failure is printed, and the line is skipped, not failed.
const std::vector<std::string> kAwaitingTheirWriter = {};

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string Parent(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

// The folders on the way that exist before the run, from the second level
// down (a top-level folder is the sandbox's mount point).
std::vector<std::string> FoldersOnTheWay(const EntryPoint& line) {
    std::vector<std::string> folders;
    std::string folder = Parent(line.target);
    for (int i = 0; i < line.creates; ++i) folder = Parent(folder);
    for (; std::count(folder.begin(), folder.end(), '/') > 1; folder = Parent(folder))
        folders.insert(folders.begin(), folder);
    return folders;
}

struct Row {
    std::string name;
    std::string attack;  // shell, before the run
    std::string after = "";
    bool refused = true;
    bool paused = false;  // run with the pause before its first write
};

std::vector<Row> Rows(const EntryPoint& line) {
    const std::string target = line.target;
    const std::string swapped = line.swapped.empty() ? Parent(target) : line.swapped;
    std::vector<Row> rows = {
        {.name = "no attack",
         .attack = "",
         .after = "[ -f \"$TARGET\" ] && [ \"$(stat -c %u \"$TARGET\")\" = 0 ] || note 'the file was not written'",
         .refused = false},
        {.name = "link at the file", .attack = "mkdir -p \"$(dirname \"$TARGET\")\"; ln -s $VICTIM \"$TARGET\"; chown -h 65534:65534 \"$TARGET\""},
        {.name = "target made by the user",
         .attack = "mkdir -p \"$(dirname \"$TARGET\")\"; printf 'mine\\n' > \"$TARGET\"; chown 65534:65534 \"$TARGET\"",
         .after = "[ \"$(stat -c %u \"$TARGET\")\" = 65534 ] && [ \"$(cat \"$TARGET\")\" = mine ] ||"
                  " note 'the user'\\''s file was taken over'"},
        {.name = "folder swapped between check and write",
         .attack = "SWAPPED=" + Quoted(swapped),
         .after = "[ -e $PAUSE.seen ] || note 'the run never reached its write'",
         .refused = false,
         .paused = true},
        {.name = "full file system",
         .attack = "unmount \"$BASE\"; mkdir /var/tmp/keep; cp -a \"$BASE/.\" /var/tmp/keep/\n"
                   "mount -t tmpfs -o size=16k full \"$BASE\"; cp -a /var/tmp/keep/. \"$BASE/\"\n"
                   "dd if=/dev/zero of=\"$BASE/.filler\" bs=1024 2>/dev/null",
         .after = "! find \"$BASE\" -name \".$(basename \"$TARGET\").*\" | grep -q . || note 'a temporary was left'"},
    };
    for (const std::string& folder : FoldersOnTheWay(line)) {
        rows.push_back({.name = "link at " + folder, .attack = "linked " + Quoted(folder)});
        bool allowed = line.foldersAnyOwner;
        rows.push_back({.name = "user's folder " + folder,
                        .attack = "chown 65534:65534 " + Quoted(folder),
                        .after = allowed ? rows.front().after : "",
                        .refused = !allowed});
    }
    return rows;
}

// What every row script starts with: the victim (a root-only file), the
// user's folder, and the folders the line expects to find.
const std::string kPrelude = R"sh(ATTACKER='setpriv --reuid=65534 --regid=65534 --clear-groups'
FACTS=/etc/hbafw-sim/facts; VICTIM=/etc/hbafw-victim; USERS=/var/tmp/user; PAUSE=/var/tmp/hbafw-pause
note() { echo "$*" >> $FACTS; }
unmount() { while mountpoint -q "$1"; do umount -l "$1"; done; }
printf 'root only\n' > $VICTIM; chmod 600 $VICTIM
mkdir -p $USERS; chown 65534:65534 $USERS
# The user's copy of the path below $1, its file a link to the victim, and $1 a link to it.
linked() {
    unmount "$1"; rest=${TARGET#$1/}; mv "$1" "$1.held"
    mkdir -p "$USERS/$(dirname "$rest")"; ln -s $VICTIM "$USERS/$rest"; chown -hR 65534:65534 $USERS
    ln -s $USERS "$1"; chown -h 65534:65534 "$1"
}
)sh";

const std::string kChecks = R"sh(
[ "$(cat $VICTIM)" = 'root only' ] && [ "$(stat -c '%u %a' $VICTIM)" = '0 600' ] || note 'the root-only file changed'
[ -z "$(find $USERS -user 0)" ] || note "root wrote into the user's folder: $(find $USERS -user 0 | tr '\n' ' ')"
)sh";

std::string RowScript(const EntryPoint& line, const Row& row) {
    std::string base = Parent(line.target);
    for (int i = 0; i < line.creates; ++i) base = Parent(base);
    std::string script = kPrelude + "BIN=" + Quoted(sim::BuildBinary("")) + "; SRC=" + Quoted(HBAFW_E2E_SOURCE_DIR) +
                         "\nTARGET=" + Quoted(line.target) + "; BASE=" + Quoted(base) + "\n";
    for (const std::string& folder : FoldersOnTheWay(line)) script += "unmount " + Quoted(folder) + "\n";
    script += "mkdir -p \"$BASE\"\n";
    script += row.attack + "\n";
    const std::string run = "( " + line.command + " )";
    if (!row.paused) {
        script += run + " > /etc/hbafw-sim/run.out 2>&1; code=$?\n";
    } else {
        script += "( export LD_PRELOAD=" + Quoted(HBAFW_E2E_PAUSE_LIBRARY) +
                  " HBAFW_PAUSE_AT=\"$(basename \"$TARGET\")\" HBAFW_PAUSE_MARK=$PAUSE"
                  " ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"; " +
                  line.command + " )" +
                  " > /etc/hbafw-sim/run.out 2>&1 & pid=$!\n"
                  "n=0; until [ -e $PAUSE ] || [ $n = 1500 ] || ! kill -0 $pid 2>/dev/null; do sleep 0.02; "
                  "n=$((n + 1)); done\n"
                  "if [ -e $PAUSE ]; then linked \"$SWAPPED\"; rm $PAUSE; touch $PAUSE.seen; fi\n"
                  "wait $pid; code=$?\n";
    }
    return script + row.after + kChecks + "exit $code\n";
}

class AttackTable : public SandboxTest, public ::testing::WithParamInterface<EntryPoint> {};

TEST_P(AttackTable, LocalUserGainsNothing) {
    const EntryPoint& line = GetParam();
    std::vector<std::string> failures;
    for (const Row& row : Rows(line)) {
        sim::Machine m;
        m.Lay(sim::Preset("qlogic", line.settings));
        sim::RunResult run = m.Run({"/bin/sh", "-c", RowScript(line, row), "sh"});
        std::vector<int> allowed = row.refused ? line.refusedExits : std::vector<int>{line.normalExit};
        if (row.paused) allowed.insert(allowed.end(), line.refusedExits.begin(), line.refusedExits.end());
        std::string facts = m.ReadFile("sim/facts");
        bool exitAllowed = std::find(allowed.begin(), allowed.end(), run.exitCode) != allowed.end();
        if (!facts.empty() || !exitAllowed)
            failures.push_back(row.name + ": exit " + std::to_string(run.exitCode) + "\n" + facts +
                               m.ReadFile("sim/run.out") + run.err);
    }
    std::string report;
    for (const std::string& failure : failures) report += "--- " + failure + "\n";
    if (std::find(kAwaitingTheirWriter.begin(), kAwaitingTheirWriter.end(), line.name) != kAwaitingTheirWriter.end())
        GTEST_SKIP() << "awaiting its writer; failing rows:\n" << report;
    EXPECT_TRUE(failures.empty()) << line.name << "\n" << report;
}

std::string LineName(const ::testing::TestParamInfo<EntryPoint>& info) {
    std::string name;
    for (char c : std::string(info.param.name)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryRootWriter, AttackTable, ::testing::ValuesIn(kEntryPoints), LineName);

}  // namespace
}  // namespace hbafw::e2e
