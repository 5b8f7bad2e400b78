// How adapters are named for the catalogue and how package and active
// versions compare. Pure functions; the actions they lead to are elsewhere.
#pragma once

#include <string>
#include <vector>

#include "inventory/adapter_record.h"

namespace hbafw {

// vvvv.dddd.ssss.ssss from the record's PCI and subsystem ids, each left out when "N/A".
std::wstring DeviceIdentifier(const AdapterRecord& record);

std::vector<std::wstring> SplitVersion(const std::wstring& text, wchar_t separator);

// -1, 0 or 1: first older, equal or newer than second.
int CompareVersionTexts(std::wstring first, std::wstring second);

std::wstring UpperCase(std::wstring text);

}  // namespace hbafw
