// One enumerated adapter as nine fixed-width, NUL-terminated texts. The
// framework reads these; only the enumeration writes them.
#pragma once

namespace hbafw {

struct AdapterRecord {
    char nodeWwn[256] = {};
    char portWwn[256] = {};
    char pciId[256] = {};
    char subsystemId[256] = {};
    char driverVersion[512] = {};
    char firmwareVersion[256] = {};
    char optionRomVersion[256] = {};
    char spare[256] = {};
    char model[256] = {};
};

}  // namespace hbafw
