#pragma once
// Tests on the sender's own address for the usual phishing tricks: a domain
// in international characters, a display name that names another domain, a
// brand or a person the vault knows, and a domain that imitates a brand's or
// a known sender's.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Mime/MailAddress.h"
#include "Safety/SenderFlag.h"

namespace bx {

struct SenderCheck {
    struct Brand {
        std::string_view key;                   // lower-case brand name, one word
        std::vector<std::string_view> domains;  // registrable domains, primary first
    };

    // Widely imitated companies and services with their own domains, in the
    // order the tests try them.
    static const std::vector<Brand>& brands();
    // Brand keys that are ordinary words or abbreviations too: believed in a
    // display name only beside generic words.
    static const std::set<std::string_view>& shortBrands();
    // Words that say nothing about who is writing ("support", "team" ...).
    static const std::set<std::string_view>& genericWords();

    // Lower-cased, with look-alike letter groups folded ("rn" to "m", "0" to
    // "o" ...) and hyphens and underscores dropped.
    static std::string skeleton(std::string_view s);
    // Levenshtein distance counted in user-perceived characters.
    static int distance(std::string_view a, std::string_view b);

    // Flags in the order punycode, displayName, lookalike; at most one of
    // each. knownDomains are sender domains already in the vault; knownNames
    // maps a lower-cased, trimmed display name to the domain it usually
    // writes from.
    static std::vector<SenderFlag> check(const std::optional<MailAddress>& from,
                                         const std::set<std::string>& knownDomains,
                                         const std::map<std::string, std::string>& knownNames);
};

}  // namespace bx
