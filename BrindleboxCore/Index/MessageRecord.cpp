#include "Index/MessageRecord.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "Index/JSONWriter.h"
#include "Index/RecordFields.h"
#include "Util/Json.h"

namespace bx {

namespace {

// Date holds nanoseconds in 64 bits: about 1677-09-21 to 2262-04-11.
constexpr long long minSeconds = -9223372036LL;
constexpr long long maxSeconds = 9223372035LL;

Date clampedDate(long long seconds) {
    if (seconds < minSeconds) seconds = minSeconds;
    if (seconds > maxSeconds) seconds = maxSeconds;
    return bx::dateFromSeconds(seconds);
}

size_t hashCombine(size_t h, size_t v) {
    return h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

}  // namespace

std::string MessageRecord::fromDisplay() const {
    if (!fromName.empty()) return fromName;
    if (!fromEmail.empty()) return fromEmail;
    return "(unknown sender)";
}

bool MessageRecord::isSuspicious() const {
    return trust == SenderTrust::failed || replyToMismatch || linkWarnings > 0 || senderFlag.has_value();
}

bool MessageRecord::isAtVaultRoot() const { return path.find('/') == std::string::npos; }

Date MessageRecord::dateFromSeconds(double seconds) {
    if (std::isnan(seconds)) return bx::dateFromSeconds(0);
    if (seconds <= static_cast<double>(minSeconds)) return clampedDate(minSeconds);
    if (seconds >= static_cast<double>(maxSeconds)) return clampedDate(maxSeconds);
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

std::string MessageRecord::encodeDate(Date d) {
    return formatISO8601(d);
}

std::optional<Date> MessageRecord::decodeDate(std::string_view s) {
    if (s.size() < 20 || s.size() > 25) return std::nullopt;
    if (s[19] == '.') return std::nullopt;
    int year = 0;
    for (int i = 0; i < 4; ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        year = year * 10 + (s[i] - '0');
    }
    if (year >= 1678 && year <= 2261) return parseISO8601(s);
    // Outside what Date can hold: check the form with a year it can, then
    // clamp (2000 is a leap year, so 29 February passes as it would).
    std::string probe(s);
    probe.replace(0, 4, "2000");
    if (!parseISO8601(probe)) return std::nullopt;
    return clampedDate(year < 1678 ? minSeconds : maxSeconds);
}

nlohmann::json MessageRecord::toJSON() const {
    using namespace recordfields;
    nlohmann::json j = nlohmann::json::object();
    for (const Field& f : fields) {
        const std::string key(f.name);
        std::visit(Overloaded{
                       [&](Date MessageRecord::*m) { j[key] = encodeDate(this->*m); },
                       [&](SenderTrust MessageRecord::*m) { j[key] = std::string((this->*m).rawValue()); },
                       [&](std::optional<std::string> MessageRecord::*m) {
                           if (this->*m) j[key] = *(this->*m);
                       },
                       [&](auto m) { j[key] = this->*m; },
                   },
                   f.member);
    }
    return j;
}

MessageRecord MessageRecord::fromJSON(const nlohmann::json& j) {
    using namespace recordfields;
    if (!j.is_object()) throw JSONDecodeError("record: expected an object");
    MessageRecord r;
    for (const Field& f : fields) {
        const char* key = f.name.data();  // the table's names are literals
        std::visit(Overloaded{
                       [&](int64_t MessageRecord::*m) { r.*m = requiredKey<int64_t>(j, key); },
                       [&](std::string MessageRecord::*m) { r.*m = requiredKey<std::string>(j, key); },
                       [&](bool MessageRecord::*m) { r.*m = requiredKey<bool>(j, key); },
                       [&](double MessageRecord::*m) { r.*m = requiredKey<double>(j, key); },
                       [&](Date MessageRecord::*m) {
                           auto parsed = decodeDate(requiredKey<std::string>(j, key));
                           if (!parsed) throw JSONDecodeError("$." + std::string(f.name) + ": not an ISO-8601 date");
                           r.*m = *parsed;
                       },
                       [&](SenderTrust MessageRecord::*m) {
                           auto t = SenderTrust::fromRawValue(requiredKey<std::string>(j, key));
                           if (!t) throw JSONDecodeError("$." + std::string(f.name) + ": unknown verdict");
                           r.*m = *t;
                       },
                       [&](std::optional<std::string> MessageRecord::*m) { r.*m = optionalKey<std::string>(j, key); },
                   },
                   f.member);
    }
    return r;
}

void MessageRecord::writeJSON(JSONWriter& w) const {
    using namespace recordfields;
    w.beginObject();
    for (const Field& f : fields) {
        // The optional field is left out when there is none.
        if (auto m = std::get_if<std::optional<std::string> MessageRecord::*>(&f.member); m && !(this->**m)) continue;
        w.key(f.name);
        std::visit(Overloaded{
                       [&](int64_t MessageRecord::*m) { w.integer(this->*m); },
                       [&](std::string MessageRecord::*m) { w.string(this->*m); },
                       [&](bool MessageRecord::*m) { w.boolean(this->*m); },
                       [&](double MessageRecord::*m) { w.number(this->*m); },
                       [&](Date MessageRecord::*m) { w.string(encodeDate(this->*m)); },
                       [&](SenderTrust MessageRecord::*m) { w.string((this->*m).rawValue()); },
                       [&](std::optional<std::string> MessageRecord::*m) { w.string(*(this->*m)); },
                   },
                   f.member);
    }
    w.endObject();
}

}  // namespace bx

size_t std::hash<bx::MessageRecord>::operator()(const bx::MessageRecord& r) const noexcept {
    using bx::hashCombine;
    std::hash<std::string> hs;
    size_t h = std::hash<int64_t>{}(r.id);
    for (const auto* s : {&r.path, &r.account, &r.folder, &r.subject, &r.fromName, &r.fromEmail, &r.to})
        h = bx::hashCombine(h, hs(*s));
    h = bx::hashCombine(h, std::hash<int64_t>{}(r.date.time_since_epoch().count()));
    h = bx::hashCombine(h, std::hash<int64_t>{}(r.size));
    h = bx::hashCombine(h, hs(r.snippet));
    for (int64_t v : {r.attachments, r.trackers, r.remoteImages}) h = bx::hashCombine(h, std::hash<int64_t>{}(v));
    h = bx::hashCombine(h, std::hash<int>{}(static_cast<int>(r.trust)));
    h = bx::hashCombine(h, std::hash<bool>{}(r.replyToMismatch));
    h = bx::hashCombine(h, std::hash<int64_t>{}(r.linkWarnings));
    h = bx::hashCombine(h, std::hash<double>{}(r.mtime == 0 ? 0.0 : r.mtime));
    h = bx::hashCombine(h, r.senderFlag ? hs(*r.senderFlag) : 0x51ed);
    return h;
}
