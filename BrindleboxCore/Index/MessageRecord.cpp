#include "Index/MessageRecord.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "Index/JSONWriter.h"
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

size_t hashCombine(size_t h, size_t v) { return h ^ (v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2)); }

}  // namespace

std::string MessageRecord::fromDisplay() const {
    if (!fromName.empty()) return fromName;
    if (!fromEmail.empty()) return fromEmail;
    return "(unknown sender)";
}

bool MessageRecord::isSuspicious() const {
    return trust == SenderTrust::failed || replyToMismatch || linkWarnings > 0 || senderFlag.has_value();
}

Date MessageRecord::dateFromSeconds(double seconds) {
    if (std::isnan(seconds)) return bx::dateFromSeconds(0);
    if (seconds <= static_cast<double>(minSeconds)) return clampedDate(minSeconds);
    if (seconds >= static_cast<double>(maxSeconds)) return clampedDate(maxSeconds);
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

std::string MessageRecord::encodeDate(Date d) { return formatISO8601(d); }

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
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["path"] = path;
    j["account"] = account;
    j["folder"] = folder;
    j["subject"] = subject;
    j["fromName"] = fromName;
    j["fromEmail"] = fromEmail;
    j["to"] = to;
    j["date"] = encodeDate(date);
    j["size"] = size;
    j["snippet"] = snippet;
    j["attachments"] = attachments;
    j["trackers"] = trackers;
    j["remoteImages"] = remoteImages;
    j["trust"] = std::string(trust.rawValue());
    j["replyToMismatch"] = replyToMismatch;
    j["linkWarnings"] = linkWarnings;
    j["mtime"] = mtime;
    if (senderFlag) j["senderFlag"] = *senderFlag;
    return j;
}

MessageRecord MessageRecord::fromJSON(const nlohmann::json& j) {
    if (!j.is_object()) throw JSONDecodeError("record: expected an object");
    MessageRecord r;
    r.id = requiredKey<int64_t>(j, "id");
    r.path = requiredKey<std::string>(j, "path");
    r.account = requiredKey<std::string>(j, "account");
    r.folder = requiredKey<std::string>(j, "folder");
    r.subject = requiredKey<std::string>(j, "subject");
    r.fromName = requiredKey<std::string>(j, "fromName");
    r.fromEmail = requiredKey<std::string>(j, "fromEmail");
    r.to = requiredKey<std::string>(j, "to");
    {
        const std::string d = requiredKey<std::string>(j, "date");
        auto parsed = decodeDate(d);
        if (!parsed) throw JSONDecodeError("$.date: not an ISO-8601 date");
        r.date = *parsed;
    }
    r.size = requiredKey<int64_t>(j, "size");
    r.snippet = requiredKey<std::string>(j, "snippet");
    r.attachments = requiredKey<int64_t>(j, "attachments");
    r.trackers = requiredKey<int64_t>(j, "trackers");
    r.remoteImages = requiredKey<int64_t>(j, "remoteImages");
    {
        auto t = SenderTrust::fromRawValue(requiredKey<std::string>(j, "trust"));
        if (!t) throw JSONDecodeError("$.trust: unknown verdict");
        r.trust = *t;
    }
    r.replyToMismatch = requiredKey<bool>(j, "replyToMismatch");
    r.linkWarnings = requiredKey<int64_t>(j, "linkWarnings");
    r.mtime = requiredKey<double>(j, "mtime");
    r.senderFlag = optionalKey<std::string>(j, "senderFlag");
    return r;
}

void MessageRecord::writeJSON(JSONWriter& w) const {
    w.beginObject();
    w.key("id"); w.integer(id);
    w.key("path"); w.string(path);
    w.key("account"); w.string(account);
    w.key("folder"); w.string(folder);
    w.key("subject"); w.string(subject);
    w.key("fromName"); w.string(fromName);
    w.key("fromEmail"); w.string(fromEmail);
    w.key("to"); w.string(to);
    w.key("date"); w.string(encodeDate(date));
    w.key("size"); w.integer(size);
    w.key("snippet"); w.string(snippet);
    w.key("attachments"); w.integer(attachments);
    w.key("trackers"); w.integer(trackers);
    w.key("remoteImages"); w.integer(remoteImages);
    w.key("trust"); w.string(trust.rawValue());
    w.key("replyToMismatch"); w.boolean(replyToMismatch);
    w.key("linkWarnings"); w.integer(linkWarnings);
    w.key("mtime"); w.number(mtime);
    if (senderFlag) {
        w.key("senderFlag");
        w.string(*senderFlag);
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
    for (int64_t v : {r.attachments, r.trackers, r.remoteImages})
        h = bx::hashCombine(h, std::hash<int64_t>{}(v));
    h = bx::hashCombine(h, std::hash<int>{}(static_cast<int>(r.trust)));
    h = bx::hashCombine(h, std::hash<bool>{}(r.replyToMismatch));
    h = bx::hashCombine(h, std::hash<int64_t>{}(r.linkWarnings));
    h = bx::hashCombine(h, std::hash<double>{}(r.mtime == 0 ? 0.0 : r.mtime));
    h = bx::hashCombine(h, r.senderFlag ? hs(*r.senderFlag) : 0x51ed);
    return h;
}
