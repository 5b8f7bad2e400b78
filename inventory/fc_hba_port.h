// One port of an adapter as the HBA API layer describes it, copied by value,
// with the standard's speed, state and type texts. It reads nothing itself:
// the adapter's refresh fills it.
#pragma once

#include <cstdint>
#include <string>

#include "inventory/hba_api_types.h"

namespace hbafw {

const char* PortSpeedText(HBA_UINT32 speed);
const char* PortStateText(HBA_UINT32 state);
const char* PortTypeText(HBA_UINT32 type);

class FcHbaPort {
public:
    FcHbaPort() = default;
    FcHbaPort(HBA_UINT32 index, const HBA_PORTATTRIBUTES& attributes);
    FcHbaPort(const FcHbaPort&) = default;
    FcHbaPort& operator=(const FcHbaPort&) = default;
    virtual ~FcHbaPort() = default;

    // Counters the standard marks unsupported (-1) stay 0.
    void SetStatistics(const HBA_PORTSTATISTICS& statistics);

    const HBA_WWN& GetPortWWN() const { return PortWWN; }
    std::string GetPortWWNText() const;
    HBA_UINT32 GetPortFcId() const { return PortFcId; }
    HBA_UINT32 GetPortType() const { return PortType; }
    HBA_UINT32 GetPortState() const { return PortState; }
    const std::string& GetPortSymbolicName() const { return PortSymbolicName; }
    const std::string& GetOSDeviceName() const { return OSDeviceName; }
    HBA_UINT32 GetPortSupportedSpeed() const { return PortSupportedSpeed; }
    HBA_UINT32 GetPortSpeed() const { return PortSpeed; }
    HBA_UINT32 GetPortMaxFrameSize() const { return PortMaxFrameSize; }
    const HBA_WWN& GetFabricName() const { return FabricName; }
    HBA_UINT32 GetPortIndex() const { return portIndex; }
    const HBA_UINT8 (&GetActiveFc4Types() const)[32] { return activeFc4Types; }
    const HBA_UINT8 (&GetSupportedFc4Types() const)[32] { return supportedFc4Types; }
    const HBA_INT64 (&GetStatistics() const)[kPortStatisticsCount] { return statistics; }
    const char* GetSpeedText() const { return PortSpeedText(PortSpeed); }
    const char* GetSupportedSpeedText() const { return PortSpeedText(PortSupportedSpeed); }
    const char* GetStateText() const { return PortStateText(PortState); }
    const char* GetTypeText() const { return PortTypeText(PortType); }

private:
    HBA_WWN PortWWN{};
    HBA_UINT32 PortFcId = 0;
    HBA_UINT32 PortType = 1;
    HBA_UINT32 PortState = 1;
    std::string PortSymbolicName = "Undefined";
    std::string OSDeviceName = "Undefined";
    HBA_UINT32 PortSupportedSpeed = 0;
    HBA_UINT32 PortSpeed = 0;
    HBA_UINT32 PortMaxFrameSize = 0;
    HBA_WWN FabricName{};
    HBA_UINT32 portIndex = 0;
    HBA_UINT8 activeFc4Types[32] = {};
    HBA_UINT8 supportedFc4Types[32] = {};
    HBA_INT64 statistics[kPortStatisticsCount] = {};
};

}  // namespace hbafw
