// Normalisation and formatting of vendor attribute texts.
#include "inventory/attribute_text.h"

#include <cstdio>
#include <cstring>

namespace hbafw {

namespace {

bool IsKeptTrailing(char c) {
    auto value = static_cast<signed char>(c);
    return value >= 0x21 && value <= 0x7D;
}

}  // namespace

void CopyToField(char* field, std::size_t size, std::string_view text) {
    if (size == 0) return;
    std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

std::string NormalizedAttributeText(std::string_view text) {
    if (text.empty()) return std::string();
    std::size_t keep = 1;
    for (std::size_t position = text.size() - 1; position >= 1; --position) {
        if (IsKeptTrailing(text[position])) {
            keep = position + 1;
            break;
        }
    }
    text = text.substr(0, keep);
    std::string collapsed(1, text[0]);
    for (std::size_t i = 1; i < text.size(); ++i)
        if (!(text[i] == ' ' && text[i - 1] == ' ')) collapsed.push_back(text[i]);
    return collapsed;
}

void NormalizeAttributeText(char* text, std::size_t capacity) {
    std::size_t length = ::strnlen(text, capacity);
    std::string normalized = NormalizedAttributeText(std::string_view(text, length));
    std::memcpy(text, normalized.data(), normalized.size());
    std::memset(text + normalized.size(), 0, length - normalized.size());
}

std::string FormatWwn(const std::uint8_t (&wwn)[8]) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X:%02X:%02X", wwn[0], wwn[1], wwn[2], wwn[3],
                  wwn[4], wwn[5], wwn[6], wwn[7]);
    return text;
}

}  // namespace hbafw
