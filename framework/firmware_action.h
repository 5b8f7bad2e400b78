// Actions of firmware items and their summary for the run sequence.
#pragma once

#include <string>

#include "framework/records.h"

namespace hbafw {

inline constexpr const wchar_t* kActionUpgrade = L"upgrade";
inline constexpr const wchar_t* kActionRewrite = L"rewrite";
inline constexpr const wchar_t* kActionDowngrade = L"downgrade";

// 1 "upgrade", 0 "rewrite", -1 (and anything else) "downgrade".
std::wstring ActionFromComparison(int comparison);

// 1 when any item is an upgrade, else 4 for a downgrade, else 2 for a rewrite, else 0.
int ActionSummary(const DiscoveryResult& result);

}  // namespace hbafw
