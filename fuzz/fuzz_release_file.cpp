// libFuzzer target: the release-file matching over arbitrary text. Byte 0
// picks the table (even: Red Hat, odd: SUSE), the rest is the file's text;
// nothing is read from /etc. It checks memory safety, termination, and that a
// recognised release names its family's table and begins with its name.
#include "framework/platform_detection.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool redhat = data[0] % 2 == 0;
    const std::string text = hbafw::fuzz::Text(data + 1, size - 1);
    std::wstring osId =
        hbafw::MatchReleaseText(redhat ? hbafw::ReleaseFamily::RedHat : hbafw::ReleaseFamily::Suse, text);
    if (osId.empty()) return 0;
    if (redhat) {
        FUZZ_CHECK(osId == L"rhel4" || osId == L"rhel5" || osId == L"rhel6");
        FUZZ_CHECK(text.starts_with("Red Hat Enterprise Linux"));
    } else {
        FUZZ_CHECK(osId == L"sles10" || osId == L"sles11");
        FUZZ_CHECK(text.starts_with("SUSE Linux Enterprise Server 1"));
    }
    return 0;
}
