// Numeric parts compare by value, other parts by character code, and extra
// trailing parts make a version newer.
#include "framework/version_compare.h"

#include <strings.h>
#include <wctype.h>

#include <cwchar>

#include "pattern/pattern.h"

namespace hbafw {

namespace {

// Digits only; compared by value at any length, so no part can overflow.
int CompareDigitTexts(const std::wstring& a, const std::wstring& b) {
    std::size_t ia = a.find_first_not_of(L'0');
    std::size_t ib = b.find_first_not_of(L'0');
    std::wstring_view da = ia == std::wstring::npos ? std::wstring_view() : std::wstring_view(a).substr(ia);
    std::wstring_view db = ib == std::wstring::npos ? std::wstring_view() : std::wstring_view(b).substr(ib);
    if (da.size() != db.size()) return da.size() < db.size() ? -1 : 1;
    int c = da.compare(db);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// A match that the engine gave up on counts as not numeric, so the part is
// compared as text.
bool IsNumeric(const std::wstring& part) { return WidePattern::matchesOnce(L"\\d+", part, 0); }

}  // namespace

std::wstring DeviceIdentifier(const AdapterRecord& record) {
    std::string text;
    if (strcasecmp(record.pciId, "N/A") != 0) text = record.pciId;
    if (strcasecmp(record.subsystemId, "N/A") != 0) text += record.subsystemId;
    for (std::size_t at = 4; at < text.size(); at += 5) text.insert(at, 1, '.');
    std::wstring wide;
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::vector<std::wstring> SplitVersion(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (std::size_t at = text.find(separator); at != std::wstring::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

int CompareVersionTexts(std::wstring first, std::wstring second) {
    std::vector<std::wstring> f = SplitVersion(first, L'.');
    std::vector<std::wstring> s = SplitVersion(second, L'.');
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (i >= s.size()) return 1;
        int c;
        if (IsNumeric(f[i]) && IsNumeric(s[i]))
            c = CompareDigitTexts(f[i], s[i]);
        else
            c = std::wcscmp(f[i].c_str(), s[i].c_str());
        if (c < 0) return -1;
        if (c > 0) return 1;
    }
    return s.size() > f.size() ? -1 : 0;
}

std::wstring UpperCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(towupper(static_cast<wint_t>(c)));
    return text;
}

}  // namespace hbafw
