// Emulex discovery and flash. The query lines are read with the system's
// pattern engine; a line the engine gives up on is skipped like any line that
// does not match.
#include "components/emulex/component.h"

#include <ftw.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>

#include "framework/file_io.h"
#include "framework/firmware_action.h"
#include "framework/flash_engine.h"
#include "framework/run_sequence.h"
#include "framework/shell_capture.h"
#include "framework/tool_output.h"
#include "framework/trust_refusals.h"
#include "framework/version_compare.h"
#include "inventory/file_trust.h"
#include "inventory/shell_pipe.h"

namespace EmulexComp {

using namespace hbafw;

namespace {

constexpr const char* kPreparing = "Preparing the Emulex Kit...";
constexpr const char* kPrepared = "done\n";
constexpr const char* kKitFolderTemplate = "/hbafw-kit.XXXXXX";
constexpr const char* kScriptFolderPattern = "elxflashStandalone*";
constexpr const char* kScriptInFolder = "/lx/elxflash.sh";
constexpr const char* kNoKitFolder = "no private folder in ";
// As the log shows the flash command; the script really run is the private copy.
constexpr const char* kShownScript = "./elxflashStandalone*/lx/elxflash.sh";
constexpr const char* kAdapterLine =
    "HBA=(.+),.*PCI ID=(\\w{1,4}),.*VID=(\\w{1,4}),.*SSID=(\\w{1,4}),.*SVID=(\\w{1,4}),.*Firmware=(.+),.*"
    "Boot Code=([\\w\\.]+).*";
constexpr const char* kFixedFirmwareVersion = "12.0.346.48";
constexpr const char* kFixedVersionModels[] = {"LPe160", "LPe320", "LPe310", "LPe350", "LPe360"};
constexpr const char* kSplitVersionModels[] = {"LPe120", "LPe110"};
constexpr const char* kKeepTextModel = "OCe";

template <std::size_t N>
bool ContainsAnyOf(const std::string& text, const char* const (&needles)[N]) {
    for (const char* n : needles)
        if (text.find(n) != std::string::npos) return true;
    return false;
}
bool HasFixedVersion(const std::string& model) { return ContainsAnyOf(model, kFixedVersionModels); }
bool HasSplitVersion(const std::string& model) { return ContainsAnyOf(model, kSplitVersionModels); }

std::string PadTo4(std::string text) {
    if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
    return text;
}

// The kit prints two decoration characters before most versions; a shorter
// text has nothing left once they are dropped.
std::string DropTwo(const std::string& text) { return text.size() < 2 ? std::string() : text.substr(2); }

std::wstring Widen(const std::string& text) { return WidenText(text.c_str()); }

void SplitAtFirstNonDigit(const std::wstring& text, std::wstring& head, std::wstring& tail) {
    std::size_t at = text.find_first_not_of(L"0123456789");
    if (at == std::wstring::npos) return;
    head = text.substr(0, at);
    tail = text.substr(at + 1);
}

struct StatusRow {
    int status;
    const char* message;  // nullptr: none
    bool notice;
    int exitCode;
};

constexpr StatusRow kStatusTable[] = {
    {0, "All updates were successful.  Reboot needed.\n", false, 1},
    {1, "No operation performed.  No updates needed or discovery command executed.\n", false, 3},
    {2, "All updates failed.\n", false, 7},
    {3, "All updates failed.\n", false, 7},
    {4, "All updates failed.\n", false, 7},
    {5, "All updates failed.\n", false, 7},
    {6, "All updates failed.\n", false, 7},
    {11, "All updates were successful.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
    {12, "No updates needed.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
    {13, "All updates failed.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
    {14, "Some updates failed.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
    {15, "No supported hardware found.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
    {16, "No updates available.  Skipped any RX410SFP or TK2000E CNAs.\n", true, 7},
};

}  // namespace

int SplitCompare(const std::wstring& catalogue, const std::wstring& active) {
    std::wstring vHead, vTail, aHead, aTail;
    SplitAtFirstNonDigit(catalogue, vHead, vTail);
    SplitAtFirstNonDigit(active, aHead, aTail);
    int result = CompareVersionTexts(vHead, aHead);
    if (result == 0) result = CompareVersionTexts(vTail, aTail);
    return result;
}

int ReportScriptStatus(ComponentLog& log, int status) {
    for (const StatusRow& row : kStatusTable) {
        if (row.status != status) continue;
        log.Write(row.message);
        if (row.notice)
            log.Write(std::string("For RX410SFP or TK2000E CNAs, please use the \"Firmware image for offline update\" "
                                  "(OneConnect ISO) tool available on ") +
                      kSupportAddress + "\n");
        return row.exitCode;
    }
    return status;
}

// Not std::filesystem::remove_all: that needs GCC 9's libstdc++, newer than the
// distributions the portable binaries serve. Links are removed, never followed.
static int RemoveKitEntry(const char* path, const struct stat*, int, struct FTW*) {
    std::remove(path);
    return 0;
}

CComponent::~CComponent() {
    if (!kitFolder_.empty()) ::nftw(kitFolder_.c_str(), RemoveKitEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string CComponent::UnpackKit() {
    std::vector<std::string> kits = NamesMatching(".", kKitPattern);
    if (kits.empty()) return kNoKit;
    if (kits.size() > 1) return kSeveralKits;
    const std::string kit = "./" + kits.front();
    ToolState state = PrepareTool(kit, 0);
    if (state == ToolState::Unsafe) return kToolRefused + kit + kToolRefusedWhy;
    if (state == ToolState::Missing) return kNoKit;
    // A folder of its own, so no earlier kit's files can be taken for this one's.
    std::string folder = paths.kitFolders + kKitFolderTemplate;
    if (!MakePrivateFolder(paths.kitFolders) || ::mkdtemp(folder.data()) == nullptr)
        return kKitNotUnpacked + std::string(kNoKitFolder) + paths.kitFolders + ".\n";
    kitFolder_ = folder;
    std::string output;
    int status = RunProgram({"unzip", "-o", "-q", kit, "-d", kitFolder_}, output);
    if (status != 0)
        return kKitNotUnpacked + kits.front() + ", unzip exit code " + std::to_string(status) + ".\n" + output;
    std::vector<std::string> folders = NamesMatching(kitFolder_, kScriptFolderPattern);
    if (folders.size() != 1) return kKitWithoutScript;
    // The kit chose every name below its folder: none may be a link out of it.
    std::string entry = folders.front() + kScriptInFolder;
    ToolState script = PrepareTool(kitFolder_, entry, kToolMode);
    if (script == ToolState::Unsafe) return kToolRefused + kitFolder_ + "/" + entry + kToolRefusedWhy;
    if (script == ToolState::Missing) return kKitWithoutScript;
    script_ = kitFolder_ + "/" + entry;
    return "";
}

int CComponent::PrepareKit() {
    log.Write(kPreparing);
    std::string failure = UnpackKit();
    if (failure.empty()) {
        log.Write(kPrepared);
        return 0;
    }
    log.Write(kKitFailed).Write(failure);
    return kExitFailure;
}

bool CComponent::DiscoverAdapters() {
    if (PrepareKit() != 0) return false;
    toolAnswer = RunAndCapture(QuoteShellWord(script_) + " /q /sysfs");
    ReadQueryOutput(toolAnswer);
    return true;
}

void CComponent::ReadQueryOutput(const std::string& output) {
    std::vector<std::string> lines = SplitLines(output);
    auto pattern = Pattern::compile(kAdapterLine, FLAG_DOT_ALL);
    if (!pattern) return;

    std::vector<std::string> g;
    for (const std::string& line : lines) {
        if (!MatchWholeLine(*pattern, line, g) || g.size() < 7) continue;
        const std::string& model = g[0];
        bool keepTexts = HasFixedVersion(model) || model.find(kKeepTextModel) != std::string::npos;
        std::string firmware = keepTexts ? g[5] : DropTwo(g[5]);
        std::string bootCode = model.find(kKeepTextModel) != std::string::npos ? g[6] : DropTwo(g[6]);
        std::string identifier = PadTo4(g[2]) + "." + PadTo4(g[1]) + "." + PadTo4(g[4]) + "." + PadTo4(g[3]);

        int index = FindReferenceDevice(Widen(identifier));
        if (index < 0) continue;
        const ReferenceDevice& reference = catalogue.devices[index];

        DiscoveredDevice device;
        device.device_id = Widen(identifier);
        device.product_id = reference.model;
        FirmwareItem item;
        item.type = L"Firmware";
        item.version = reference.firmware;
        item.active_version = Widen(firmware);
        item.duration = reference.duration;
        item.shared = L"no";
        if (HasFixedVersion(model)) {
            item.version = Widen(kFixedFirmwareVersion);
        } else if (item.version.find(L'.') == std::wstring::npos) {
            std::erase(item.active_version, L'.');
        }
        int comparison = HasSplitVersion(model) ? SplitCompare(item.version, item.active_version)
                                                : CompareVersionTexts(item.version, item.active_version);
        item.action = ActionFromComparison(comparison);
        device.fw_items.push_back(item);

        if (reference.biosPresent != 0) {
            FirmwareItem bios;
            bios.type = L"Boot BIOS ROM";
            bios.version = reference.bios;
            bios.active_version = Widen(bootCode);
            bios.action = ActionFromComparison(SplitCompare(bios.version, bios.active_version));
            bios.duration = reference.duration;
            device.fw_items.push_back(bios);
        }
        result.devices.push_back(device);
    }
}

std::wstring CComponent::NormalizeVersion(std::wstring version) {
    std::size_t blank = version.find(L' ');
    if (blank != std::wstring::npos) version.erase(blank);
    return version;
}

int CComponent::Flash() {
    // The shown command keeps the kit's spacing: the redirection's leading
    // blank is the mode's trailing one. The runner makes the redirection itself.
    const char* mode = force ? "/f" : "/update";
    std::string shown = std::string(kShownScript) + " /sysfs  " + mode + " " + LogRedirection(log).substr(1);
    EngineOutcome outcome = RunFlashEngine(log, runLock, shown, {script_, "/sysfs", mode});
    if (outcome.end != EngineOutcome::End::Exited) return kExitFailure;
    return ReportScriptStatus(log, outcome.value);
}

}  // namespace EmulexComp
