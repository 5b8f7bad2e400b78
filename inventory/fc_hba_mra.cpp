// Adapter walk over the HBA API layer's adapter table.
#include "inventory/fc_hba_mra.h"

#include <new>

#include "inventory/hba_api.h"

namespace hbafw {

FcHbaMRA::FcHbaMRA(const SystemPaths& systemPaths) : paths(systemPaths) {
    if (HBA_LoadLibrary(paths.hbaConf) != HBA_STATUS_OK) return;
    adapterCount = HBA_GetNumberOfAdapters();
    loaded = true;
}

std::unique_ptr<FcHbaAdapter> FcHbaMRA::MakeAdapter(HBA_UINT32 index, int& status) {
    std::unique_ptr<FcHbaAdapter> adapter(new (std::nothrow) FcHbaAdapter(index, paths));
    if (!adapter) {
        status = kAdapterAllocationFailed;
        return nullptr;
    }
    status = adapter->Refresh();
    adapter->ReadPciLocation();
    return adapter;
}

std::unique_ptr<FcHbaAdapter> FcHbaMRA::GetFirstAdapter(int& status) {
    status = 0;
    if (adapterCount == 0) return nullptr;
    return MakeAdapter(0, status);
}

std::unique_ptr<FcHbaAdapter> FcHbaMRA::GetNextAdapter(const FcHbaAdapter& previous, int& status) {
    HBA_UINT32 next = previous.GetAdapterIndex() + 1;
    if (next >= adapterCount) return nullptr;
    return MakeAdapter(next, status);
}

}  // namespace hbafw
