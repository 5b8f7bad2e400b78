// Port copies and the standard's port texts.
#include "inventory/fc_hba_port.h"

#include <cstring>

#include "inventory/attribute_text.h"

namespace hbafw {

const char* PortSpeedText(HBA_UINT32 speed) {
    // The first bit set in this order decides, as the standard lists them.
    static constexpr struct {
        HBA_UINT32 bit;
        const char* text;
    } kSpeeds[] = {{0x8000, "Not Negotiated"}, {0x20, "16 GB"}, {0x4, "10 GB"}, {0x10, "8 GB"},
                   {0x8, "4 GB"},              {0x2, "2 GB"},   {0x1, "1 GB"}};
    for (const auto& speedBit : kSpeeds)
        if (speed & speedBit.bit) return speedBit.text;
    return "Unknown";
}

const char* PortStateText(HBA_UINT32 state) {
    static constexpr const char* kStates[] = {"Unknown",          "Unknown",   "Online", "Offline", "Bypassed",
                                              "Diagnostics Mode", "Link Down", "Error",  "Loopback"};
    return state < std::size(kStates) ? kStates[state] : "Unknown";
}

const char* PortTypeText(HBA_UINT32 type) {
    switch (type) {
        case 2: return "Other";
        case 3: return "Not Present";
        case 5: return "Fabric";
        case 6: return "Public Loop";
        case 7: return "FL Port";
        case 8: return "Fabric Port";
        case 9: return "Fabric expansion port";
        case 10: return "Generic Fabric Port";
        case 20: return "Private Loop";
        case 21: return "Point to Point";
        default: return "Unknown";
    }
}

FcHbaPort::FcHbaPort(HBA_UINT32 index, const HBA_PORTATTRIBUTES& attributes)
    : PortWWN(attributes.PortWWN),
      PortFcId(attributes.PortFcId),
      PortType(attributes.PortType),
      PortState(attributes.PortState),
      PortSymbolicName(BoundedText(attributes.PortSymbolicName)),
      OSDeviceName(BoundedText(attributes.OSDeviceName)),
      PortSupportedSpeed(attributes.PortSupportedSpeed),
      PortSpeed(attributes.PortSpeed),
      PortMaxFrameSize(attributes.PortMaxFrameSize),
      FabricName(attributes.FabricName),
      portIndex(index) {
    std::memcpy(activeFc4Types, attributes.PortActiveFc4Types, sizeof activeFc4Types);
    std::memcpy(supportedFc4Types, attributes.PortSupportedFc4Types, sizeof supportedFc4Types);
}

void FcHbaPort::SetStatistics(const HBA_PORTSTATISTICS& source) {
    HBA_INT64 counters[kPortStatisticsCount];
    std::memcpy(counters, &source, sizeof counters);
    for (std::size_t i = 0; i < kPortStatisticsCount; ++i)
        if (counters[i] != kUnsupportedCounter) statistics[i] = counters[i];
}

std::string FcHbaPort::GetPortWWNText() const { return FormatWwn(PortWWN.wwn); }

}  // namespace hbafw
