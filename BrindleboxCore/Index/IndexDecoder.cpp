// SearchIndex::decode: reads index.json as a stream of events, so a large
// file never exists twice in memory as text and as a document tree. The
// events have the shape of nlohmann's SAX interface.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "Index/SearchIndex.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

using nlohmann::json;

enum Field : int {
    fId, fPath, fAccount, fFolder, fSubject, fFromName, fFromEmail, fTo, fDate, fSize, fSnippet,
    fAttachments, fTrackers, fRemoteImages, fTrust, fReplyToMismatch, fLinkWarnings, fMtime, fSenderFlag,
    fieldCount, fUnknown = -1,
};
constexpr uint32_t requiredFields = ((1u << fieldCount) - 1) & ~(1u << fSenderFlag);

Field fieldNamed(const std::string& k) {
    switch (k.size()) {
        case 2:
            if (k == "id") return fId;
            if (k == "to") return fTo;
            break;
        case 4:
            if (k == "path") return fPath;
            if (k == "date") return fDate;
            if (k == "size") return fSize;
            break;
        case 5:
            if (k == "trust") return fTrust;
            if (k == "mtime") return fMtime;
            break;
        case 6:
            if (k == "folder") return fFolder;
            break;
        case 7:
            if (k == "account") return fAccount;
            if (k == "subject") return fSubject;
            if (k == "snippet") return fSnippet;
            break;
        case 8:
            if (k == "fromName") return fFromName;
            if (k == "trackers") return fTrackers;
            break;
        case 9:
            if (k == "fromEmail") return fFromEmail;
            break;
        case 10:
            if (k == "senderFlag") return fSenderFlag;
            break;
        case 11:
            if (k == "attachments") return fAttachments;
            break;
        case 12:
            if (k == "remoteImages") return fRemoteImages;
            if (k == "linkWarnings") return fLinkWarnings;
            break;
        case 15:
            if (k == "replyToMismatch") return fReplyToMismatch;
            break;
        default: break;
    }
    return fUnknown;
}

class Decoder : public nlohmann::json_sax<json> {
public:
    enum class State { start, top, records, record, postings, postingList, done };

    std::vector<std::optional<MessageRecord>> records;
    SearchIndex::PostingsMap postings;
    std::optional<int64_t> version;
    bool versionPresent = false;
    bool haveRecords = false;
    bool havePostings = false;

    bool null() override {
        if (skipping()) return skipValue();
        switch (state_) {
            case State::top: return topScalar(false);
            case State::records: records.emplace_back(); return true;
            case State::record:
                if (field_ == fSenderFlag) {
                    current_.senderFlag.reset();
                    seen_ |= 1u << fSenderFlag;
                    return true;
                }
                return field_ == fUnknown;
            default: return false;
        }
    }
    bool boolean(bool v) override {
        if (skipping()) return skipValue();
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return false;
        if (field_ == fUnknown) return true;
        if (field_ != fReplyToMismatch) return false;
        current_.replyToMismatch = v;
        return mark();
    }
    bool number_integer(number_integer_t v) override { return integer(v, true); }
    bool number_unsigned(number_unsigned_t v) override {
        if (!skipping() && state_ == State::record && field_ == fMtime) {
            current_.mtime = static_cast<double>(v);
            return mark();
        }
        if (v > static_cast<uint64_t>(INT64_MAX)) return integer(0, false);
        return integer(static_cast<int64_t>(v), true);
    }
    bool number_float(number_float_t v, const string_t&) override {
        if (skipping()) return skipValue();
        if (state_ == State::record && field_ == fMtime) {
            current_.mtime = v;
            return mark();
        }
        // A whole number written with a fraction part still counts as one.
        if (std::isfinite(v) && std::trunc(v) == v && v >= -9.2e18 && v <= 9.2e18)
            return integer(static_cast<int64_t>(v), true);
        return integer(0, false);
    }
    bool string(string_t& v) override {
        if (skipping()) return skipValue();
        if (state_ == State::top) return topScalar(false);
        if (state_ != State::record) return false;
        switch (field_) {
            case fPath: current_.path = std::move(v); break;
            case fAccount: current_.account = std::move(v); break;
            case fFolder: current_.folder = std::move(v); break;
            case fSubject: current_.subject = std::move(v); break;
            case fFromName: current_.fromName = std::move(v); break;
            case fFromEmail: current_.fromEmail = std::move(v); break;
            case fTo: current_.to = std::move(v); break;
            case fSnippet: current_.snippet = std::move(v); break;
            case fSenderFlag: current_.senderFlag = std::move(v); break;
            case fDate: {
                auto d = MessageRecord::decodeDate(v);
                if (!d) return false;
                current_.date = *d;
                break;
            }
            case fTrust: {
                auto t = SenderTrust::fromRawValue(v);
                if (!t) return false;
                current_.trust = *t;
                break;
            }
            case fUnknown: return true;
            default: return false;
        }
        return mark();
    }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override {
        if (skipping()) return enterSkip();
        switch (state_) {
            case State::start: state_ = State::top; return true;
            case State::top:
                if (topKey_ == TopKey::postings) {
                    havePostings = true;
                    state_ = State::postings;
                    return true;
                }
                if (topKey_ == TopKey::records) return false;
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::records:
                current_ = MessageRecord();
                seen_ = 0;
                field_ = fUnknown;
                state_ = State::record;
                return true;
            case State::record:
                if (field_ == fUnknown) return enterSkip();
                return false;
            default: return false;
        }
    }
    bool key(string_t& k) override {
        if (skipping()) return true;
        switch (state_) {
            case State::top:
                topKey_ = k == "version" ? TopKey::version
                          : k == "records" ? TopKey::records
                          : k == "postings" ? TopKey::postings
                                            : TopKey::other;
                return true;
            case State::record: field_ = fieldNamed(k); return true;
            case State::postings: token_ = std::move(k); return true;
            default: return false;
        }
    }
    bool end_object() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::top: state_ = State::done; return true;
            case State::record:
                if ((seen_ & requiredFields) != requiredFields) return false;
                records.emplace_back(std::move(current_));
                state_ = State::records;
                return true;
            case State::postings: state_ = State::top; return true;
            default: return false;
        }
    }
    bool start_array(std::size_t) override {
        if (skipping()) return enterSkip();
        switch (state_) {
            case State::top:
                if (topKey_ == TopKey::records) {
                    haveRecords = true;
                    state_ = State::records;
                    return true;
                }
                if (topKey_ == TopKey::postings) return false;
                if (topKey_ == TopKey::version) versionBad_ = true;
                return enterSkip();
            case State::record:
                if (field_ == fUnknown) return enterSkip();
                return false;
            case State::postings: {
                auto [it, inserted] = postings.try_emplace(std::move(token_));
                it->second.clear();
                list_ = &it->second;
                state_ = State::postingList;
                return true;
            }
            default: return false;
        }
    }
    bool end_array() override {
        if (skipping()) return leaveSkip();
        switch (state_) {
            case State::records: state_ = State::top; return true;
            case State::postingList: state_ = State::postings; return true;
            default: return false;
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool finished() const { return state_ == State::done; }
    bool versionIsThree() const { return !versionBad_ && version && *version == 3; }

private:
    enum class TopKey { version, records, postings, other };

    bool skipping() const { return skipDepth_ > 0; }
    bool skipValue() { return true; }
    bool enterSkip() {
        ++skipDepth_;
        return true;
    }
    bool leaveSkip() {
        --skipDepth_;
        return true;
    }
    bool mark() {
        seen_ |= 1u << field_;
        return true;
    }
    // A scalar directly under the top object: only "version" is read.
    bool topScalar(bool isInteger, int64_t v = 0) {
        switch (topKey_) {
            case TopKey::version:
                if (isInteger)
                    version = v;
                else
                    versionBad_ = true;
                return true;
            case TopKey::other: return true;
            default: return false;  // "records" and "postings" must be an array and an object
        }
    }
    bool integer(int64_t v, bool ok) {
        if (skipping()) return true;
        switch (state_) {
            case State::top: return topScalar(ok, v);
            case State::record:
                if (field_ == fUnknown) return true;
                if (!ok) return false;
                switch (field_) {
                    case fId: current_.id = v; break;
                    case fSize: current_.size = v; break;
                    case fAttachments: current_.attachments = v; break;
                    case fTrackers: current_.trackers = v; break;
                    case fRemoteImages: current_.remoteImages = v; break;
                    case fLinkWarnings: current_.linkWarnings = v; break;
                    case fMtime: current_.mtime = static_cast<double>(v); break;
                    default: return false;
                }
                return mark();
            case State::postingList:
                if (!ok || v < 0 || v > static_cast<int64_t>(UINT32_MAX - 1)) return false;
                list_->push_back(static_cast<SearchIndex::Slot>(v));
                return true;
            default: return false;
        }
    }

    State state_ = State::start;
    TopKey topKey_ = TopKey::other;
    bool versionBad_ = false;
    int skipDepth_ = 0;
    MessageRecord current_;
    uint32_t seen_ = 0;
    Field field_ = fUnknown;
    std::string token_;
    SearchIndex::Postings* list_ = nullptr;
};


// A strict JSON reader (RFC 8259: no comments, no trailing commas, valid
// UTF-8, no lone surrogates) that feeds the decoder's events directly. It is
// several times faster than a general-purpose parser on index.json, which
// is mostly short strings and small integers.
class Reader {
public:
    Reader(std::string_view text, Decoder& h) : p_(text.data()), end_(text.data() + text.size()), h_(h) {}

    bool document() {
        if (!value(0)) return false;
        skipSpace();
        return p_ == end_;
    }

private:
    static constexpr int maxDepth = 512;

    void skipSpace() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (static_cast<size_t>(end_ - p_) < word.size() || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    bool value(int depth) {
        skipSpace();
        if (p_ >= end_) return false;
        switch (*p_) {
            case '{': return object(depth + 1);
            case '[': return array(depth + 1);
            case '"':
                if (!string(buffer_)) return false;
                return h_.string(buffer_);
            case 't': return literal("true") && h_.boolean(true);
            case 'f': return literal("false") && h_.boolean(false);
            case 'n': return literal("null") && h_.null();
            default: return number();
        }
    }

    bool object(int depth) {
        if (depth > maxDepth) return false;
        ++p_;
        if (!h_.start_object(static_cast<std::size_t>(-1))) return false;
        skipSpace();
        if (p_ < end_ && *p_ == '}') {
            ++p_;
            return h_.end_object();
        }
        while (true) {
            skipSpace();
            if (p_ >= end_ || *p_ != '"' || !string(buffer_) || !h_.key(buffer_)) return false;
            skipSpace();
            if (p_ >= end_ || *p_ != ':') return false;
            ++p_;
            if (!value(depth)) return false;
            skipSpace();
            if (p_ >= end_) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != '}') return false;
            ++p_;
            return h_.end_object();
        }
    }

    bool array(int depth) {
        if (depth > maxDepth) return false;
        ++p_;
        if (!h_.start_array(static_cast<std::size_t>(-1))) return false;
        skipSpace();
        if (p_ < end_ && *p_ == ']') {
            ++p_;
            return h_.end_array();
        }
        while (true) {
            if (!value(depth)) return false;
            skipSpace();
            if (p_ >= end_) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != ']') return false;
            ++p_;
            return h_.end_array();
        }
    }

    bool number() {
        const char* start = p_;
        if (p_ < end_ && *p_ == '-') ++p_;
        if (p_ >= end_) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        } else {
            return false;
        }
        bool integral = true;
        if (p_ < end_ && *p_ == '.') {
            integral = false;
            ++p_;
            const char* digits = p_;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
            if (p_ == digits) return false;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            integral = false;
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            const char* digits = p_;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
            if (p_ == digits) return false;
        }
        if (integral) {
            if (*start == '-') {
                int64_t v;
                auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) return h_.number_integer(v);
            } else {
                uint64_t v;
                auto r = std::from_chars(start, p_, v);
                if (r.ec == std::errc() && r.ptr == p_) return h_.number_unsigned(v);
            }
        }
        double d;
        auto r = std::from_chars(start, p_, d);
        if (r.ptr != p_) return false;
        if (r.ec == std::errc::result_out_of_range) d = *start == '-' ? -HUGE_VAL : HUGE_VAL;
        else if (r.ec != std::errc()) return false;
        std::string raw;
        return h_.number_float(d, raw);
    }

    static int hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    bool hex4(uint32_t& out) {
        if (end_ - p_ < 4) return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex(p_[i]);
            if (h < 0) return false;
            out = out * 16 + static_cast<uint32_t>(h);
        }
        p_ += 4;
        return true;
    }

    // Reads a string token (p_ at its opening quote) into out.
    bool string(std::string& out) {
        ++p_;
        out.clear();
        while (true) {
            const char* run = p_;
            bool ascii = true;
            while (p_ < end_) {
                const auto c = static_cast<unsigned char>(*p_);
                if (c == '"' || c == '\\' || c < 0x20) break;
                ascii &= c < 0x80;
                ++p_;
            }
            if (!ascii && !bx::isValidUTF8(std::string_view(run, static_cast<size_t>(p_ - run)))) return false;
            out.append(run, p_);
            if (p_ >= end_) return false;
            const char c = *p_++;
            if (c == '"') return true;
            if (c != '\\') return false;  // a raw control character
            if (p_ >= end_) return false;
            switch (*p_++) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    uint32_t cp;
                    if (!hex4(cp)) return false;
                    if (cp >= 0xDC00 && cp <= 0xDFFF) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low;
                        if (end_ - p_ < 2 || p_[0] != '\\' || p_[1] != 'u') return false;
                        p_ += 2;
                        if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    }
                    bx::appendUTF8(out, cp);
                    break;
                }
                default: return false;
            }
        }
    }

    const char* p_;
    const char* end_;
    Decoder& h_;
    std::string buffer_;
};

}  // namespace

std::unique_ptr<SearchIndex> SearchIndex::decode(std::string_view text) {
    Decoder d;
    bool ok = false;
    try {
        ok = Reader(text, d).document();
    } catch (const std::exception&) {  // memory exhausted on a hostile file
        ok = false;
    }
    if (!ok || !d.finished()) return nullptr;
    if (!d.versionIsThree()) return std::make_unique<SearchIndex>();
    if (!d.haveRecords || !d.havePostings) return nullptr;

    // Slots are positions: a file whose ids or postings disagree with them
    // is not ours to trust, and reading it would point outside the records.
    const size_t n = d.records.size();
    for (size_t i = 0; i < n; ++i)
        if (d.records[i] && d.records[i]->id != static_cast<int64_t>(i)) return nullptr;
    for (const auto& [token, list] : d.postings) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i] >= n) return nullptr;
            if (i > 0 && list[i] <= list[i - 1]) return nullptr;
        }
    }

    auto index = std::make_unique<SearchIndex>();
    index->records_ = std::move(d.records);
    index->postings_ = std::move(d.postings);
    for (size_t i = 0; i < n; ++i)
        if (index->records_[i]) index->byPath_[index->records_[i]->path] = static_cast<Slot>(i);
    return index;
}

}  // namespace bx
