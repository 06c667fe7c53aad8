#include "Vault/SyncStateDecoder.h"

#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

#include "Util/Json.h"

namespace bx {

namespace {

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
    std::map<std::string, FolderState> folders;
    bool sawFolders = false;
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
                current_ = FolderState();
                seen_ = 0;
                at_ = At::folder;
                return true;
            case At::fieldValue:
                if (key_ == "files") {
                    current_.files.clear();
                    at_ = At::files;
                    return true;
                }
                if (key_ == "sizes") {
                    current_.sizes = std::map<std::string, std::int64_t>{};
                    at_ = At::sizes;
                    return true;
                }
                if (isKnownField()) return fail("expected " + expected());
                return skipValue();
            default: return fail("unexpected object");
        }
    }
    bool end_object() override {
        if (skip_ > 0) return endSkipped();
        switch (at_) {
            case At::top: at_ = At::done; return true;
            case At::folders: at_ = At::top; return true;
            case At::folder:
                if ((seen_ & kRequired) != kRequired) return fail(folderName_ + ": a required key is missing");
                folders.insert_or_assign(folderName_, std::move(current_));
                at_ = At::folders;
                return true;
            case At::files:
            case At::sizes:
                seen_ |= bit(key_);
                at_ = At::folder;
                return true;
            default: return fail("unexpected end of object");
        }
    }
    bool start_array(std::size_t) override {
        if (skip_ > 0) return ++skip_, true;
        if (at_ == At::topValue && key_ != "folders") return skipValue();
        if (at_ == At::fieldValue && !isKnownField()) return skipValue();
        return fail("unexpected array");
    }
    bool end_array() override {
        if (skip_ > 0) return endSkipped();
        return fail("unexpected end of array");
    }
    bool key(string_t& k) override {
        if (skip_ > 0) return true;
        switch (at_) {
            case At::top: key_ = k; at_ = At::topValue; return true;
            case At::folders: folderName_ = k; at_ = At::folderValue; return true;
            case At::folder: key_ = k; at_ = At::fieldValue; return true;
            case At::files:
            case At::sizes: entryKey_ = k; return true;
            default: return fail("unexpected key");
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        if (error.empty()) error = std::string("malformed JSON: ") + e.what();
        return false;
    }

private:
    enum class At { start, top, topValue, folders, folderValue, folder, fieldValue, files, sizes, done };
    enum class Value { null, number, string, other };
    static constexpr unsigned kMailbox = 1, kDirectory = 2, kUIDValidity = 4, kHighestUID = 8, kFiles = 16,
                              kLastRun = 32, kSizes = 64;
    static constexpr unsigned kRequired = kMailbox | kDirectory | kUIDValidity | kHighestUID | kFiles;

    static unsigned bit(const std::string& field) {
        if (field == "mailbox") return kMailbox;
        if (field == "directory") return kDirectory;
        if (field == "uidValidity") return kUIDValidity;
        if (field == "highestUID") return kHighestUID;
        if (field == "files") return kFiles;
        if (field == "lastRun") return kLastRun;
        if (field == "sizes") return kSizes;
        return 0;
    }
    bool isKnownField() const { return bit(key_) != 0; }
    std::string expected() const {
        if (key_ == "files" || key_ == "sizes") return "an object";
        if (key_ == "uidValidity" || key_ == "highestUID") return "a number";
        return "a string";
    }

    bool fail(const std::string& why) {
        if (error.empty()) error = "$.folders: " + why;
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
        if (at_ == At::topValue) at_ = At::top;
        else if (at_ == At::fieldValue) at_ = At::folder;
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
            case At::files:
                if (kind != Value::string) return fail(folderName_ + ".files: expected a string");
                current_.files.insert_or_assign(std::move(entryKey_), std::move(*string_));
                return true;
            case At::sizes: {
                if (kind != Value::number) return fail(folderName_ + ".sizes: expected a number");
                const auto n = whole<std::int64_t>(number_);
                if (!n) return fail(folderName_ + ".sizes: not a whole number in range");
                current_.sizes->insert_or_assign(std::move(entryKey_), *n);
                return true;
            }
            default: return fail("unexpected value");
        }
    }

    bool field(Value kind) {
        const unsigned b = bit(key_);
        at_ = At::folder;
        if (b == 0) return true;  // unknown: ignored
        if (kind == Value::null) {
            // Null is absence: fine for the optional keys, missing for the others.
            if (b == kLastRun) current_.lastRun.reset();
            if (b == kSizes) current_.sizes.reset();
            seen_ &= ~b;
            return true;
        }
        const std::string where = folderName_ + "." + key_;
        switch (b) {
            case kMailbox:
            case kDirectory:
                if (kind != Value::string) return fail(where + ": expected a string");
                (b == kMailbox ? current_.mailbox : current_.directory) = std::move(*string_);
                break;
            case kUIDValidity:
            case kHighestUID: {
                if (kind != Value::number) return fail(where + ": expected a number");
                const auto n = whole<std::uint32_t>(number_);
                if (!n) return fail(where + ": not a whole number in range");
                (b == kUIDValidity ? current_.uidValidity : current_.highestUID) = *n;
                break;
            }
            case kLastRun: {
                if (kind != Value::string) return fail(where + ": expected a date string");
                const auto d = parseISO8601(*string_);
                if (!d) return fail(where + ": not an ISO-8601 date");
                current_.lastRun = d;
                break;
            }
            default: return fail(where + ": expected an object");
        }
        seen_ |= b;
        return true;
    }

    At at_ = At::start;
    int skip_ = 0;
    std::string key_, folderName_, entryKey_;
    FolderState current_;
    unsigned seen_ = 0;
    Number number_{Number::Kind::unsignedInt};
    std::string* string_ = nullptr;
};

}  // namespace

std::map<std::string, FolderState> decodeSyncFolders(std::string_view text) {
    Handler handler;
    const bool ok = json::sax_parse(text.begin(), text.end(), &handler);
    if (!ok || !handler.error.empty())
        throw JSONDecodeError(handler.error.empty() ? std::string("malformed JSON") : handler.error);
    if (!handler.sawFolders) throw JSONDecodeError("$.folders: missing");
    return std::move(handler.folders);
}

}  // namespace bx
