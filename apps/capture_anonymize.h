// A capture's identities (WWNs and serial numbers) replaced throughout, and
// the check that none is left. It works on raw values, before the capture's
// files encode them; it reads and writes no file.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "inventory/adapter_enumeration.h"

namespace hbafw {

// The identities a capture must not hold: each WWN as 16 upper-case hex
// digits, each serial number as the library or a tool gave it.
struct Identities {
    std::vector<std::string> wwns;
    std::vector<std::string> serials;
};

// The adapters' WWNs and serial numbers, with the serials a tool printed on
// its "Serial" lines and every separated WWN in texts.
Identities IdentitiesOf(const std::vector<EnumeratedAdapter>& adapters, const std::vector<std::string>& texts);

// Every identity in text replaced whole-token, longest first: a WWN in any of
// its forms (bytes joined by ':' or '-', or none, with or without "0x", either
// case) by the same replacement in the same form, keeping its first two bytes
// so node and port WWNs stay told apart; a serial by SERIALn. Text that only
// holds a serial inside a longer word is left.
class Anonymizer {
public:
    explicit Anonymizer(const Identities& identities);
    std::string Apply(const std::string& text) const;
    // The adapter's texts the capture writes, replaced in place.
    void Apply(EnumeratedAdapter& adapter) const;

private:
    std::vector<std::pair<std::string, std::string>> wwns_;     // 16 hex digits
    std::vector<std::pair<std::string, std::string>> serials_;  // longest first
};

// The first identity text still holds in any form (a serial also %20-encoded),
// or empty.
std::string LeftIdentity(const std::string& text, const Identities& identities);

}  // namespace hbafw
