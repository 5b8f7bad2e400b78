// Reads the package's reference catalogue (reference.xml) into its records.
// It only reads; matching adapters against it lives with version comparison.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <string>

#include "framework/records.h"

namespace hbafw {

inline constexpr const char* kCataloguePath = "reference.xml";

// A version or identifier is a few dozen bytes, a model name rarely more than a
// line; a value beyond this is no catalogue.
inline constexpr std::size_t kMaxCatalogueValue = 65536;

// False when the file is missing or not well-formed, declares entities, or
// holds a value longer than kMaxCatalogueValue; the catalogue is then untouched.
bool LoadCatalogue(ReferenceCatalogue& catalogue, const std::string& path = kCataloguePath);

// The named attribute's value as the parser left it (its text, no entity
// substituted here), one wide character per byte, or empty.
std::wstring ReadValueAttribute(const xmlNode* element, const char* attributeName);

// One wide character per byte, taken unsigned so bytes of 0x80 and above stay
// positive and narrow back to the same byte.
std::wstring WidenBytes(const char* bytes);

}  // namespace hbafw
