// The vendor builds run their own discovery here, quietly and without a log,
// so each tool is asked exactly what a run asks it; only their answers are kept.
#include "apps/inventory_capture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "apps/capture_anonymize.h"
#include "apps/inventory_view.h"
#include "components/emulex/component.h"
#include "components/qlogic/component.h"
#include "framework/file_io.h"
#include "framework/folder_handle.h"
#include "inventory/file_trust.h"
#include "inventory/hba_api.h"

namespace hbafw {

namespace {

constexpr const char* kFolderRefused = "ERROR! : the capture folder must be new or empty, a folder of root's: ";
constexpr const char* kFileNotWritten = "ERROR! : the capture could not be written: ";
constexpr const char* kCaptured = "Captured into ";
constexpr const char* kIdentityLeft = "ERROR! : an identity of this server is left after --anonymize, in ";
// Below the capture folder and gone when it is done: the Emulex kit unpacks here.
constexpr const char* kKitScratch = "/.kits";

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Encoded(const std::string& text) {
    std::string encoded;
    for (char c : text) encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    return encoded;
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// The text after "key=" up to the next ", ", or empty.
std::string Field(const std::string& line, const std::string& key) {
    std::size_t at = line.find(key + "=");
    if (at == std::string::npos) return "";
    at += key.size() + 1;
    return line.substr(at, line.find(", ", at) - at);
}

// The text after the line's first colon, without the blanks around it.
std::string AfterColon(const std::string& line) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) return "";
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of(" \r") + 1);
    return value;
}

std::string UpperColons(std::string wwn) {
    for (char& c : wwn) c = c == '-' ? ':' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return wwn;
}

template <class Component>
std::string ToolAnswer(const SystemPaths& paths) {
    Component component(paths);
    component.log.setQuiet(true);
    component.DiscoverAdapters();
    return component.toolAnswer;
}

void AddFile(std::vector<CapturedFile>& files, const std::string& relative, const std::string& source) {
    std::string text;
    if (ReadWholeFile(source, text)) files.emplace_back(relative, text);
}

// Every file through the capture folder's handle, held since the folder was made.
bool WriteCapture(const FolderHandle& capture, const std::vector<CapturedFile>& files) {
    for (const auto& [relative, text] : files) {
        std::vector<std::string> names = PathNames(relative);
        if (names.empty()) return false;
        FolderHandle below;
        const FolderHandle* folder = &capture;
        for (std::size_t i = 0; i + 1 < names.size() && folder->valid(); ++i) {
            below = folder->Child(names[i], true, kFolderMode);
            folder = &below;
        }
        if (!folder->Replace(names.back(), text, kReportMode)) return false;
    }
    return true;
}

// The capture folder made new, root's alone, or an empty one of root's closed
// to others; invalid when anything is in it or on its way is not trusted.
FolderHandle CaptureFolder(const std::string& folder) {
    FolderHandle parent = FolderHandle::Open(FolderOf(folder));
    FolderHandle capture = parent.NewChild(NameOf(folder), kPrivateFolderMode);
    if (capture.valid()) return capture;
    capture = parent.Child(NameOf(folder));
    if (!capture.valid() || !capture.Empty() || ::fchmod(capture.fd(), kPrivateFolderMode) != 0) return {};
    return capture;
}

}  // namespace

std::string CapturedAdapterLine(const EnumeratedAdapter& adapter) {
    const AdapterRecord& r = adapter.record;
    std::string line = "adapter name=" + Encoded(adapter.adapterName) + " node=" + r.nodeWwn;
    for (const EnumeratedPort& port : adapter.ports) line += " port=" + port.wwn;
    line += " model=" + Encoded(r.model) + " driver=" + Encoded(r.driverVersion) +
            " firmware=" + Encoded(r.firmwareVersion) + " optionrom=" + Encoded(r.optionRomVersion);
    char numbers[128];
    std::string subsystem = r.subsystemId;  // low then high half, as the record shows it
    std::snprintf(numbers, sizeof numbers, " bus=%u function=%u domain=%u subsystem=0x%.4s%.4s", adapter.pciBus,
                  adapter.pciFunction, adapter.pciDomain, subsystem.size() == 8 ? subsystem.c_str() + 4 : "0000",
                  subsystem.size() == 8 ? subsystem.c_str() : "0000");
    line += numbers;
    // The lookup found no device: the twin lays none with these ids either.
    if (std::string(r.pciId).size() == 8) line += " pci=0x" + std::string(r.pciId);
    line += " library=" + FileName(adapter.servingLibrary) + " serial=" + Encoded(adapter.serialNumber) +
            " manufacturer=" + Encoded(adapter.manufacturer);
    if (adapter.numberOfPorts != adapter.ports.size()) line += " ports=" + std::to_string(adapter.numberOfPorts);
    return line;
}

std::string QLogicInstances(const std::string& answer) {
    std::istringstream lines(answer);
    std::string text, wwn;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Port Name") != std::string::npos) wwn = UpperColons(AfterColon(line));
        if (line.find("Flash Image") != std::string::npos && !wwn.empty()) {
            text += wwn + " " + AfterColon(line) + "\n";
            wwn.clear();
        }
    }
    return text;
}

std::string EmulexKitAdapters(const std::string& answer) {
    std::istringstream lines(answer);
    std::string text;
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("HBA="))
            text += Field(line, "HBA") + " " + Field(line, "PCI ID") + " " + Field(line, "VID") + " " +
                    Field(line, "SSID") + " " + Field(line, "SVID") + " " + Field(line, "Firmware") + " " +
                    Field(line, "Boot Code") + "\n";
    return text;
}

namespace {

// sim/pci-unlisted: a known vendor's adapters on the PCI bus when neither the
// HBA API layer nor the vendor's tool lists any of that vendor's, so the twin
// runs the same builds the server does.
std::string UnlistedPciDevices(const SystemPaths& paths, const std::vector<EnumeratedAdapter>& adapters,
                               bool kitListsAdapters) {
    std::set<std::string> listed;
    for (const EnumeratedAdapter& adapter : adapters) listed.insert(BuildForPciId(adapter.record.pciId));
    if (kitListsAdapters) listed.insert(BuildForPciId("10df"));
    std::string text;
    for (const KnownPciDevice& device : KnownPciDevices(paths))
        if (!listed.contains(BuildForPciId(device.ids[0])))
            text += device.ids[0] + " " + device.ids[1] + " " + device.ids[2] + " " + device.ids[3] + "\n";
    return text;
}

}  // namespace

bool CaptureMachine(const std::string& folder, bool anonymize, const SystemPaths& paths, std::ostream& console,
                    std::ostream& errors) {
    // A folder holding anything is refused before its mode is touched.
    FolderHandle capture = CaptureFolder(folder);
    if (!capture.valid()) {
        errors << kFolderRefused << folder << "\n";
        return false;
    }
    std::vector<CapturedFile> files;
    AddFile(files, "etc/hba.conf", paths.hbaConf);
    AddFile(files, "etc/redhat-release", paths.redhatRelease);
    AddFile(files, "etc/SuSE-release", paths.suseRelease);
    AddFile(files, "work/reference.xml", "reference.xml");

    std::string missing;
    if (std::ifstream config(paths.hbaConf); config)
        for (const HbaConfigLine& line : ReadHbaConfig(config))
            if (line.path.starts_with("/usr/") && !Exists(line.path)) missing += line.path + " none\n";
    if (!missing.empty()) files.emplace_back("sim/libraries", missing);

    std::vector<EnumeratedAdapter> adapters = EnumerateAdapterDetails(paths, console);

    // The builds ask their tools only what a run asks; the log and the kit's
    // unpacking stay inside the capture folder.
    SystemPaths quiet = paths;
    quiet.componentLog.clear();
    quiet.kitFolders = folder + kKitScratch;
    if (Exists("qlafwupdate")) {
        std::string answer = ToolAnswer<QLogicComp::CComponent>(quiet);
        files.emplace_back("sim/qlafwupdate/flash", "exit 0\n");
        files.emplace_back("sim/qlafwupdate/instances", QLogicInstances(answer));
        // Asked whenever the enumeration found adapters, even if it answered nothing.
        if (!answer.empty() || !adapters.empty()) files.emplace_back("sim/qlafwupdate/query", answer);
    }
    bool kitListsAdapters = false;
    if (!NamesMatching(".", EmulexComp::kKitPattern).empty()) {
        std::string answer = ToolAnswer<EmulexComp::CComponent>(quiet);
        ::rmdir(quiet.kitFolders.c_str());
        kitListsAdapters = !EmulexKitAdapters(answer).empty();
        files.emplace_back("sim/elxflash/adapters", EmulexKitAdapters(answer));
        files.emplace_back("sim/elxflash/flash", "exit 0\n");
        files.emplace_back("sim/elxflash/query", answer);
    }
    if (Exists("bcu_bootupdate")) files.emplace_back("sim/bcu/flash", "exit 0\n");
    if (std::string unlisted = UnlistedPciDevices(paths, adapters, kitListsAdapters); !unlisted.empty())
        files.emplace_back("sim/pci-unlisted", unlisted);

    // Replaced before adapters.conf encodes them, so a serial with a blank goes too.
    Identities identities;
    if (anonymize) {
        std::vector<std::string> texts;
        for (const auto& [relative, text] : files) texts.push_back(text);
        identities = IdentitiesOf(adapters, texts);
        Anonymizer anonymizer(identities);
        for (EnumeratedAdapter& adapter : adapters) anonymizer.Apply(adapter);
        for (auto& [relative, text] : files) text = anonymizer.Apply(text);
    }
    std::string lines;
    for (const EnumeratedAdapter& adapter : adapters) lines += CapturedAdapterLine(adapter) + "\n";
    if (!lines.empty()) files.emplace_back("sim/adapters.conf", lines);
    for (const auto& [relative, text] : files) {
        if (LeftIdentity(text, identities).empty()) continue;
        errors << kIdentityLeft << relative << "; nothing was written: " << folder << "\n";
        return false;
    }
    if (!WriteCapture(capture, files)) {
        errors << kFileNotWritten << folder << "\n";
        return false;
    }
    console << kCaptured << folder << ": " << adapters.size() << " adapters, " << files.size() << " files.\n";
    return true;
}

}  // namespace hbafw
