#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Util/Json.h"

namespace bx {

// Where a mail server is. With plaintextLocalDev the connection is plain TCP,
// which the connection allows only for the exact host text "127.0.0.1".
struct IMAPServer {
    std::string host;
    std::uint16_t port = 0;
    bool plaintextLocalDev = false;

    IMAPServer() = default;
    IMAPServer(std::string host, std::uint16_t port, bool plaintextLocalDev)
        : host(std::move(host)), port(port), plaintextLocalDev(plaintextLocalDev) {}

    friend bool operator==(const IMAPServer&, const IMAPServer&) = default;
};

// JSON: {"host": string, "port": number, "plaintextLocalDev": bool}; every key
// is required. A missing key, a wrong type or a port outside 0...65535 throws
// JSONDecodeError. Use decodeJSON<IMAPServer> / encodeJSON, or the
// nlohmann to_json/from_json pair, which do the same.
template <>
struct JSONCodec<IMAPServer> {
    static IMAPServer decode(const json& v, const std::string& path);
    static json encode(const IMAPServer& server);
};
void to_json(nlohmann::json& j, const IMAPServer& server);
void from_json(const nlohmann::json& j, IMAPServer& server);

}  // namespace bx

template <>
struct std::hash<bx::IMAPServer> {
    std::size_t operator()(const bx::IMAPServer& s) const noexcept;
};
