// libFuzzer target: the QLogic component's reading of "./qlafwupdate /q"
// output over arbitrary bytes, against three adapters the catalogue knows (one
// without a port). Nothing is run. It checks memory safety, termination, and
// that every known adapter still gets its one item with a valid action.
#include "components/qlogic/component.h"
#include "fuzz/fuzz_support.h"

using namespace hbafw::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QLogicComp::CComponent& component = []() -> QLogicComp::CComponent& {
        auto& made = QuietComponent<QLogicComp::CComponent>();
        made.catalogue.devices = {CatalogueDevice(L"1077.2532.1077.015d", L""),
                                  CatalogueDevice(L"1077.2031.1077.0241.extra", L"")};
        made.adapters = {Adapter("10772532", "1077015D", "21:00:00:1B:32:0A:BC:DE"),
                         Adapter("10772031", "10770241", "21:00:00:24:FF:4B:9C:01"),
                         Adapter("10772532", "1077015D", "")};
        return made;
    }();
    component.result.devices.clear();
    component.ReadQueryOutput(Text(data, size));
    FUZZ_CHECK(component.result.devices.size() == component.adapters.size());
    for (const hbafw::DiscoveredDevice& device : component.result.devices) {
        FUZZ_CHECK(device.fw_items.size() == 1);
        FUZZ_CHECK(IsAction(device.fw_items.front().action));
    }
    return 0;
}
