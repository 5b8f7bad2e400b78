// libFuzzer target: the HBA API layer's reading of /etc/hba.conf over arbitrary
// bytes. Only the reading runs: loading would dlopen whatever path the input
// names. It checks memory safety and the promised shape of every line read.
#include <sstream>

#include "fuzz/fuzz_support.h"
#include "inventory/hba_api.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream config(hbafw::fuzz::Text(data, size));
    std::vector<hbafw::HbaConfigLine> lines = hbafw::ReadHbaConfig(config);
    FUZZ_CHECK(lines.size() <= hbafw::kMaxLibraries);
    for (const hbafw::HbaConfigLine& line : lines) {
        FUZZ_CHECK(!line.name.empty() && line.name.find_first_of("\t\n") == std::string::npos);
        FUZZ_CHECK(!line.path.empty() && line.path.size() < hbafw::kLibraryPathSize);
        FUZZ_CHECK(line.path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./") ==
                   std::string::npos);
    }
    return 0;
}
