#pragma once
// Strict typed decoding for the vault's JSON files. A missing required key, a
// wrong type, a fraction where an integer belongs or a number out of the
// target's range fails with JSONDecodeError naming the path; nothing is
// defaulted silently. Callers that treat a broken state file as empty catch it.
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "Util/Date.h"
#include "Util/UUID.h"

namespace bx {

using json = nlohmann::json;
using ordered_json = nlohmann::ordered_json;

class JSONDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template <class T, class Enable = void>
struct JSONCodec;  // decode(const json&, const std::string& path) -> T ; encode(const T&) -> json

template <class T>
T decodeJSON(const json& v, const std::string& path = "$") {
    return JSONCodec<T>::decode(v, path);
}

template <class T>
json encodeJSON(const T& v) {
    return JSONCodec<T>::encode(v);
}

// obj[key], which must be present and not null.
template <class T>
T requiredKey(const json& obj, const char* key, const std::string& path = "$") {
    if (!obj.is_object()) throw JSONDecodeError(path + ": expected an object");
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) throw JSONDecodeError(path + "." + key + ": missing");
    return JSONCodec<T>::decode(*it, path + "." + key);
}

// obj[key]; missing or null gives nullopt, a present value of the wrong type fails.
template <class T>
std::optional<T> optionalKey(const json& obj, const char* key, const std::string& path = "$") {
    if (!obj.is_object()) throw JSONDecodeError(path + ": expected an object");
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return std::nullopt;
    return JSONCodec<T>::decode(*it, path + "." + key);
}

template <>
struct JSONCodec<bool> {
    static bool decode(const json& v, const std::string& path) {
        if (!v.is_boolean()) throw JSONDecodeError(path + ": expected a boolean");
        return v.get<bool>();
    }
    static json encode(bool v) { return v; }
};

template <>
struct JSONCodec<std::string> {
    static std::string decode(const json& v, const std::string& path) {
        if (!v.is_string()) throw JSONDecodeError(path + ": expected a string");
        return v.get<std::string>();
    }
    static json encode(const std::string& v) { return v; }
};

template <class T>
struct JSONCodec<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static T decode(const json& v, const std::string& path) {
        if (v.is_number_unsigned()) {
            const auto u = v.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
                throw JSONDecodeError(path + ": number out of range");
            return static_cast<T>(u);
        }
        if (v.is_number_integer()) {
            const auto i = v.get<std::int64_t>();
            if constexpr (std::is_unsigned_v<T>) {
                if (i < 0 || static_cast<std::uint64_t>(i) > std::numeric_limits<T>::max())
                    throw JSONDecodeError(path + ": number out of range");
            } else {
                if (i < std::numeric_limits<T>::min() || i > std::numeric_limits<T>::max())
                    throw JSONDecodeError(path + ": number out of range");
            }
            return static_cast<T>(i);
        }
        if (v.is_number_float()) {
            const double d = v.get<double>();
            if (!std::isfinite(d) || std::trunc(d) != d) throw JSONDecodeError(path + ": expected a whole number");
            if (d < static_cast<double>(std::numeric_limits<T>::min()) ||
                d > static_cast<double>(std::numeric_limits<T>::max()))
                throw JSONDecodeError(path + ": number out of range");
            return static_cast<T>(d);
        }
        throw JSONDecodeError(path + ": expected a number");
    }
    static json encode(T v) { return v; }
};

template <>
struct JSONCodec<double> {
    static double decode(const json& v, const std::string& path) {
        if (!v.is_number()) throw JSONDecodeError(path + ": expected a number");
        return v.get<double>();
    }
    static json encode(double v) { return v; }
};

template <>
struct JSONCodec<Date> {
    static Date decode(const json& v, const std::string& path) {
        if (!v.is_string()) throw JSONDecodeError(path + ": expected a date string");
        auto d = parseISO8601(v.get_ref<const std::string&>());
        if (!d) throw JSONDecodeError(path + ": not an ISO-8601 date");
        return *d;
    }
    static json encode(Date v) { return formatISO8601(v); }
};

template <>
struct JSONCodec<UUID> {
    static UUID decode(const json& v, const std::string& path) {
        if (!v.is_string()) throw JSONDecodeError(path + ": expected a UUID string");
        auto u = UUID::parse(v.get_ref<const std::string&>());
        if (!u) throw JSONDecodeError(path + ": not a UUID");
        return *u;
    }
    static json encode(const UUID& v) { return v.string(); }
};

template <class T>
struct JSONCodec<std::vector<T>> {
    static std::vector<T> decode(const json& v, const std::string& path) {
        if (!v.is_array()) throw JSONDecodeError(path + ": expected an array");
        std::vector<T> out;
        out.reserve(v.size());
        for (size_t i = 0; i < v.size(); ++i)
            out.push_back(JSONCodec<T>::decode(v[i], path + "[" + std::to_string(i) + "]"));
        return out;
    }
    static json encode(const std::vector<T>& v) {
        json a = json::array();
        for (const auto& e : v) a.push_back(JSONCodec<T>::encode(e));
        return a;
    }
};

// Objects keyed by text. Keys that stand for numbers (UIDs) are decoded by the
// caller from the string.
template <class T>
struct JSONCodec<std::map<std::string, T>> {
    static std::map<std::string, T> decode(const json& v, const std::string& path) {
        if (!v.is_object()) throw JSONDecodeError(path + ": expected an object");
        std::map<std::string, T> out;
        for (auto it = v.begin(); it != v.end(); ++it)
            out.emplace(it.key(), JSONCodec<T>::decode(it.value(), path + "." + it.key()));
        return out;
    }
    static json encode(const std::map<std::string, T>& v) {
        json o = json::object();
        for (const auto& [k, e] : v) o[k] = JSONCodec<T>::encode(e);
        return o;
    }
};

// Appends `raw` as a JSON string literal, quotes included. Invalid UTF-8 is
// repaired (U+FFFD) so what is written always reads back; control characters
// are escaped, and "/" too when escapeSlash is set.
void appendJSONString(std::string& out, std::string_view raw, bool escapeSlash = false);

// Parses text as JSON; malformed text fails with JSONDecodeError.
json parseJSON(std::string_view text);

}  // namespace bx
