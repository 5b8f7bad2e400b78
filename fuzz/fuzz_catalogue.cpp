// libFuzzer target: the catalogue loader over arbitrary reference.xml bytes.
// The loader reads a path, so each input is written to a file in the process's
// private folder and loaded from there. It checks memory safety, termination
// and the loader's promises about what it stores, not the values themselves.
#include <libxml/xmlerror.h>

#include "framework/reference_catalogue.h"
#include "fuzz/fuzz_support.h"

namespace {
// The XML library's diagnostics are expected on bad input; they only slow the run.
void Silent(void*, const char*, ...) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    xmlSetGenericErrorFunc(nullptr, Silent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = hbafw::fuzz::ScratchDir().file("reference.xml");
    hbafw::testing::WriteFile(path, hbafw::fuzz::Text(data, size));
    hbafw::ReferenceCatalogue catalogue;
    bool loaded = hbafw::LoadCatalogue(catalogue, path);
    if (!loaded) FUZZ_CHECK(catalogue.devices.empty() && catalogue.discovery_app_path.empty());
    // A later non-empty bios does not bring biosPresent back to 2, so only its range is fixed.
    for (const hbafw::ReferenceDevice& device : catalogue.devices) {
        FUZZ_CHECK(device.biosPresent == 0 || device.biosPresent == 2);
        FUZZ_CHECK(device.model.size() <= hbafw::kMaxCatalogueValue);
    }
    return 0;
}
