// STAGED: the release files are matched with the system's pattern engine, which
// comes with the shell-capture work; until then osId stays empty, which the
// run sequence accepts (nothing else reads it).
#include "framework/platform_detection.h"

namespace hbafw {

int DetectOperatingSystem(CBaseCmp& /*component*/) { return 0; }

}  // namespace hbafw
