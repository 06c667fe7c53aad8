// SearchIndex::decode: reads index.json as a stream of events, so a large
// file never exists twice in memory as text and as a document tree. The
// events have the shape of nlohmann's SAX interface.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Index/SearchIndex.h"
#include "Util/Unicode.h"
#include "Vault/ArchiveLayout.h"

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
    indexstorage::ListMap postings;
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
                target_ = &it->second;
                // Read into a scratch list, then copied at its exact size:
                // no growth slack is kept, and no block freed per doubling.
                scratch_.clear();
                list_ = &scratch_;
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
            case State::postingList:
                *target_ = scratch_;
                state_ = State::postings;
                return true;
            default: return false;
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    bool inPostingList() const { return state_ == State::postingList && !skipping(); }
    bool posting(uint64_t v) {
        if (v > UINT32_MAX - 1) return false;
        if (!list_->empty() && static_cast<uint32_t>(v) <= list_->last()) return false;
        list_->append(static_cast<SearchIndex::Slot>(v));
        return true;
    }

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
                // Strictly ascending, or the file is not one we wrote.
                if (!ok || v < 0) return false;
                return posting(static_cast<uint64_t>(v));
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
    indexstorage::PostingList* list_ = nullptr;
    indexstorage::PostingList* target_ = nullptr;
    indexstorage::PostingList scratch_;
};


// index.json read in pieces into one reserved stretch of memory: the reader
// sees contiguous text, the pieces it has passed are handed back to the
// system, so loading never holds the whole file beside the index it builds.
class FileSource {
public:
    static constexpr size_t piece = 4 << 20;

    explicit FileSource(const std::filesystem::path& file) {
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        struct stat st{};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
        size_ = static_cast<size_t>(st.st_size);
        // Whole pieces, and never empty, so every piece can be moved alone.
        mapped_ = (size_ / piece + 1) * piece;
        void* m = ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (m == MAP_FAILED) return;
        base_ = static_cast<char*>(m);
        owned_.assign(mapped_ / piece, true);
        ok_ = true;
    }
    ~FileSource() {
        // Pieces moved away left holes that others may map into since.
        for (size_t i = 0; i < owned_.size(); ++i)
            if (owned_[i]) ::munmap(base_ + i * piece, piece);
        if (fd_ >= 0) ::close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool ok() const { return ok_; }
    size_t size() const { return size_; }
    const char* data() const { return base_; }

    // Reads on until `want` is inside the filled part or the file ends (a
    // read error ends it too: the reader then sees truncated JSON). Returns
    // the end of what is filled.
    const char* fill(const char* want) {
        const size_t target = std::min(size_, static_cast<size_t>(want - base_));
        while (filled_ < target) {
            const size_t chunk = std::min(piece, size_ - filled_);
            const ssize_t n = ::read(fd_, base_ + filled_, chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                size_ = filled_;
                break;
            }
            filled_ += static_cast<size_t>(n);
        }
        return base_ + filled_;
    }

    // Hands back the whole pieces before `upTo`; returns where the next call
    // has work. A piece that was read past is moved (page tables only) to
    // where the next unread piece goes, so reading into it needs no fresh
    // pages; past the end of the file it is simply dropped.
    const char* release(const char* upTo) {
        const size_t end = static_cast<size_t>(upTo - base_) / piece * piece;
        for (; released_ < end; released_ += piece) {
            char* from = base_ + released_;
            const size_t next = std::max(recycled_, (filled_ + piece - 1) / piece * piece);
            if (next + piece <= mapped_ &&
                ::mremap(from, piece, piece, MREMAP_MAYMOVE | MREMAP_FIXED, base_ + next) != MAP_FAILED) {
                owned_[released_ / piece] = false;
                recycled_ = next + piece;
                continue;
            }
            ::madvise(from, piece, MADV_DONTNEED);
        }
        return base_ + released_ + piece;
    }

private:
    int fd_ = -1;
    char* base_ = nullptr;
    size_t mapped_ = 0;
    size_t size_ = 0;
    size_t recycled_ = 0;  // pieces below this were moved in ahead of the reader
    std::vector<bool> owned_;  // per piece: still mapped by us
    size_t filled_ = 0;
    size_t released_ = 0;
    bool ok_ = false;
};

// A strict JSON reader (RFC 8259: no comments, no trailing commas, valid
// UTF-8, no lone surrogates) that feeds the decoder's events directly. It is
// several times faster than a general-purpose parser on index.json, which
// is mostly short strings and small integers.
class Reader {
public:
    Reader(std::string_view text, Decoder& h) : p_(text.data()), end_(text.data() + text.size()), h_(h) {}
    // Reads from a source that fills its buffer as the reader advances.
    Reader(FileSource& source, Decoder& h)
        : p_(source.data()), end_(source.data()), h_(h), source_(&source), nextRelease_(source.data()) {}

    bool document() {
        if (!value(0)) return false;
        skipSpace();
        return p_ == end_;
    }

private:
    static constexpr int maxDepth = 512;

    void skipSpace() {
        while (avail() && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }

    bool literal(std::string_view word) {
        if (!avail(word.size()) || std::string_view(p_, word.size()) != word) return false;
        p_ += word.size();
        return true;
    }

    bool value(int depth) {
        skipSpace();
        if (!avail()) return false;
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
        if (avail() && *p_ == '}') {
            ++p_;
            return h_.end_object();
        }
        while (true) {
            skipSpace();
            if (!avail() || *p_ != '"' || !string(buffer_) || !h_.key(buffer_)) return false;
            skipSpace();
            if (!avail() || *p_ != ':') return false;
            ++p_;
            if (!value(depth)) return false;
            skipSpace();
            if (!avail()) return false;
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
        if (avail() && *p_ == ']') {
            ++p_;
            return h_.end_array();
        }
        const bool postingList = h_.inPostingList();
        while (true) {
            if (!(postingList ? postingValue(depth) : value(depth))) return false;
            release();
            skipSpace();
            if (!avail()) return false;
            if (*p_ == ',') {
                ++p_;
                continue;
            }
            if (*p_ != ']') return false;
            ++p_;
            return h_.end_array();
        }
    }

    // Posting lists are most of the file: plain decimal slots are read
    // straight into the list; anything else takes the general path.
    bool postingValue(int depth) {
        skipSpace();
        if (!avail(12)) return value(depth);  // near the end: no fast path
        // Up to seven digits at once: the eight bytes ahead are there (see
        // avail above). Digits are 0x30..0x39; after subtracting '0' a byte
        // outside 0..9 has its high bit set, alone or after adding 0x76.
        uint64_t chunk;
        std::memcpy(&chunk, p_, 8);
        uint64_t x = chunk - 0x3030303030303030ULL;
        const uint64_t nonDigit = (x | (x + 0x7676767676767676ULL)) & 0x8080808080808080ULL;
        const int len = nonDigit ? __builtin_ctzll(nonDigit) / 8 : 8;
        const char after = p_[len];
        if (len == 0 || len == 8 || (len > 1 && *p_ == '0') || after == '.' || after == 'e' || after == 'E')
            return value(depth);
        x <<= 8 * (8 - len);  // the digits to the top, zeros (leading zero digits) below
        x = x * 10 + (x >> 8);
        x = (((x & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
             (((x >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >> 32;
        p_ += len;
        return h_.posting(x);
    }

    bool number() {
        const char* start = p_;
        if (avail() && *p_ == '-') ++p_;
        if (!avail()) return false;
        if (*p_ == '0') {
            ++p_;
        } else if (*p_ >= '1' && *p_ <= '9') {
            while (avail() && *p_ >= '0' && *p_ <= '9') ++p_;
        } else {
            return false;
        }
        bool integral = true;
        if (avail() && *p_ == '.') {
            integral = false;
            ++p_;
            const char* digits = p_;
            while (avail() && *p_ >= '0' && *p_ <= '9') ++p_;
            if (p_ == digits) return false;
        }
        if (avail() && (*p_ == 'e' || *p_ == 'E')) {
            integral = false;
            ++p_;
            if (avail() && (*p_ == '+' || *p_ == '-')) ++p_;
            const char* digits = p_;
            while (avail() && *p_ >= '0' && *p_ <= '9') ++p_;
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
        if (!avail(4)) return false;
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
            for (;;) {
                // Eight plain ASCII bytes at a time: none is '"', '\\', a
                // control character or above 0x7F.
                constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
                while (end_ - p_ >= 8) {
                    uint64_t w;
                    std::memcpy(&w, p_, 8);
                    const uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
                    const uint64_t special = ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) |
                                             (w - ones * 0x20) | w;
                    if (special & highs) break;
                    p_ += 8;
                }
                while (p_ < end_) {
                    const auto c = static_cast<unsigned char>(*p_);
                    if (c == '"' || c == '\\' || c < 0x20) break;
                    ascii &= c < 0x80;
                    ++p_;
                }
                // More of the file is read in place: `run` stays valid.
                if (p_ < end_ || !more(1)) break;
            }
            if (!ascii && !bx::isValidUTF8(std::string_view(run, static_cast<size_t>(p_ - run)))) return false;
            out.append(run, p_);
            if (!avail()) return false;
            const char c = *p_++;
            if (c == '"') return true;
            if (c != '\\') return false;  // a raw control character
            if (!avail()) return false;
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
                        if (!avail(2) || p_[0] != '\\' || p_[1] != 'u') return false;
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

    bool avail(size_t k = 1) { return static_cast<size_t>(end_ - p_) >= k || more(k); }
    bool more(size_t k) {
        if (!source_) return false;
        end_ = source_->fill(p_ + k);
        return static_cast<size_t>(end_ - p_) >= k;
    }
    // Between values nothing points behind p_, so what lies there can go.
    void release() {
        if (p_ >= nextRelease_) nextRelease_ = source_->release(p_);
    }

    const char* p_;
    const char* end_;
    Decoder& h_;
    FileSource* source_ = nullptr;
    // Where release() next has work; never for text already in memory.
    const char* nextRelease_ = reinterpret_cast<const char*>(UINTPTR_MAX);
    std::string buffer_;
};

}  // namespace

namespace {

template <class Input>
bool readDocument(Input& input, Decoder& d) {
    try {
        return Reader(input, d).document() && d.finished();
    } catch (const std::exception&) {  // memory exhausted on a hostile file
        return false;
    }
}

}  // namespace

struct IndexFileReader {
    static std::unique_ptr<SearchIndex> fromDecoded(Decoder& d);
};

std::unique_ptr<SearchIndex> SearchIndex::decode(std::string_view text) {
    Decoder d;
    if (!readDocument(text, d)) return nullptr;
    return IndexFileReader::fromDecoded(d);
}

std::unique_ptr<SearchIndex> SearchIndex::load(const std::filesystem::path& file) {
    FileSource source(file);
    Decoder d;
    // Room for the records up front: growing a vector of this size moves
    // every record and faults in fresh pages each time. A file written by
    // the index holds more than a kilobyte per message (record and postings);
    // a guess too large costs only address space, too small one more growth.
    try {
        d.records.reserve(std::min<size_t>(source.size() / 1024, 2'000'000));
    } catch (const std::bad_alloc&) {  // then it grows as it goes
    }
    std::unique_ptr<SearchIndex> index;
    if (source.ok() && readDocument(source, d)) index = IndexFileReader::fromDecoded(d);
    return index ? std::move(index) : std::make_unique<SearchIndex>();
}

std::unique_ptr<SearchIndex> IndexFileReader::fromDecoded(Decoder& d) {
    if (!d.versionIsThree()) return std::make_unique<SearchIndex>();
    if (!d.haveRecords || !d.havePostings) return nullptr;

    // Slots are positions: a file whose ids or postings disagree with them
    // is not ours to trust, and reading it would point outside the records.
    const size_t n = d.records.size();
    for (size_t i = 0; i < n; ++i)
        if (d.records[i] && d.records[i]->id != static_cast<int64_t>(i)) return nullptr;
    for (auto& [token, list] : d.postings) {
        if (!list.empty() && list.last() >= n) return nullptr;
        list.shrink();
    }
    // A record the store would open outside the vault is dropped, as the
    // sync files' loader drops such paths; its slot stays, empty.
    for (auto& r : d.records)
        if (r && !ArchiveLayout::isSafeRelativePath(r->path)) r.reset();

    auto index = std::make_unique<SearchIndex>();
    index->records_ = std::move(d.records);
    index->lists_ = std::move(d.postings);
    for (size_t i = 0; i < n; ++i)
        if (index->records_[i]) index->byPath_.insert(static_cast<SearchIndex::Slot>(i), index->records_);
    return index;
}

}  // namespace bx
