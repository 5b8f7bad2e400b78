// Replacement walks the text once, left to right, so a replacement is never
// itself replaced again; the check reads the result afresh in every form.
#include "apps/capture_anonymize.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

namespace hbafw {

namespace {

constexpr std::size_t kDigits = 16;
constexpr std::size_t kSeparated = 23;

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool IsWord(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EndsWord(const std::string& text, std::size_t end) { return end == text.size() || !IsWord(text[end]); }

bool HasPrefix0x(const std::string& text, std::size_t at) {
    return at + 2 <= text.size() && text[at] == '0' && (text[at + 1] == 'x' || text[at + 1] == 'X');
}

// Whole-token: no letter or digit right before (a "0x" counts as the token's own).
bool StartsWord(const std::string& text, std::size_t at) {
    if (at == 0 || !IsWord(text[at - 1])) return true;
    return at >= 2 && HasPrefix0x(text, at - 2) && (at == 2 || !IsWord(text[at - 3]));
}

// The WWN form starting at text[at] (its length, its digits upper-cased), or length 0.
std::pair<std::size_t, std::string> WwnAt(const std::string& text, std::size_t at) {
    if (at > 0 && IsWord(text[at - 1])) return {0, ""};
    std::string digits;
    if (at + kSeparated <= text.size() && (text[at + 2] == ':' || text[at + 2] == '-')) {
        bool ok = true;
        for (std::size_t i = 0; i < kSeparated && ok; ++i) {
            char c = text[at + i];
            ok = i % 3 == 2 ? c == text[at + 2] : IsHex(c);
            if (ok && i % 3 != 2) digits += Upper(c);
        }
        if (ok && EndsWord(text, at + kSeparated)) return {kSeparated, digits};
        digits.clear();
    }
    std::size_t start = HasPrefix0x(text, at) ? at + 2 : at;
    if (start + kDigits > text.size() || !EndsWord(text, start + kDigits)) return {0, ""};
    for (std::size_t i = start; i < start + kDigits; ++i) {
        if (!IsHex(text[i])) return {0, ""};
        digits += Upper(text[i]);
    }
    return {start + kDigits - at, digits};
}

// digits written as original is: its "0x", its separator, its case.
std::string Rendered(const std::string& digits, const std::string& original) {
    bool prefixed = HasPrefix0x(original, 0);
    std::string out = prefixed ? original.substr(0, 2) : "";
    char separator = original.size() == kSeparated ? original[2] : '\0';
    bool lower = std::any_of(original.begin() + (prefixed ? 2 : 0), original.end(),
                             [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; });
    for (std::size_t i = 0; i < kDigits; ++i) {
        if (separator != '\0' && i > 0 && i % 2 == 0) out += separator;
        out += lower ? Lower(digits[i]) : digits[i];
    }
    return out;
}

std::string Canonical(const std::string& wwn) {
    auto [length, digits] = WwnAt(wwn, 0);
    return length == wwn.size() ? digits : "";
}

void AddOnce(std::vector<std::string>& list, const std::string& value) {
    if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

std::string Encoded(const std::string& text) {
    std::string encoded;
    for (char c : text) encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    return encoded;
}

// The first whole-token occurrence of form in text, or npos.
std::size_t FindWhole(const std::string& text, const std::string& form) {
    for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 1))
        if (StartsWord(text, at) && EndsWord(text, at + form.size())) return at;
    return std::string::npos;
}

}  // namespace

Identities IdentitiesOf(const std::vector<EnumeratedAdapter>& adapters, const std::vector<std::string>& texts) {
    Identities ids;
    for (const EnumeratedAdapter& adapter : adapters) {
        AddOnce(ids.wwns, Canonical(adapter.record.nodeWwn));
        AddOnce(ids.wwns, Canonical(adapter.record.portWwn));
        for (const EnumeratedPort& port : adapter.ports) AddOnce(ids.wwns, Canonical(port.wwn));
        AddOnce(ids.serials, adapter.serialNumber);
    }
    for (const std::string& text : texts) {
        for (std::size_t at = 0; at < text.size(); ++at) {
            auto [length, digits] = WwnAt(text, at);
            if (length == kSeparated) AddOnce(ids.wwns, digits);
        }
        // Serial numbers the tools print, on their "Serial" lines.
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            std::size_t colon = line.find(':');
            if (line.find("Serial") == std::string::npos || colon == std::string::npos) continue;
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            value.erase(value.find_last_not_of(" \r") + 1);
            AddOnce(ids.serials, value);
        }
    }
    return ids;
}

Anonymizer::Anonymizer(const Identities& identities) {
    for (std::size_t i = 0; i < identities.wwns.size(); ++i) {
        char replacement[kDigits + 1];
        std::snprintf(replacement, sizeof replacement, "%.4s000000%06zX", identities.wwns[i].c_str(), (i + 1) & 0xFFFFFF);
        wwns_.emplace_back(identities.wwns[i], replacement);
    }
    for (std::size_t i = 0; i < identities.serials.size(); ++i)
        serials_.emplace_back(identities.serials[i], "SERIAL" + std::to_string(i + 1));
    std::stable_sort(serials_.begin(), serials_.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

std::string Anonymizer::Apply(const std::string& text) const {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        // Not a structured binding: clang before 16 cannot capture one in the lambda.
        const auto found = WwnAt(text, at);
        const std::size_t length = found.first;
        auto wwn = std::find_if(wwns_.begin(), wwns_.end(), [&](const auto& w) { return w.first == found.second; });
        if (length > 0 && wwn != wwns_.end()) {
            out += Rendered(wwn->second, text.substr(at, length));
            at += length;
            continue;
        }
        auto serial = std::find_if(serials_.begin(), serials_.end(), [&](const auto& s) {
            return text.compare(at, s.first.size(), s.first) == 0 && StartsWord(text, at) &&
                   EndsWord(text, at + s.first.size());
        });
        if (serial != serials_.end()) {
            out += serial->second;
            at += serial->first.size();
            continue;
        }
        out += text[at++];
    }
    return out;
}

void Anonymizer::Apply(EnumeratedAdapter& adapter) const {
    adapter.adapterName = Apply(adapter.adapterName);
    adapter.serialNumber = Apply(adapter.serialNumber);
    for (EnumeratedPort& port : adapter.ports) port.wwn = Apply(port.wwn);
    for (char* field : {adapter.record.nodeWwn, adapter.record.portWwn})
        std::snprintf(field, sizeof adapter.record.nodeWwn, "%s", Apply(field).c_str());
}

std::string LeftIdentity(const std::string& text, const Identities& identities) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    for (const std::string& wwn : identities.wwns) {
        std::string digits = wwn;
        std::transform(digits.begin(), digits.end(), digits.begin(), Lower);
        for (const std::string& form : {digits, Rendered(digits, "00:00:00:00:00:00:00:00"),
                                        Rendered(digits, "00-00-00-00-00-00-00-00")})
            if (FindWhole(lower, form) != std::string::npos) return wwn;
    }
    for (const std::string& serial : identities.serials)
        for (const std::string& form : {serial, Encoded(serial)})
            if (FindWhole(text, form) != std::string::npos) return serial;
    return "";
}

}  // namespace hbafw
