// The SNIA Common HBA API records and entry-point table, in the standard's
// layout, shared by the layer and by the simulated vendor library. The records
// the system never builds (target mappings, bindings, events, RNID data) stay
// opaque: only pointers to them pass through the dispatch.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hbafw {

using HBA_UINT8 = std::uint8_t;
using HBA_UINT32 = std::uint32_t;
using HBA_INT64 = std::int64_t;
using HBA_UINT64 = std::uint64_t;
using HBA_STATUS = HBA_UINT32;
using HBA_HANDLE = HBA_UINT32;
using HBA_WWNTYPE = HBA_UINT32;

inline constexpr HBA_STATUS HBA_STATUS_OK = 0;
inline constexpr HBA_STATUS HBA_STATUS_ERROR = 1;
inline constexpr HBA_STATUS HBA_STATUS_ERROR_NOT_SUPPORTED = 2;
inline constexpr HBA_STATUS HBA_STATUS_ERROR_INVALID_HANDLE = 3;
inline constexpr HBA_STATUS HBA_STATUS_ERROR_ILLEGAL_INDEX = 6;

// The standard marks a counter the adapter does not keep with -1.
inline constexpr HBA_INT64 kUnsupportedCounter = -1;

struct HBA_WWN {
    HBA_UINT8 wwn[8];
};

struct HBA_ADAPTERATTRIBUTES {
    char Manufacturer[64];
    char SerialNumber[64];
    char Model[256];
    char ModelDescription[256];
    HBA_WWN NodeWWN;
    char NodeSymbolicName[256];
    char HardwareVersion[256];
    char DriverVersion[256];
    char OptionROMVersion[256];
    char FirmwareVersion[256];
    HBA_UINT32 VendorSpecificID;
    HBA_UINT32 NumberOfPorts;
    char DriverName[256];
};
static_assert(sizeof(HBA_ADAPTERATTRIBUTES) == 2192);
static_assert(offsetof(HBA_ADAPTERATTRIBUTES, NodeWWN) == 640);

struct HBA_PORTATTRIBUTES {
    HBA_WWN NodeWWN;
    HBA_WWN PortWWN;
    HBA_UINT32 PortFcId;
    HBA_UINT32 PortType;
    HBA_UINT32 PortState;
    HBA_UINT32 PortSupportedClassofService;
    HBA_UINT8 PortSupportedFc4Types[32];
    HBA_UINT8 PortActiveFc4Types[32];
    char PortSymbolicName[256];
    char OSDeviceName[256];
    HBA_UINT32 PortSupportedSpeed;
    HBA_UINT32 PortSpeed;
    HBA_UINT32 PortMaxFrameSize;
    HBA_WWN FabricName;
    HBA_UINT32 NumberofDiscoveredPorts;
};
static_assert(sizeof(HBA_PORTATTRIBUTES) == 632);

struct HBA_PORTSTATISTICS {
    HBA_INT64 SecondsSinceLastReset;
    HBA_INT64 TxFrames;
    HBA_INT64 TxWords;
    HBA_INT64 RxFrames;
    HBA_INT64 RxWords;
    HBA_INT64 LIPCount;
    HBA_INT64 NOSCount;
    HBA_INT64 ErrorFrames;
    HBA_INT64 DumpedFrames;
    HBA_INT64 LinkFailureCount;
    HBA_INT64 LossOfSyncCount;
    HBA_INT64 LossOfSignalCount;
    HBA_INT64 PrimitiveSeqProtocolErrCount;
    HBA_INT64 InvalidTxWordCount;
    HBA_INT64 InvalidCRCCount;
};
static_assert(sizeof(HBA_PORTSTATISTICS) == 15 * sizeof(HBA_INT64));
inline constexpr std::size_t kPortStatisticsCount = 15;

struct HBA_FCPTARGETMAPPING;
struct HBA_FCPBINDING;
struct HBA_EVENTINFO;
struct HBA_MGMTINFO;

extern "C" {
using HBAGetVersionFunc = HBA_UINT32 (*)();
using HBALoadLibraryFunc = HBA_STATUS (*)();
using HBAFreeLibraryFunc = HBA_STATUS (*)();
using HBAGetNumberOfAdaptersFunc = HBA_UINT32 (*)();
using HBAGetAdapterNameFunc = HBA_STATUS (*)(HBA_UINT32 adapterIndex, char* adapterName);
using HBAOpenAdapterFunc = HBA_HANDLE (*)(char* adapterName);
using HBACloseAdapterFunc = void (*)(HBA_HANDLE handle);
using HBAGetAdapterAttributesFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_ADAPTERATTRIBUTES* attributes);
using HBAGetAdapterPortAttributesFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                       HBA_PORTATTRIBUTES* attributes);
using HBAGetPortStatisticsFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                HBA_PORTSTATISTICS* statistics);
using HBAGetDiscoveredPortAttributesFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_UINT32 portIndex,
                                                          HBA_UINT32 discoveredPortIndex,
                                                          HBA_PORTATTRIBUTES* attributes);
using HBAGetPortAttributesByWWNFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN portWwn,
                                                     HBA_PORTATTRIBUTES* attributes);
using HBASendCTPassThruFunc = HBA_STATUS (*)(HBA_HANDLE handle, void* request, HBA_UINT32 requestSize,
                                             void* response, HBA_UINT32 responseSize);
using HBARefreshInformationFunc = void (*)(HBA_HANDLE handle);
using HBAResetStatisticsFunc = void (*)(HBA_HANDLE handle, HBA_UINT32 portIndex);
using HBAGetFcpTargetMappingFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_FCPTARGETMAPPING* mapping);
using HBAGetFcpPersistentBindingFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_FCPBINDING* binding);
using HBAGetEventBufferFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_EVENTINFO* events, HBA_UINT32* eventCount);
using HBASetRNIDMgmtInfoFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_MGMTINFO* info);
using HBAGetRNIDMgmtInfoFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_MGMTINFO* info);
using HBASendRNIDFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN wwn, HBA_WWNTYPE wwnType, void* response,
                                       HBA_UINT32* responseSize);
using HBAScsiInquiryFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, HBA_UINT8 evpd,
                                          HBA_UINT32 pageCode, void* response, HBA_UINT32 responseSize,
                                          void* sense, HBA_UINT32 senseSize);
using HBAReportLUNsFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN portWwn, void* response,
                                         HBA_UINT32 responseSize, void* sense, HBA_UINT32 senseSize);
using HBAReadCapacityFunc = HBA_STATUS (*)(HBA_HANDLE handle, HBA_WWN portWwn, HBA_UINT64 fcLun, void* response,
                                           HBA_UINT32 responseSize, void* sense, HBA_UINT32 senseSize);
}

struct HBA_ENTRYPOINTS {
    HBAGetVersionFunc GetVersionHandler;
    HBALoadLibraryFunc LoadLibraryHandler;
    HBAFreeLibraryFunc FreeLibraryHandler;
    HBAGetNumberOfAdaptersFunc GetNumberOfAdaptersHandler;
    HBAGetAdapterNameFunc GetAdapterNameHandler;
    HBAOpenAdapterFunc OpenAdapterHandler;
    HBACloseAdapterFunc CloseAdapterHandler;
    HBAGetAdapterAttributesFunc GetAdapterAttributesHandler;
    HBAGetAdapterPortAttributesFunc GetAdapterPortAttributesHandler;
    HBAGetPortStatisticsFunc GetPortStatisticsHandler;
    HBAGetDiscoveredPortAttributesFunc GetDiscoveredPortAttributesHandler;
    HBAGetPortAttributesByWWNFunc GetPortAttributesByWWNHandler;
    HBASendCTPassThruFunc SendCTPassThruHandler;
    HBARefreshInformationFunc RefreshInformationHandler;
    HBAResetStatisticsFunc ResetStatisticsHandler;
    HBAGetFcpTargetMappingFunc GetFcpTargetMappingHandler;
    HBAGetFcpPersistentBindingFunc GetFcpPersistentBindingHandler;
    HBAGetEventBufferFunc GetEventBufferHandler;
    HBASetRNIDMgmtInfoFunc SetRNIDMgmtInfoHandler;
    HBAGetRNIDMgmtInfoFunc GetRNIDMgmtInfoHandler;
    HBASendRNIDFunc SendRNIDHandler;
    HBAScsiInquiryFunc ScsiInquiryHandler;
    HBAReportLUNsFunc ReportLUNsHandler;
    HBAReadCapacityFunc ReadCapacityHandler;
};
static_assert(sizeof(HBA_ENTRYPOINTS) == 24 * sizeof(void*));

extern "C" using HBARegisterLibraryFunc = HBA_STATUS (*)(HBA_ENTRYPOINTS* entryPoints);

// What VKXFC_GetAdapterAttributes2 fills: the standard record, then the PCI data.
inline constexpr std::size_t kVendorAttributesUsed = 2199;
inline constexpr std::size_t kVendorAttributesReserved = 2208;
struct VendorAdapterAttributes {
    HBA_ADAPTERATTRIBUTES standard;
    HBA_UINT32 subsystemIds;
    HBA_UINT8 pciBus;
    HBA_UINT8 pciFunction;
    HBA_UINT8 pciDomain;
    HBA_UINT8 reserved[kVendorAttributesReserved - kVendorAttributesUsed];
};
static_assert(offsetof(VendorAdapterAttributes, subsystemIds) == 2192);
static_assert(offsetof(VendorAdapterAttributes, pciBus) == 2196);
static_assert(offsetof(VendorAdapterAttributes, pciFunction) == 2197);
static_assert(offsetof(VendorAdapterAttributes, pciDomain) == 2198);
static_assert(sizeof(VendorAdapterAttributes) == kVendorAttributesReserved);

extern "C" {
using VKXFCLoadLibraryFunc = HBA_UINT32 (*)();
using VKXFCGetNumberOfAdaptersFunc = int (*)();
using VKXFCGetAdapterNameFunc = HBA_UINT32 (*)(HBA_UINT32 adapterIndex, char* adapterName);
using VKXFCOpenAdapterFunc = HBA_HANDLE (*)(char* adapterName);
using VKXFCGetAdapterAttributes2Func = HBA_UINT32 (*)(HBA_HANDLE handle, VendorAdapterAttributes* attributes);
using VKXFCCloseAdapterFunc = void (*)(HBA_HANDLE handle);
using VKXFCFreeLibraryFunc = void (*)();
}

}  // namespace hbafw
