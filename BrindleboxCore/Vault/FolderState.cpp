#include "Vault/FolderState.h"

#include <charconv>

#include "Util/Unicode.h"

namespace bx {

namespace {

template <class N>
void appendNumber(std::string& out, N n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

}  // namespace

void appendFileEntries(std::string& out, const FolderState& s) {
    bool first = true;
    for (const auto& [uid, path] : s.files) {
        if (!first) out += ',';
        first = false;
        appendJSONString(out, uid);
        out += ':';
        appendJSONString(out, path);
    }
}

void appendSizeEntries(std::string& out, const FolderState& s) {
    if (!s.sizes) return;
    bool first = true;
    for (const auto& [uid, size] : *s.sizes) {
        if (!first) out += ',';
        first = false;
        appendJSONString(out, uid);
        out += ':';
        appendNumber(out, size);
    }
}

void appendJSON(std::string& out, const FolderState& s, const std::string* fileEntries,
                const std::string* sizeEntries) {
    out += "{\"mailbox\":";
    appendJSONString(out, s.mailbox);
    out += ",\"directory\":";
    appendJSONString(out, s.directory);
    out += ",\"uidValidity\":";
    appendNumber(out, s.uidValidity);
    out += ",\"highestUID\":";
    appendNumber(out, s.highestUID);
    out += ",\"files\":{";
    if (fileEntries)
        out += *fileEntries;
    else
        appendFileEntries(out, s);
    out += '}';
    if (s.lastRun) {
        out += ",\"lastRun\":\"";
        out += formatISO8601(*s.lastRun);
        out += '"';
    }
    if (s.sizes) {
        out += ",\"sizes\":{";
        if (sizeEntries)
            out += *sizeEntries;
        else
            appendSizeEntries(out, s);
        out += '}';
    }
    out += '}';
}

void appendJSON(std::string& out, const FolderState& s) { appendJSON(out, s, nullptr, nullptr); }

void appendJSONNumber(std::string& out, std::int64_t n) { appendNumber(out, n); }

FolderState JSONCodec<FolderState>::decode(const json& v, const std::string& path) {
    FolderState s;
    s.mailbox = requiredKey<std::string>(v, "mailbox", path);
    s.directory = requiredKey<std::string>(v, "directory", path);
    s.uidValidity = requiredKey<std::uint32_t>(v, "uidValidity", path);
    s.highestUID = requiredKey<std::uint32_t>(v, "highestUID", path);
    s.files = requiredKey<std::map<std::string, std::string>>(v, "files", path);
    s.lastRun = optionalKey<Date>(v, "lastRun", path);
    s.sizes = optionalKey<std::map<std::string, std::int64_t>>(v, "sizes", path);
    return s;
}

json JSONCodec<FolderState>::encode(const FolderState& s) {
    std::string text;
    appendJSON(text, s);
    return parseJSON(text);
}

}  // namespace bx
