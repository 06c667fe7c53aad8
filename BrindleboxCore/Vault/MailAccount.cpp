#include "Vault/MailAccount.h"

#include <nlohmann/json.hpp>

#include "Vault/FileNames.h"

namespace bx {

namespace {

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

template <class T>
T decodeWithAdl(const json& obj, const char* key, const std::string& path) {
    if (!obj.is_object()) throw JSONDecodeError(path + ": expected an object");
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) throw JSONDecodeError(path + "." + key + ": missing");
    try {
        return it->template get<T>();
    } catch (const json::exception& e) {
        throw JSONDecodeError(path + "." + key + ": " + e.what());
    }
}

}  // namespace

std::string MailAccount::directoryName() const {
    std::string name = FileNames::sanitize(label, 60, 150);
    if (name.empty()) return "Account";
    // "Imported" holds what the importer files; an account of that name gets
    // a folder of its own beside it.
    if (equalsIgnoringASCIICase(name, "Imported")) return name + " (account)";
    return name;
}

MailAccount JSONCodec<MailAccount>::decode(const json& v, const std::string& path) {
    MailAccount a;
    a.id = requiredKey<UUID>(v, "id", path);
    a.label = requiredKey<std::string>(v, "label", path);
    a.username = requiredKey<std::string>(v, "username", path);
    a.server = decodeWithAdl<IMAPServer>(v, "server", path);
    a.provider = requiredKey<std::string>(v, "provider", path);
    a.folders = requiredKey<std::vector<std::string>>(v, "folders", path);
    a.knownFolders = decodeWithAdl<std::vector<IMAPMailbox>>(v, "knownFolders", path);
    a.lastBackup = optionalKey<Date>(v, "lastBackup", path);
    return a;
}

json JSONCodec<MailAccount>::encode(const MailAccount& a) {
    json o = json::object();
    o["id"] = a.id.string();
    o["label"] = a.label;
    o["username"] = a.username;
    o["server"] = a.server;
    o["provider"] = a.provider;
    o["folders"] = a.folders;
    o["knownFolders"] = a.knownFolders;
    if (a.lastBackup) o["lastBackup"] = formatISO8601(*a.lastBackup);
    return o;
}

}  // namespace bx

std::size_t std::hash<bx::MailAccount>::operator()(const bx::MailAccount& a) const noexcept {
    std::size_t h = 1469598103934665603ull;
    auto mix = [&h](std::size_t v) { h = (h ^ v) * 1099511628211ull + 0x9e3779b97f4a7c15ull; };
    mix(std::hash<bx::UUID>{}(a.id));
    mix(std::hash<std::string>{}(a.label));
    mix(std::hash<std::string>{}(a.username));
    mix(std::hash<bx::IMAPServer>{}(a.server));
    mix(std::hash<std::string>{}(a.provider));
    mix(a.folders.size());
    for (const auto& f : a.folders) mix(std::hash<std::string>{}(f));
    mix(a.knownFolders.size());
    for (const auto& m : a.knownFolders) mix(std::hash<bx::IMAPMailbox>{}(m));
    if (a.lastBackup) {
        mix(1);
        mix(static_cast<std::size_t>(a.lastBackup->time_since_epoch().count()));
    } else {
        mix(0);
    }
    return h;
}
