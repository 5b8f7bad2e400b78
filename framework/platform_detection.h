// Detection of the operating-system release into the discovery result.
#pragma once

#include <string>

#include "framework/base_component.h"

namespace hbafw {

enum class ReleaseFamily { RedHat, Suse };

// The osId the first matching row of the family's table names for this release
// text, or empty when no row matches.
std::wstring MatchReleaseText(ReleaseFamily family, const std::string& text);

// Always 0; sets result.osId when a release file is recognised.
int DetectOperatingSystem(CBaseCmp& component);

}  // namespace hbafw
