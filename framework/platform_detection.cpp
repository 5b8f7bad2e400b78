// The release file is matched whole against the operating-system table; the
// first pattern that matches names the release. Only one release file is read.
#include "framework/platform_detection.h"

#include <sys/stat.h>

#include <span>

#include "framework/file_io.h"
#include "pattern/pattern.h"

namespace hbafw {

namespace {

struct ReleaseRule {
    const char* pattern;
    const wchar_t* osId;
};

constexpr ReleaseRule kRedHatRules[] = {
    {"Red Hat Enterprise Linux.*release 4.*", L"rhel4"},
    {"Red Hat Enterprise Linux.*release 5.*", L"rhel5"},
    {"Red Hat Enterprise Linux.*release 6.*", L"rhel6"},
};
constexpr ReleaseRule kSuseRules[] = {
    {"SUSE Linux Enterprise Server 10.*", L"sles10"},
    {"SUSE Linux Enterprise Server 11.*", L"sles11"},
};

bool Exists(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0;
}

// Read directly rather than through "cat": no command is looked up to read it.
void MatchReleaseFile(const std::string& path, ReleaseFamily family, std::wstring& osId) {
    std::string text;
    if (!ReadWholeFile(path, text)) return;
    std::wstring matched = MatchReleaseText(family, text);
    if (!matched.empty()) osId = matched;
}

}  // namespace

std::wstring MatchReleaseText(ReleaseFamily family, const std::string& text) {
    std::span<const ReleaseRule> rules = family == ReleaseFamily::RedHat ? std::span<const ReleaseRule>(kRedHatRules)
                                                                         : std::span<const ReleaseRule>(kSuseRules);
    for (const ReleaseRule& rule : rules) {
        // A match the engine gave up on counts as no match.
        if (Pattern::matchesOnce(rule.pattern, text, FLAG_DOT_ALL | FLAG_MULTILINE)) return rule.osId;
    }
    return std::wstring();
}

int DetectOperatingSystem(CBaseCmp& component) {
    if (Exists(component.paths.redhatRelease))
        MatchReleaseFile(component.paths.redhatRelease, ReleaseFamily::RedHat, component.result.osId);
    else if (Exists(component.paths.suseRelease))
        MatchReleaseFile(component.paths.suseRelease, ReleaseFamily::Suse, component.result.osId);
    return 0;
}

}  // namespace hbafw
