#include "Imap/IMAPMailbox.h"

#include "Imap/ModifiedUTF7.h"
#include "Util/Unicode.h"

namespace bx {

std::optional<IMAPMailbox> IMAPMailbox::fromListResponse(const std::vector<IMAPValue>& values) {
    if (values.size() < 4) return std::nullopt;
    const std::optional<std::string> word = values[0].text();
    if (!word || asciiUppercased(*word) != "LIST") return std::nullopt;
    IMAPMailbox m;
    for (const IMAPValue& a : values[1].items())
        if (auto t = a.text()) m.attributes.push_back(std::move(*t));
    m.delimiter = values[2].text();
    std::optional<std::string> name = values[3].text();
    if (!name) return std::nullopt;
    m.name = std::move(*name);
    m.displayName = ModifiedUTF7::decode(m.name);
    return m;
}

bool IMAPMailbox::isSelectable() const {
    for (const std::string& a : attributes) {
        const std::string l = asciiLowercased(a);
        if (l == "\\noselect" || l == "\\nonexistent") return false;
    }
    return true;
}

std::optional<std::string> IMAPMailbox::role() const {
    static const char* const table[] = {"\\sent", "\\drafts", "\\trash", "\\junk", "\\archive", "\\all", "\\flagged"};
    std::vector<std::string> lower;
    lower.reserve(attributes.size());
    for (const std::string& a : attributes) lower.push_back(asciiLowercased(a));
    for (const char* entry : table) {
        for (const std::string& l : lower)
            if (l == entry) return std::string(entry + 1);
    }
    if (asciiUppercased(name) == "INBOX") return std::string("inbox");
    return std::nullopt;
}

IMAPMailbox JSONCodec<IMAPMailbox>::decode(const json& v, const std::string& path) {
    IMAPMailbox out;
    out.name = requiredKey<std::string>(v, "name", path);
    out.displayName = requiredKey<std::string>(v, "displayName", path);
    out.delimiter = optionalKey<std::string>(v, "delimiter", path);
    out.attributes = requiredKey<std::vector<std::string>>(v, "attributes", path);
    return out;
}

json JSONCodec<IMAPMailbox>::encode(const IMAPMailbox& mailbox) {
    json j = json::object();
    j["name"] = mailbox.name;
    j["displayName"] = mailbox.displayName;
    if (mailbox.delimiter) j["delimiter"] = *mailbox.delimiter;
    j["attributes"] = mailbox.attributes;
    return j;
}

void to_json(nlohmann::json& j, const IMAPMailbox& mailbox) {
    j = JSONCodec<IMAPMailbox>::encode(mailbox);
}

void from_json(const nlohmann::json& j, IMAPMailbox& mailbox) {
    mailbox = JSONCodec<IMAPMailbox>::decode(j, "$");
}

}  // namespace bx

std::size_t std::hash<bx::IMAPMailbox>::operator()(const bx::IMAPMailbox& m) const noexcept {
    auto mix = [](std::size_t h, std::size_t v) { return h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2)); };
    std::size_t h = std::hash<std::string>()(m.name);
    h = mix(h, std::hash<std::string>()(m.displayName));
    h = mix(h, m.delimiter ? std::hash<std::string>()(*m.delimiter) : 0x51ed27);
    for (const std::string& a : m.attributes) h = mix(h, std::hash<std::string>()(a));
    return mix(h, m.attributes.size());
}
