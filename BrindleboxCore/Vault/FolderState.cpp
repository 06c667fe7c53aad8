#include "Vault/FolderState.h"

#include <charconv>

#include "Util/Unicode.h"

namespace bx {

namespace {

void appendEscaped(std::string& out, std::string_view raw) {
    bool ascii = true;
    for (unsigned char c : raw) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    std::string repaired;
    if (!ascii && !isValidUTF8(raw)) {
        repaired = lossyUTF8(raw);
        raw = repaired;
    }
    static const char hex[] = "0123456789abcdef";
    out += '"';
    size_t run = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(raw, run, i - run);
        run = i + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 15];
        }
    }
    out.append(raw, run, std::string_view::npos);
    out += '"';
}

template <class N>
void appendNumber(std::string& out, N n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

}  // namespace

void appendJSONString(std::string& out, std::string_view raw) { appendEscaped(out, raw); }

void appendFileEntries(std::string& out, const FolderState& s) {
    bool first = true;
    for (const auto& [uid, path] : s.files) {
        if (!first) out += ',';
        first = false;
        appendEscaped(out, uid);
        out += ':';
        appendEscaped(out, path);
    }
}

void appendSizeEntries(std::string& out, const FolderState& s) {
    if (!s.sizes) return;
    bool first = true;
    for (const auto& [uid, size] : *s.sizes) {
        if (!first) out += ',';
        first = false;
        appendEscaped(out, uid);
        out += ':';
        appendNumber(out, size);
    }
}

void appendJSON(std::string& out, const FolderState& s, const std::string* fileEntries,
                const std::string* sizeEntries) {
    out += "{\"mailbox\":";
    appendEscaped(out, s.mailbox);
    out += ",\"directory\":";
    appendEscaped(out, s.directory);
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
