// Test helper run inside the sandbox: loads the HBA API layer, lists its
// adapters, frees and loads it again without rebuilding the adapter table (as
// the enumeration does around a vendor attribute search), then opens each
// listed adapter again. It prints one line per adapter and pass; it checks nothing.
#include <cstdio>
#include <string>
#include <vector>

#include "inventory/attribute_text.h"
#include "inventory/hba_api.h"

namespace {

using namespace hbafw;

void Describe(const char* pass, const std::string& name) {
    HBA_HANDLE handle = HBA_OpenAdapter(name);
    if (handle == 0) {
        std::printf("%s %s open failed\n", pass, name.c_str());
        return;
    }
    HBA_ADAPTERATTRIBUTES attributes{};
    HBA_PORTATTRIBUTES port{};
    HBA_STATUS adapterStatus = HBA_GetAdapterAttributes(handle, &attributes);
    HBA_STATUS portStatus = HBA_GetAdapterPortAttributes(handle, 0, &port);
    std::printf("%s %s status=%u,%u node=%s port=%s serial=%.*s\n", pass, name.c_str(), adapterStatus, portStatus,
                FormatWwn(attributes.NodeWWN.wwn).c_str(), FormatWwn(port.PortWWN.wwn).c_str(),
                static_cast<int>(sizeof attributes.SerialNumber), attributes.SerialNumber);
    HBA_CloseAdapter(handle);
}

}  // namespace

int main() {
    if (HBA_LoadLibrary() != HBA_STATUS_OK) return 1;
    std::vector<std::string> names(HBA_GetNumberOfAdapters());
    for (HBA_UINT32 index = 0; index < names.size(); ++index) HBA_GetAdapterName(index, names[index]);
    for (const std::string& name : names) Describe("first", name);
    HBA_FreeLibrary();
    HBA_LoadLibrary();
    for (const std::string& name : names) Describe("reloaded", name);
    HBA_FreeLibrary();
    return 0;
}
