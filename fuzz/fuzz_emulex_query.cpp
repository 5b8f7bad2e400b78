// libFuzzer target: the Emulex component's reading of the kit's "/q /sysfs"
// output over arbitrary bytes, against a catalogue of adapters with and without
// a boot BIOS. Nothing is run or unpacked. It checks memory safety, termination
// and the shape of every device found.
#include "components/emulex/component.h"
#include "fuzz/fuzz_support.h"

using namespace hbafw::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static EmulexComp::CComponent& component = []() -> EmulexComp::CComponent& {
        auto& made = QuietComponent<EmulexComp::CComponent>();
        made.catalogue.devices = {CatalogueDevice(L"10df.f100.10df.f100", L"5.12A0"),
                                  CatalogueDevice(L"10df.e200.10df.e200", L"", 0),
                                  CatalogueDevice(L"10DF.0704.10DF.E722", L"11.0.270.3")};
        return made;
    }();
    component.result.devices.clear();
    component.ReadQueryOutput(Text(data, size));
    for (const hbafw::DiscoveredDevice& device : component.result.devices) {
        FUZZ_CHECK(device.device_id.size() == 19);
        FUZZ_CHECK(device.fw_items.size() == 1 || device.fw_items.size() == 2);
        for (const hbafw::FirmwareItem& item : device.fw_items) FUZZ_CHECK(IsAction(item.action));
    }
    return 0;
}
