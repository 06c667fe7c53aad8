#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "Util/Json.h"

namespace bx {

struct MailAddress {
    std::string name;   // display name, possibly empty
    std::string email;  // possibly empty

    // name when non-empty, else email.
    std::string display() const;
    // Text after the last "@" of email, lower-cased ("" for "" or "@@").
    std::string domain() const;
    // "name <email>" when there is a name, else the bare email.
    std::string formatted() const;

    bool operator==(const MailAddress&) const = default;
};

// Serialised as {"name": ..., "email": ...}; both keys are required strings when
// decoding (nlohmann::json::exception otherwise), extra keys are ignored.
void to_json(nlohmann::json& j, const MailAddress& a);
void from_json(const nlohmann::json& j, MailAddress& a);

// Strict decoding for the vault's JSON files (JSONDecodeError naming the path).
template <>
struct JSONCodec<MailAddress> {
    static MailAddress decode(const json& v, const std::string& path);
    static json encode(const MailAddress& a);
};

}  // namespace bx

template <>
struct std::hash<bx::MailAddress> {
    std::size_t operator()(const bx::MailAddress& a) const noexcept {
        std::size_t h = std::hash<std::string>{}(a.name);
        return h ^ (std::hash<std::string>{}(a.email) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};
