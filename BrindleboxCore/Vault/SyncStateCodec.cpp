#include "Vault/SyncStateCodec.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

#include "Util/Json.h"
#include "Util/Unicode.h"
#include "Vault/ArchiveLayout.h"

namespace bx {

namespace {

// The folder record, in the order its keys are written.
enum class Kind { text, uid32, date, paths, sizes };
struct Field {
    std::string_view key;
    Kind kind;
    bool required;
    std::string SyncFolder::*text = nullptr;
    std::uint32_t SyncFolder::*number = nullptr;
};
const Field kFolderFields[] = {
    {"mailbox", Kind::text, true, &SyncFolder::mailbox, nullptr},
    {"directory", Kind::text, true, &SyncFolder::directory, nullptr},
    {"uidValidity", Kind::uid32, true, nullptr, &SyncFolder::uidValidity},
    {"highestUID", Kind::uid32, true, nullptr, &SyncFolder::highestUID},
    {"files", Kind::paths, true},
    {"lastRun", Kind::date, false},
    {"sizes", Kind::sizes, false},
};
constexpr int kFieldCount = static_cast<int>(std::size(kFolderFields));
constexpr unsigned bitOf(int index) {
    return 1u << index;
}

// Text handed to a writer in pieces of about this size.
constexpr std::size_t kPiece = 65536;

unsigned requiredBits() {
    unsigned bits = 0;
    for (int i = 0; i < kFieldCount; ++i)
        if (kFolderFields[i].required) bits |= bitOf(i);
    return bits;
}

int fieldIndex(std::string_view key) {
    for (int i = 0; i < kFieldCount; ++i)
        if (kFolderFields[i].key == key) return i;
    return -1;
}

template <class N>
void appendNumber(std::string& out, N n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

// ------------------------------------------------------------------ reading

// A number as the parser reported it.
struct Number {
    enum class Kind { unsignedInt, signedInt, fraction } kind;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double d = 0;
};

template <class T>
std::optional<T> whole(const Number& n) {
    switch (n.kind) {
        case Number::Kind::unsignedInt:
            if (n.u > static_cast<std::uint64_t>(std::numeric_limits<T>::max())) return std::nullopt;
            return static_cast<T>(n.u);
        case Number::Kind::signedInt:
            if constexpr (std::is_unsigned_v<T>) {
                if (n.i < 0 || static_cast<std::uint64_t>(n.i) > std::numeric_limits<T>::max()) return std::nullopt;
            } else {
                if (n.i < std::numeric_limits<T>::min() || n.i > std::numeric_limits<T>::max()) return std::nullopt;
            }
            return static_cast<T>(n.i);
        case Number::Kind::fraction:
            if (!std::isfinite(n.d) || std::trunc(n.d) != n.d) return std::nullopt;
            if (n.d < static_cast<double>(std::numeric_limits<T>::min()) ||
                n.d > static_cast<double>(std::numeric_limits<T>::max()))
                return std::nullopt;
            return static_cast<T>(n.d);
    }
    return std::nullopt;
}

class Handler : public nlohmann::json_sax<json> {
public:
    // A whole sync file, or one folder state (a journal line).
    explicit Handler(bool wholeFile) : wholeFile_(wholeFile), at_(wholeFile ? At::start : At::folderValue) {
        if (!wholeFile) folderName_ = "$";
    }

    SyncFolders folders;
    SyncFolder single;
    bool sawFolders = false, sawSingle = false;
    std::string error;

    bool null() override { return value(Value::null); }
    bool boolean(bool) override { return value(Value::other); }
    bool number_integer(number_integer_t v) override {
        number_ = {Number::Kind::signedInt, 0, v, 0};
        return value(Value::number);
    }
    bool number_unsigned(number_unsigned_t v) override {
        number_ = {Number::Kind::unsignedInt, v, 0, 0};
        return value(Value::number);
    }
    bool number_float(number_float_t v, const string_t&) override {
        number_ = {Number::Kind::fraction, 0, 0, v};
        return value(Value::number);
    }
    bool string(string_t& v) override {
        string_ = &v;
        return value(Value::string);
    }
    bool binary(binary_t&) override { return value(Value::other); }

    bool start_object(std::size_t) override {
        if (skip_ > 0) return ++skip_, true;
        switch (at_) {
            case At::start: at_ = At::top; return true;
            case At::topValue:
                if (key_ != "folders") return skipValue();
                sawFolders = true;
                folders.clear();
                at_ = At::folders;
                return true;
            case At::folderValue:
                current_ = SyncFolder();
                seen_ = 0;
                at_ = At::folder;
                return true;
            case At::fieldValue: {
                if (field_ < 0) return skipValue();
                const Kind kind = kFolderFields[field_].kind;
                if (kind == Kind::paths) {
                    current_.entries.clearPaths();
                    at_ = At::paths;
                    return true;
                }
                if (kind == Kind::sizes) {
                    current_.entries.clearSizes();
                    current_.hasSizes = true;
                    at_ = At::sizes;
                    return true;
                }
                return fail("expected " + expected());
            }
            default: return fail("unexpected object");
        }
    }
    bool end_object() override {
        if (skip_ > 0) return endSkipped();
        switch (at_) {
            case At::top: at_ = At::done; return true;
            case At::folders: at_ = At::top; return true;
            case At::folder: {
                static const unsigned required = requiredBits();
                if ((seen_ & required) != required) return fail(folderName_ + ": a required key is missing");
                current_.entries.finish();
                if (!wholeFile_) {
                    single = std::move(current_);
                    sawSingle = true;
                    at_ = At::done;
                } else {
                    folders.insert_or_assign(folderName_, std::move(current_));
                    at_ = At::folders;
                }
                return true;
            }
            case At::paths:
            case At::sizes:
                seen_ |= bitOf(field_);
                at_ = At::folder;
                return true;
            default: return fail("unexpected end of object");
        }
    }
    bool start_array(std::size_t) override {
        if (skip_ > 0) return ++skip_, true;
        if (at_ == At::topValue && key_ != "folders") return skipValue();
        if (at_ == At::fieldValue && field_ < 0) return skipValue();
        return fail("unexpected array");
    }
    bool end_array() override {
        if (skip_ > 0) return endSkipped();
        return fail("unexpected end of array");
    }
    bool key(string_t& k) override {
        if (skip_ > 0) return true;
        switch (at_) {
            case At::top:
                key_ = k;
                at_ = At::topValue;
                return true;
            case At::folders:
                folderName_ = k;
                at_ = At::folderValue;
                return true;
            case At::folder:
                key_ = k;
                field_ = fieldIndex(k);
                at_ = At::fieldValue;
                return true;
            case At::paths:
            case At::sizes: entryKey_ = k; return true;
            default: return fail("unexpected key");
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        if (error.empty()) error = std::string("malformed JSON: ") + e.what();
        return false;
    }

private:
    enum class At { start, top, topValue, folders, folderValue, folder, fieldValue, paths, sizes, done };
    enum class Value { null, number, string, other };

    std::string expected() const {
        switch (kFolderFields[field_].kind) {
            case Kind::paths:
            case Kind::sizes: return "an object";
            case Kind::uid32: return "a number";
            case Kind::date: return "a date string";
            case Kind::text: return "a string";
        }
        return "a value";
    }

    bool fail(const std::string& why) {
        if (error.empty()) error = (sawFolders ? "$.folders: " : "") + why;
        return false;
    }
    bool skipValue() {
        skip_ = 1;
        return true;
    }
    bool endSkipped() {
        if (--skip_ == 0) afterValue();
        return true;
    }
    // A whole member value was read (or skipped): back to the enclosing object.
    void afterValue() {
        if (at_ == At::topValue)
            at_ = At::top;
        else if (at_ == At::fieldValue)
            at_ = At::folder;
    }

    bool value(Value kind) {
        if (skip_ > 0) return true;
        switch (at_) {
            case At::start: return fail("expected an object");
            case At::topValue:
                if (key_ == "folders") return fail(kind == Value::null ? "missing" : "expected an object");
                afterValue();
                return true;
            case At::folderValue: return fail(folderName_ + ": expected an object");
            case At::fieldValue: return field(kind);
            case At::paths:
                if (kind != Value::string) return fail(folderName_ + ".files: expected a string");
                current_.entries.appendUnordered(entryKey_, std::string_view(*string_), std::nullopt);
                return true;
            case At::sizes: {
                if (kind != Value::number) return fail(folderName_ + ".sizes: expected a number");
                const auto n = whole<std::int64_t>(number_);
                if (!n) return fail(folderName_ + ".sizes: not a whole number in range");
                current_.entries.appendUnordered(entryKey_, std::nullopt, *n);
                return true;
            }
            default: return fail("unexpected value");
        }
    }

    bool field(Value kind) {
        at_ = At::folder;
        if (field_ < 0) return true;  // unknown: ignored
        const Field& f = kFolderFields[field_];
        if (kind == Value::null) {
            // Null is absence: fine for the optional keys, missing for the others.
            if (f.kind == Kind::date) current_.lastRun.reset();
            if (f.kind == Kind::sizes) {
                current_.entries.clearSizes();
                current_.hasSizes = false;
            }
            seen_ &= ~bitOf(field_);
            return true;
        }
        const std::string where = folderName_ + "." + key_;
        switch (f.kind) {
            case Kind::text:
                if (kind != Value::string) return fail(where + ": expected a string");
                current_.*f.text = std::move(*string_);
                break;
            case Kind::uid32: {
                if (kind != Value::number) return fail(where + ": expected a number");
                const auto n = whole<std::uint32_t>(number_);
                if (!n) return fail(where + ": not a whole number in range");
                current_.*f.number = *n;
                break;
            }
            case Kind::date: {
                if (kind != Value::string) return fail(where + ": expected a date string");
                const auto d = parseISO8601(*string_);
                if (!d) return fail(where + ": not an ISO-8601 date");
                current_.lastRun = d;
                break;
            }
            case Kind::paths:
            case Kind::sizes: return fail(where + ": expected an object");
        }
        seen_ |= bitOf(field_);
        return true;
    }

    bool wholeFile_;
    At at_;
    int skip_ = 0;
    int field_ = -1;
    std::string key_, folderName_, entryKey_;
    SyncFolder current_;
    unsigned seen_ = 0;
    Number number_{Number::Kind::unsignedInt};
    std::string* string_ = nullptr;
};

void dropUnsafe(SyncFolders& folders) {
    for (auto it = folders.begin(); it != folders.end();) {
        if (!ArchiveLayout::isSafeRelativePath(it->second.directory)) {
            it = folders.erase(it);
            continue;
        }
        it->second.entries.dropUnsafePaths();
        ++it;
    }
}

SyncFolders finishFile(Handler& handler, bool ok) {
    if (!ok || !handler.error.empty())
        throw JSONDecodeError(handler.error.empty() ? std::string("malformed JSON") : handler.error);
    if (!handler.sawFolders) throw JSONDecodeError("$.folders: missing");
    dropUnsafe(handler.folders);
    return std::move(handler.folders);
}

}  // namespace

SyncFolders decodeSyncFile(std::string_view text) {
    Handler handler(true);
    const bool ok = json::sax_parse(text.begin(), text.end(), &handler);
    return finishFile(handler, ok);
}

SyncFolders decodeSyncFile(std::istream& in) {
    Handler handler(true);
    bool ok = false;
    try {
        ok = json::sax_parse(in, &handler);
    } catch (const json::exception& e) {
        throw JSONDecodeError(std::string("malformed JSON: ") + e.what());
    }
    return finishFile(handler, ok);
}

bool SyncOwner::matches(const SyncOwner& other) const {
    return port == other.port && username == other.username && asciiLowercased(host) == asciiLowercased(other.host);
}

std::optional<SyncOwner> readSyncOwner(std::istream& in) {
    // The folders may run to megabytes: their values are dropped as they
    // are read rather than built into a tree.
    const json::parser_callback_t keepOwnerOnly = [](int depth, json::parse_event_t event, json& parsed) {
        return !(event == json::parse_event_t::key && depth == 1 && parsed != "account");
    };
    json doc;
    try {
        doc = json::parse(in, keepOwnerOnly);
    } catch (const json::exception&) {
        return std::nullopt;
    }
    if (!doc.is_object() || !doc.contains("account")) return std::nullopt;
    const json& a = doc["account"];
    if (!a.is_object()) return std::nullopt;
    const auto host = a.find("host"), port = a.find("port"), user = a.find("username");
    if (host == a.end() || port == a.end() || user == a.end() || !host->is_string() || !user->is_string() ||
        !port->is_number_unsigned() || port->get<std::uint64_t>() > 65535)
        return std::nullopt;
    return SyncOwner{host->get<std::string>(), static_cast<std::uint16_t>(port->get<std::uint64_t>()),
                     user->get<std::string>()};
}

SyncFolder decodeSyncFolder(std::string_view text) {
    Handler handler(false);
    const bool ok = json::sax_parse(text.begin(), text.end(), &handler);
    if (!ok || !handler.error.empty() || !handler.sawSingle)
        throw JSONDecodeError(handler.error.empty() ? std::string("malformed JSON") : handler.error);
    if (!ArchiveLayout::isSafeRelativePath(handler.single.directory))
        throw JSONDecodeError("$.directory: outside the vault");
    handler.single.entries.dropUnsafePaths();
    return std::move(handler.single);
}

void appendSyncFolder(std::string& out, const SyncFolder& s) {
    appendSyncFolder(out, s, nullptr);
}

void appendSyncFolder(std::string& out, const SyncFolder& s, const std::function<void(std::string&)>* drain) {
    out += '{';
    bool first = true;
    for (const Field& f : kFolderFields) {
        if (f.kind == Kind::date && !s.lastRun) continue;
        if (f.kind == Kind::sizes && !s.hasSizes) continue;
        if (!first) out += ',';
        first = false;
        appendJSONString(out, f.key);
        out += ':';
        switch (f.kind) {
            case Kind::text: appendJSONString(out, s.*f.text); break;
            case Kind::uid32: appendNumber(out, s.*f.number); break;
            case Kind::date:
                out += '"';
                out += formatISO8601(*s.lastRun);
                out += '"';
                break;
            case Kind::paths:
            case Kind::sizes: {
                out += '{';
                bool firstEntry = true;
                auto separate = [&](std::string_view key) {
                    if (drain && out.size() >= kPiece) (*drain)(out);
                    if (!firstEntry) out += ',';
                    firstEntry = false;
                    appendJSONString(out, key);
                    out += ':';
                };
                if (f.kind == Kind::paths)
                    s.entries.forEachPath([&](std::string_view key, std::string_view path) {
                        separate(key);
                        appendJSONString(out, path);
                    });
                else
                    s.entries.forEachSize([&](std::string_view key, std::int64_t size) {
                        separate(key);
                        appendNumber(out, size);
                    });
                out += '}';
                break;
            }
        }
    }
    out += '}';
}

void writeSyncFile(const SyncFolders& folders, const std::function<void(std::string_view)>& write,
                   const SyncOwner* owner) {
    std::string out;
    out.reserve(kPiece + 4096);
    const std::function<void(std::string&)> drain = [&](std::string& text) {
        write(text);
        text.clear();
    };
    out += '{';
    if (owner) {
        out += "\"account\":{\"host\":";
        appendJSONString(out, owner->host);
        out += ",\"port\":";
        appendNumber(out, owner->port);
        out += ",\"username\":";
        appendJSONString(out, owner->username);
        out += "},";
    }
    out += "\"folders\":{";
    bool first = true;
    for (const auto& [name, folder] : folders) {
        if (!first) out += ',';
        first = false;
        appendJSONString(out, name);
        out += ':';
        appendSyncFolder(out, folder, &drain);
    }
    out += "}}";
    write(out);
}

void applySyncJournal(SyncFolders& folders, std::string_view lines) {
    std::size_t start = 0;
    while (start < lines.size()) {
        const std::size_t end = lines.find('\n', start);
        if (end == std::string_view::npos) break;  // cut short by a kill
        const std::string_view line = lines.substr(start, end - start);
        start = end + 1;
        SyncFolder entry;
        try {
            entry = decodeSyncFolder(line);
        } catch (const std::exception&) {
            continue;
        }
        auto [slot, isNew] = folders.try_emplace(entry.mailbox, entry.mailbox, entry.directory, entry.uidValidity);
        SyncFolder& folder = slot->second;
        if (!isNew && folder.uidValidity != entry.uidValidity) {
            folder = SyncFolder(entry.mailbox, entry.directory, entry.uidValidity);
            folder.hasSizes = true;
        }
        folder.directory = entry.directory;
        folder.highestUID = std::max(folder.highestUID, entry.highestUID);
        if (entry.lastRun && (!folder.lastRun || *folder.lastRun < *entry.lastRun)) folder.lastRun = entry.lastRun;
        entry.entries.forEachPath(
            [&](std::string_view key, std::string_view path) { folder.entries.setPath(key, path); });
        if (entry.hasSizes) {
            folder.hasSizes = true;
            entry.entries.forEachSize(
                [&](std::string_view key, std::int64_t size) { folder.entries.setSize(key, size); });
        }
    }
}

}  // namespace bx
