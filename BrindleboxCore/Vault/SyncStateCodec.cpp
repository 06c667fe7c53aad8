#include "Vault/SyncStateCodec.h"

#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <type_traits>

#include "Util/AtomicFile.h"
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

// ------------------------------------------------------------ the written form

// The text is not in the written form: the general reader reads it instead.
struct NotWritten {};

// Bytes that end a plain run of string text: the quote, the backslash,
// control characters, and the start of anything beyond ASCII.
struct StringStops {
    bool stop[256] = {};
    constexpr StringStops() {
        for (int c = 0; c < 256; ++c) stop[c] = c < 0x20 || c >= 0x80 || c == '"' || c == '\\';
    }
};
constexpr StringStops kStops;

// The UID a key stands for, when the key is exactly its decimal text.
std::optional<std::uint32_t> canonicalUID(std::string_view key) {
    if (key.empty() || key.size() > 10 || (key[0] == '0' && key.size() > 1)) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

class WrittenReader {
public:
    using Read = std::function<std::size_t(char*, std::size_t)>;

    explicit WrittenReader(std::string_view whole) : p_(whole.data()), end_(whole.data() + whole.size()) {}
    explicit WrittenReader(const Read& read) : read_(&read), buffer_(new char[kPiece]) {}

    SyncFolders file() {
        expect('{');
        expect('"');
        if (accept('a')) {
            // Whose file it is; the folders' readers pass over it.
            expect(R"(ccount":{"host":)");
            string(scratch_);
            expect(R"(,"port":)");
            digits(std::numeric_limits<std::uint64_t>::max());
            expect(R"(,"username":)");
            string(scratch_);
            expect(R"(},")");
        }
        expect(R"(folders":{)");
        SyncFolders folders;
        if (!accept('}')) {
            do {
                std::string name(string(scratch_));
                expect(':');
                folders.insert_or_assign(std::move(name), folder());
            } while (accept(','));
            expect('}');
        }
        expect('}');
        if (more()) throw NotWritten();
        return folders;
    }

private:
    // At least one byte to read; false at the end of the text.
    bool more() {
        if (p_ < end_) return true;
        if (!read_ || ended_) return false;
        const std::size_t n = (*read_)(buffer_.get(), kPiece);
        if (n == 0) {
            ended_ = true;
            return false;
        }
        p_ = buffer_.get();
        end_ = p_ + std::min(n, kPiece);
        return true;
    }
    char next() {
        if (!more()) throw NotWritten();
        return *p_++;
    }
    void expect(char c) {
        if (next() != c) throw NotWritten();
    }
    void expect(std::string_view text) {
        if (static_cast<std::size_t>(end_ - p_) >= text.size()) {
            if (std::memcmp(p_, text.data(), text.size()) != 0) throw NotWritten();
            p_ += text.size();
            return;
        }
        for (char c : text) expect(c);
    }
    bool accept(char c) {
        if (!more() || *p_ != c) return false;
        ++p_;
        return true;
    }

    // The first stop (kStops) at or after `from`, else the end of the text
    // at hand. Paths are most of the file, so sixteen bytes are looked at a
    // time where the processor allows.
    const char* plainRun(const char* from) const {
#ifdef __SSE2__
        const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\'), space = _mm_set1_epi8(0x20);
        while (end_ - from >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
            // Signed: bytes from 0x80 on count as below 0x20.
            const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                                               _mm_cmplt_epi8(v, space));
            if (const int mask = _mm_movemask_epi8(stops)) return from + __builtin_ctz(static_cast<unsigned>(mask));
            from += 16;
        }
#endif
        while (from < end_ && !kStops.stop[static_cast<unsigned char>(*from)]) ++from;
        return from;
    }

    // A string, quotes and all. Points into the text when it lies there whole
    // and plain; else into `scratch`. Valid until the next read.
    std::string_view string(std::string& scratch) {
        expect('"');
        const char* start = p_;
        const char* stop = plainRun(p_);
        if (stop < end_ && *stop == '"') {
            p_ = stop + 1;
            return std::string_view(start, static_cast<std::size_t>(stop - start));
        }
        scratch.assign(start, stop);
        p_ = stop;
        bool beyondASCII = false;
        for (;;) {
            if (!more()) throw NotWritten();
            stop = plainRun(p_);
            scratch.append(p_, stop);
            p_ = stop;
            if (p_ == end_) continue;
            const auto c = static_cast<unsigned char>(*p_++);
            if (c == '"') break;
            if (c == '\\') {
                escape(scratch);
            } else if (c < 0x20) {
                throw NotWritten();
            } else {
                scratch += static_cast<char>(c);
                beyondASCII = true;
            }
        }
        // What an escape adds is whole characters, so the raw bytes are
        // well-formed exactly when the result is.
        if (beyondASCII && !isValidUTF8(scratch)) throw NotWritten();
        return scratch;
    }

    void escape(std::string& out) {
        const char c = next();
        switch (c) {
            case '"':
            case '\\':
            case '/': out += c; return;
            case 'b': out += '\b'; return;
            case 'f': out += '\f'; return;
            case 'n': out += '\n'; return;
            case 'r': out += '\r'; return;
            case 't': out += '\t'; return;
            case 'u': {
                char32_t v = 0;
                for (int i = 0; i < 4; ++i) {
                    const char h = next();
                    const int d = h >= '0' && h <= '9'   ? h - '0'
                                  : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                  : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                         : -1;
                    if (d < 0) throw NotWritten();
                    v = v * 16 + static_cast<char32_t>(d);
                }
                // The writer escapes control characters only; surrogate
                // pairs are left to the general reader.
                if (v >= 0xD800 && v <= 0xDFFF) throw NotWritten();
                appendUTF8(out, v);
                return;
            }
            default: throw NotWritten();
        }
    }

    // A whole number as the writer writes it: digits, no leading zero.
    std::uint64_t digits(std::uint64_t limit) {
        const char first = next();
        if (first < '0' || first > '9') throw NotWritten();
        std::uint64_t v = static_cast<unsigned>(first - '0');
        while (more() && *p_ >= '0' && *p_ <= '9') {
            const auto d = static_cast<unsigned>(*p_ - '0');
            if (v == 0 || v > (limit - d) / 10) throw NotWritten();
            v = v * 10 + d;
            ++p_;
        }
        return v;
    }
    std::uint32_t uid32() { return static_cast<std::uint32_t>(digits(std::numeric_limits<std::uint32_t>::max())); }
    std::int64_t size() {
        constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (accept('-')) {
            const std::uint64_t m = digits(most + 1);
            return m == most + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(m);
        }
        return static_cast<std::int64_t>(digits(most));
    }

    // An entry's key: its UID, or the key itself when it is no UID's text.
    // Taken at once, since reading the value may reuse the text it lies in.
    struct Key {
        std::optional<std::uint32_t> uid;
        std::string other;
    };
    void key(Key& k) {
        const std::string_view text = string(scratch_);
        k.uid = canonicalUID(text);
        if (!k.uid) k.other.assign(text);
        expect(':');
    }

    SyncFolder folder() {
        SyncFolder f;
        expect(R"({"mailbox":)");
        f.mailbox = string(scratch_);
        expect(R"(,"directory":)");
        f.directory = string(scratch_);
        expect(R"(,"uidValidity":)");
        f.uidValidity = uid32();
        expect(R"(,"highestUID":)");
        f.highestUID = uid32();
        expect(R"(,"files":{)");
        Key k;
        if (!accept('}')) {
            do {
                key(k);
                const std::string_view path = string(scratch_);
                if (k.uid)
                    f.entries.setPath(*k.uid, path);
                else
                    f.entries.setPath(k.other, path);
            } while (accept(','));
            expect('}');
        }
        if (accept(',')) {
            expect('"');
            bool sizes = true;
            if (accept('l')) {
                expect(R"(astRun":)");
                f.lastRun = parseISO8601(string(scratch_));
                if (!f.lastRun) throw NotWritten();
                sizes = accept(',');
                if (sizes) expect('"');
            }
            if (sizes) {
                expect(R"(sizes":{)");
                f.hasSizes = true;
                if (!accept('}')) {
                    do {
                        key(k);
                        if (k.uid)
                            f.entries.setSize(*k.uid, size());
                        else
                            f.entries.setSize(k.other, size());
                    } while (accept(','));
                    expect('}');
                }
            }
        }
        expect('}');
        return f;
    }

    const Read* read_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    bool ended_ = false;
    std::string scratch_;
};

template <class Source>
std::optional<SyncFolders> readWritten(Source&& source) {
    try {
        WrittenReader reader(source);
        SyncFolders folders = reader.file();
        dropUnsafe(folders);
        return folders;
    } catch (const NotWritten&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<SyncFolders> decodeWrittenSyncFile(std::string_view text) {
    return readWritten(text);
}

std::optional<SyncFolders> decodeWrittenSyncFile(const std::function<std::size_t(char*, std::size_t)>& read) {
    return readWritten(read);
}

SyncFolders decodeSyncFile(std::string_view text) {
    if (auto folders = decodeWrittenSyncFile(text)) return std::move(*folders);
    return decodeAnySyncFile(text);
}

SyncFolders readSyncFile(int fd) {
    const auto unreadable = [](int err) {
        return JSONDecodeError(std::string("cannot read the sync file: ") + std::strerror(err));
    };
    off_t at = 0;
    const std::function<std::size_t(char*, std::size_t)> read = [&](char* buffer, std::size_t capacity) {
        for (;;) {
            const ssize_t n = ::pread(fd, buffer, capacity, at);
            if (n >= 0) {
                at += n;
                return static_cast<std::size_t>(n);
            }
            if (errno != EINTR) throw unreadable(errno);
        }
    };
    if (auto folders = decodeWrittenSyncFile(read)) return std::move(*folders);
    if (::lseek(fd, 0, SEEK_SET) != 0) throw unreadable(errno);
    const auto text = readAll(fd);
    if (!text) throw unreadable(errno);
    return decodeAnySyncFile(*text);
}

SyncFolders decodeAnySyncFile(std::string_view text) {
    Handler handler(true);
    const bool ok = json::sax_parse(text.begin(), text.end(), &handler);
    return finishFile(handler, ok);
}

SyncFolders decodeAnySyncFile(std::istream& in) {
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
