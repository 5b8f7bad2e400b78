// Text forms of values read from vendor libraries: bounded reading of fixed
// fields, the clean-up applied to attribute texts, and the WWN text. They
// never read past a field, whether or not the vendor ended it with a NUL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hbafw {

// The text of a fixed field: up to its first NUL or its full width.
template <std::size_t N>
std::string BoundedText(const char (&field)[N]) {
    std::size_t length = 0;
    while (length < N && field[length] != '\0') ++length;
    return std::string(field, length);
}

// Copies at most size-1 characters and fills the rest with NULs.
void CopyToField(char* field, std::size_t size, std::string_view text);

// Cuts trailing characters outside '!'..'}' (never the first character) and
// collapses runs of spaces to one.
std::string NormalizedAttributeText(std::string_view text);

// In place within capacity bytes; the freed tail is filled with NULs.
void NormalizeAttributeText(char* text, std::size_t capacity);

// "%02X:%02X:..." of eight bytes.
std::string FormatWwn(const std::uint8_t (&wwn)[8]);

}  // namespace hbafw
