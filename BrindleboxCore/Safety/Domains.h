#pragma once
// Host names and registrable domains, shared by every safety check and by the
// reader's link policy.
#include <optional>
#include <string>
#include <string_view>

namespace bx {

struct Domains {
    // The lower-cased host of a URL, or nullopt when the text is not a URL
    // with a host. Any user information before "@" is not part of the host:
    // "http://bank.example@evil.example/" leads to evil.example.
    static std::optional<std::string> host(std::string_view url);

    // The registrable domain: the last two labels, or the last three under
    // one of the known two-level public suffixes ("co.uk", "com.au" ...).
    // Fewer than three labels come back as given (lower-cased, trimmed), and
    // so does an IP address: its last labels name no one.
    static std::string registrable(std::string_view domain);

    // Whether the host is an IPv4 address in dotted decimal or an IPv6 one.
    static bool isIPAddress(std::string_view host);

    // An address in a page read the way a browser reads it when the page's
    // own address is of another scheme (as the reader's documents are): C0
    // controls and spaces trimmed from both ends, tabs and line breaks
    // dropped, the scheme lower-cased. For web schemes any run of "/" and
    // "\" after the colon is skipped ("https:evil.example",
    // "https:\\evil.example"), "\" counts as "/", the host is lower-cased
    // in its ASCII form, an IPv4 address in any of its spellings becomes
    // dotted decimal and a default port is dropped. Other schemes come back
    // otherwise as written. nullopt for a relative address, or a web address
    // without a usable host.
    static std::optional<std::string> webURL(std::string_view url);

    // The first "."-separated label (empty pieces skipped), or the whole text
    // when it has none.
    static std::string firstLabel(std::string_view domain);

    // The host in its ASCII form (UTS #46, "xn--" labels for international
    // ones), lower-cased: a browser reaches the same site whichever form a
    // link is written in. Text that is no valid host name comes back
    // lower-cased as given.
    static std::string ace(std::string_view host);

    // The host in its Unicode form (UTS #46), lower-cased; text that is no
    // valid host name comes back lower-cased as given.
    static std::string unicode(std::string_view host);

    // Whether the host, in either form, is written in international letters
    // that imitate another name: a label mixing scripts ("pаypal" with a
    // Cyrillic "а"), or a name whose every letter has a plain ASCII
    // look-alike ("аррӏе"). Ordinary international names ("bücher.de") are
    // not look-alikes.
    static bool isLookalike(std::string_view host);

    // Unicode-aware lower case (root locale).
    static std::string lower(std::string_view s);
};

}  // namespace bx
