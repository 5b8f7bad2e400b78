// A capture of this server as a simulated machine folder (sim/machines/README.md
// has the map): the release file, hba.conf, each adapter as the HBA API
// libraries answer the enumeration, and the vendor tools' answers to the
// queries discovery makes, asked by the vendor builds' own discovery. It
// writes only below its folder and flashes nothing.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "inventory/adapter_enumeration.h"
#include "inventory/system_paths.h"

namespace hbafw {

// A file of the machine folder: its path relative to the folder, its text.
using CapturedFile = std::pair<std::string, std::string>;

// One sim/adapters.conf line of an enumerated adapter, the library named by
// its file name; blanks in texts are written %20, as the simulated library reads them.
std::string CapturedAdapterLine(const EnumeratedAdapter& adapter);

// The QLogic "/q" and Emulex "/q /sysfs" answers read into the simulated
// tools' state lines ("PORTWWN IMAGE", "MODEL PCIID VID SSID SVID FIRMWARE BOOT").
std::string QLogicInstances(const std::string& answer);
std::string EmulexKitAdapters(const std::string& answer);

// Captures into folder (made, root's alone; it must not hold anything yet),
// with the vendor tools taken from the working folder, as a run finds them.
// The enumeration's status lines and the summary go to console; false, with
// a line on errors, when the folder could not be written or, anonymized, it
// would still hold an identity (capture_anonymize.h).
bool CaptureMachine(const std::string& folder, bool anonymize, const SystemPaths& paths, std::ostream& console,
                    std::ostream& errors);

}  // namespace hbafw
