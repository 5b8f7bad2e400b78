// libFuzzer target: the Brocade component's reading of an adapter's option ROM
// version text, as the enumeration leaves it in the adapter record (at most
// 255 bytes, up to the first NUL), through its discovery. It checks memory
// safety, termination, and that the active version is the text or a dotted quad.
#include <algorithm>
#include <cwctype>

#include "components/brocade/component.h"
#include "framework/shell_capture.h"
#include "fuzz/fuzz_support.h"

using namespace hbafw::fuzz;

namespace {
bool IsDottedQuad(const std::wstring& text) {
    int dots = 0;
    bool digitBefore = false;
    for (wchar_t c : text) {
        if (c == L'.') {
            if (!digitBefore) return false;
            ++dots;
            digitBefore = false;
        } else if (c >= L'0' && c <= L'9') {
            digitBefore = true;
        } else {
            return false;
        }
    }
    return dots == 3 && digitBefore;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static BrocadeComp::CComponent& component = []() -> BrocadeComp::CComponent& {
        auto& made = QuietComponent<BrocadeComp::CComponent>();
        made.catalogue.devices = {CatalogueDevice(L"1657.0013.1657.0014", L"3.0.3.2")};
        made.adapters = {Adapter("16570013", "16570014", "10:00:00:05:1E:0D:B4:01")};
        return made;
    }();
    hbafw::AdapterRecord& record = component.adapters.front();
    std::size_t length = std::min(size, sizeof record.optionRomVersion - 1);
    std::copy(data, data + length, record.optionRomVersion);
    record.optionRomVersion[length] = '\0';
    component.result.devices.clear();
    component.DiscoverFirmware();
    FUZZ_CHECK(component.result.devices.size() == 1);
    const hbafw::FirmwareItem& item = component.result.devices.front().fw_items.front();
    FUZZ_CHECK(IsAction(item.action));
    FUZZ_CHECK(item.active_version == hbafw::WidenText(record.optionRomVersion) || IsDottedQuad(item.active_version));
    return 0;
}
