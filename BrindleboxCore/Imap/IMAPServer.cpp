#include "Imap/IMAPServer.h"

#include <nlohmann/json.hpp>

namespace bx {

void to_json(nlohmann::json& j, const IMAPServer& server) {
    j = nlohmann::json{{"host", server.host}, {"port", server.port}, {"plaintextLocalDev", server.plaintextLocalDev}};
}

void from_json(const nlohmann::json& j, IMAPServer& server) {
    if (!j.is_object())
        throw nlohmann::json::type_error::create(302, std::string("type must be object, but is ") + j.type_name(), &j);
    IMAPServer out;
    out.host = j.at("host").get<std::string>();
    const nlohmann::json& port = j.at("port");
    // Strict: no booleans, fractions or strings where the port belongs.
    if (!port.is_number_integer())
        throw nlohmann::json::type_error::create(302, std::string("port must be an integer, but is ") + port.type_name(), &port);
    if (port.is_number_unsigned()) {
        const auto v = port.get<std::uint64_t>();
        if (v > 65535) throw nlohmann::json::out_of_range::create(406, "port " + std::to_string(v) + " is out of range", &port);
        out.port = std::uint16_t(v);
    } else {
        const auto v = port.get<std::int64_t>();
        if (v < 0 || v > 65535)
            throw nlohmann::json::out_of_range::create(406, "port " + std::to_string(v) + " is out of range", &port);
        out.port = std::uint16_t(v);
    }
    out.plaintextLocalDev = j.at("plaintextLocalDev").get<bool>();
    server = std::move(out);
}

}  // namespace bx

std::size_t std::hash<bx::IMAPServer>::operator()(const bx::IMAPServer& s) const noexcept {
    std::size_t h = std::hash<std::string>()(s.host);
    h ^= std::hash<unsigned>()(s.port) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= std::hash<bool>()(s.plaintextLocalDev) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}
