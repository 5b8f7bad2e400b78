// The access object of one enumeration: loads the HBA API layer and hands out
// refreshed adapters one index after the other. It leaves the layer loaded;
// the adapters unload it when they go.
#pragma once

#include <memory>

#include "inventory/fc_hba_adapter.h"
#include "inventory/system_paths.h"

namespace hbafw {

inline constexpr int kAdapterAllocationFailed = 2;

class FcHbaMRA {
public:
    explicit FcHbaMRA(const SystemPaths& paths = SystemPaths{});
    virtual ~FcHbaMRA() = default;

    // status: 0, the refresh result, or 2 when the adapter could not be allocated.
    std::unique_ptr<FcHbaAdapter> GetFirstAdapter(int& status);
    std::unique_ptr<FcHbaAdapter> GetNextAdapter(const FcHbaAdapter& previous, int& status);

    bool IsLoaded() const { return loaded; }
    HBA_UINT32 GetAdapterCount() const { return adapterCount; }

private:
    std::unique_ptr<FcHbaAdapter> MakeAdapter(HBA_UINT32 index, int& status);

    bool loaded = false;
    HBA_UINT32 adapterCount = 0;
    SystemPaths paths;
};

}  // namespace hbafw
