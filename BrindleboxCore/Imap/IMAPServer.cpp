#include "Imap/IMAPServer.h"

namespace bx {

IMAPServer JSONCodec<IMAPServer>::decode(const json& v, const std::string& path) {
    IMAPServer out;
    out.host = requiredKey<std::string>(v, "host", path);
    out.port = requiredKey<std::uint16_t>(v, "port", path);
    out.plaintextLocalDev = requiredKey<bool>(v, "plaintextLocalDev", path);
    return out;
}

json JSONCodec<IMAPServer>::encode(const IMAPServer& server) {
    json j = json::object();
    j["host"] = server.host;
    j["port"] = server.port;
    j["plaintextLocalDev"] = server.plaintextLocalDev;
    return j;
}

void to_json(nlohmann::json& j, const IMAPServer& server) {
    j = JSONCodec<IMAPServer>::encode(server);
}

void from_json(const nlohmann::json& j, IMAPServer& server) {
    server = JSONCodec<IMAPServer>::decode(j, "$");
}

}  // namespace bx

std::size_t std::hash<bx::IMAPServer>::operator()(const bx::IMAPServer& s) const noexcept {
    std::size_t h = std::hash<std::string>()(s.host);
    h ^= std::hash<unsigned>()(s.port) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    h ^= std::hash<bool>()(s.plaintextLocalDev) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
}
