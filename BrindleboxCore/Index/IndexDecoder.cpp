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
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Index/IndexDecoder.h"
#include "Index/SearchIndex.h"
#include "Util/LargePages.h"
#include "Util/Unicode.h"
#include "Vault/ArchiveLayout.h"

namespace bx {

namespace {

// index.json read in blocks into one reserved stretch of memory: the reader
// sees contiguous text, the blocks it has passed are handed back to the
// system, so loading never holds the whole file beside the index it builds.
class FileSource {
public:
    // The bytes [begin, end) of the file; `end` past the file's end means
    // up to its end.
    explicit FileSource(const std::filesystem::path& file, size_t begin = 0, size_t end = SIZE_MAX,
                        size_t block = 4u << 20)
        : block_(block), begin_(begin) {
        fd_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) return;
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
        const auto fileSize = static_cast<size_t>(st.st_size);
        if (begin > fileSize) return;
        size_ = std::min(end, fileSize) - begin;
        // Whole blocks, and never empty, so every block can be moved alone.
        mapped_ = (size_ / block_ + 1) * block_;
        // In large pages: the blocks are fresh memory, and a page fault
        // each 4 KB cost more than reading.
        base_ = static_cast<char*>(LargePages::map(mapped_));
        if (!base_) return;
        owned_.assign(mapped_ / block_, true);
        ok_ = true;
    }
    ~FileSource() {
        // Blocks moved away left holes that others may map into since.
        for (size_t i = 0; i < owned_.size(); ++i)
            if (owned_[i]) ::munmap(base_ + i * block_, block_);
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
            const size_t chunk = std::min(block_, size_ - filled_);
            const ssize_t n = ::pread(fd_, base_ + filled_, chunk, static_cast<off_t>(begin_ + filled_));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                size_ = filled_;
                break;
            }
            filled_ += static_cast<size_t>(n);
        }
        return base_ + filled_;
    }

    // Hands back the whole blocks before `upTo`; returns where the next call
    // has work. A block that was read past is moved (page tables only) to
    // where the next unread block goes, so reading into it needs no fresh
    // pages; past the end of the file it is simply dropped.
    const char* release(const char* upTo) {
        const size_t end = static_cast<size_t>(upTo - base_) / block_ * block_;
        for (; released_ < end; released_ += block_) {
            char* from = base_ + released_;
            const size_t next = std::max(recycled_, (filled_ + block_ - 1) / block_ * block_);
            if (next + block_ <= mapped_ &&
                ::mremap(from, block_, block_, MREMAP_MAYMOVE | MREMAP_FIXED, base_ + next) != MAP_FAILED) {
                owned_[released_ / block_] = false;
                recycled_ = next + block_;
                continue;
            }
            ::madvise(from, block_, MADV_DONTNEED);
        }
        return base_ + released_ + block_;
    }

private:
    size_t block_;  // a multiple of the large page size
    int fd_ = -1;
    size_t begin_ = 0;
    char* base_ = nullptr;
    size_t mapped_ = 0;
    size_t size_ = 0;
    size_t recycled_ = 0;      // pieces below this were moved in ahead of the reader
    std::vector<bool> owned_;  // per block: still mapped by us
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
    Reader(std::string_view text, IndexDecoder& h)
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), h_(h) {}
    // Reads from a source that fills its buffer as the reader advances.
    Reader(FileSource& source, IndexDecoder& h)
        : begin_(source.data()),
          p_(source.data()),
          end_(source.data()),
          h_(h),
          source_(&source),
          nextRelease_(source.data()) {}

    bool document() {
        if (!value(0)) return false;
        skipSpace();
        return p_ == end_;
    }
    // Where reading stopped, from the start of the text.
    size_t offset() const { return static_cast<size_t>(p_ - begin_); }

    enum class Part { records, postings, done };
    // Reads one piece of a file laid out as the index writes it: from where
    // a record or a posting list begins (the decoder resumed there) on to
    // the end of the source, which must fall just after a comma between two
    // of them or, for the last piece, at the end of the file. `part` says
    // where the piece starts and, when it returns true, where it stopped.
    bool piece(Part& part) {
        while (true) {
            if (part == Part::records) {
                if (!value(1)) return false;
            } else {
                if (!avail() || *p_ != '"' || !string(buffer_) || !h_.key(buffer_)) return false;
                if (!avail() || *p_ != ':') return false;
                ++p_;
                if (!value(1)) return false;
            }
            release();
            if (!avail()) return false;
            const char c = *p_++;
            if (c == ',') {
                if (!avail()) return true;
                continue;
            }
            if (part == Part::records && c == ']') {
                std::string key = "postings";
                if (!h_.end_array() || !literal(R"(,"postings":{)") || !h_.key(key) || !h_.start_object(0))
                    return false;
                part = Part::postings;
                if (avail() && *p_ == '}') return closing(part);
                continue;
            }
            if (part == Part::postings && c == '}') {
                --p_;
                return closing(part);
            }
            return false;
        }
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
             (((x >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
            32;
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
        if (r.ec == std::errc::result_out_of_range)
            d = *start == '-' ? -HUGE_VAL : HUGE_VAL;
        else if (r.ec != std::errc())
            return false;
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
                    const uint64_t special =
                        ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | (w - ones * 0x20) | w;
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

    // The postings' closing brace, then the file's, then nothing.
    bool closing(Part& part) {
        if (!literal("}}") || !h_.end_object() || !h_.end_object()) return false;
        part = Part::done;
        return !avail();
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

    const char* begin_;
    const char* p_;
    const char* end_;
    IndexDecoder& h_;
    FileSource* source_ = nullptr;
    // Where release() next has work; never for text already in memory.
    const char* nextRelease_ = reinterpret_cast<const char*>(UINTPTR_MAX);
    std::string buffer_;
};

}  // namespace

namespace {

template <class Input>
bool readDocument(Input& input, IndexDecoder& d) {
    try {
        Reader reader(input, d);
        if (reader.document() && d.finished()) return true;
        d.syntaxError(reader.offset());
    } catch (const std::exception&) {  // memory exhausted on a hostile file
        d.fail("too large to hold");
    }
    return false;
}

// A generous guess at the records in a file of `bytes`: one written by the
// index holds more than a kilobyte per message (record and postings).
size_t recordsIn(size_t bytes) { return std::min<size_t>(bytes / 1024, 2'000'000); }

void reserveRecords(IndexDecoder& d, size_t count) {
    d.records.reserve(count);
    // Written front to back once, tens of megabytes of fresh memory.
    LargePages::advise(d.records.data(), d.records.capacity() * sizeof(d.records[0]));
}

// ---- reading in pieces ------------------------------------------------------
//
// A file laid out as the index writes it (no white space, the records, then
// the postings) is read by several threads at once, each from a place where
// a record or a posting list begins. The places are found by their look
// alone, so each piece must end exactly where the next one starts, in the
// same part of the file, and the last at the file's end; then together they
// read what one reader would have. When any piece does not (a file written
// otherwise, or text that only looks like a boundary), the file is read
// again the ordinary way, which also says what is wrong with it.

using Part = Reader::Part;

constexpr std::string_view writtenHead = R"({"version":3,"records":[)";

struct Piece {
    size_t begin = 0;
    size_t end = 0;
    size_t fileSize = 0;
    Part start = Part::records;
    Part reached = Part::records;
    IndexDecoder d;
    bool ok = false;
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The first place in `window` (the file's bytes from `at`) where a record or
// a posting list begins just after a comma, with its part.
std::optional<std::pair<size_t, Part>> boundaryIn(std::string_view w, size_t at) {
    constexpr std::string_view record = R"(},{"id":)";
    for (size_t i = 0; i + record.size() < w.size(); ++i) {
        if (w[i] == '}' && w.compare(i, record.size(), record) == 0 && isDigit(w[i + record.size()]))
            return std::pair{at + i + 2, Part::records};
        // `],"token":[digit`, the token without escapes.
        if (w[i] == ']' && w[i + 1] == ',' && w[i + 2] == '"') {
            const size_t close = w.find_first_of("\\\"", i + 3);
            if (close != std::string_view::npos && close + 3 < w.size() && w[close] == '"' &&
                w.compare(close + 1, 2, ":[") == 0 && isDigit(w[close + 3]))
                return std::pair{at + i + 2, Part::postings};
        }
    }
    return std::nullopt;
}

std::optional<std::pair<size_t, Part>> boundaryNear(int fd, size_t from) {
    std::string window(256u << 10, '\0');
    const ssize_t n = ::pread(fd, window.data(), window.size(), static_cast<off_t>(from));
    if (n <= 0) return std::nullopt;
    window.resize(static_cast<size_t>(n));
    return boundaryIn(window, from);
}

void readPiece(const std::filesystem::path& file, Piece& piece) {
    try {
        // One large page a block: each thread's fresh memory costs faults.
        FileSource source(file, piece.begin, piece.end, 2u << 20);
        if (!source.ok()) return;
        piece.d.resumeIn(piece.start == Part::records ? IndexDecoder::State::records : IndexDecoder::State::postings);
        if (piece.start == Part::records) {
            // The first piece gets room for all the records (as a whole file
            // is reserved for below), so the others' are moved in once; a
            // stretch of records alone takes more than 512 bytes a record.
            const bool first = piece.begin == writtenHead.size();
            reserveRecords(piece.d, first ? recordsIn(piece.fileSize) : (piece.end - piece.begin) / 512 + 16);
        }
        Reader reader(source, piece.d);
        Part part = piece.start;
        piece.ok = reader.piece(part);
        piece.reached = part;
    } catch (const std::exception&) {  // memory exhausted: the ordinary read reports it
        piece.ok = false;
    }
}

// The index read in pieces, or nullptr when the file is not one to split
// or a piece did not fit; the caller then reads it whole.
std::unique_ptr<SearchIndex> loadInPieces(const std::filesystem::path& file, unsigned threads, size_t smallest) {
    std::vector<std::unique_ptr<Piece>> pieces;
    {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        std::string head(writtenHead.size(), '\0');
        const bool fits = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) >= smallest &&
                          ::pread(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
                          head == writtenHead;
        const size_t size = static_cast<size_t>(st.st_size);
        const size_t count = fits ? threads : 0;
        std::vector<std::pair<size_t, Part>> starts{{writtenHead.size(), Part::records}};
        for (size_t k = 1; k < count; ++k)
            if (auto b = boundaryNear(fd, size / count * k); b && b->first > starts.back().first) starts.push_back(*b);
        ::close(fd);
        if (starts.size() < 2) return nullptr;
        for (size_t k = 0; k < starts.size(); ++k) {
            auto piece = std::make_unique<Piece>();
            piece->begin = starts[k].first;
            piece->end = k + 1 < starts.size() ? starts[k + 1].first : size;
            piece->start = starts[k].second;
            piece->fileSize = size;
            pieces.push_back(std::move(piece));
        }
    }

    std::vector<std::thread> helpers;
    try {
        for (size_t k = 1; k < pieces.size(); ++k)
            helpers.emplace_back(readPiece, std::cref(file), std::ref(*pieces[k]));
    } catch (const std::system_error&) {  // no threads to be had: the rest stay unread and fail
    }
    readPiece(file, *pieces[0]);
    for (auto& t : helpers) t.join();

    for (size_t k = 0; k < pieces.size(); ++k) {
        const Part expected = k + 1 < pieces.size() ? pieces[k + 1]->start : Part::done;
        if (!pieces[k]->ok || pieces[k]->reached != expected) return nullptr;
    }

    IndexDecoder& whole = pieces[0]->d;
    whole.version = 3;
    for (size_t k = 1; k < pieces.size(); ++k) {
        IndexDecoder& d = pieces[k]->d;
        whole.havePostings |= d.havePostings;
        std::move(d.records.begin(), d.records.end(), std::back_inserter(whole.records));
        std::vector<std::optional<MessageRecord>>().swap(d.records);
        // A token given twice keeps its last list, as in one reader.
        if (whole.postings.empty())
            whole.postings = std::move(d.postings);
        else
            for (auto& [token, list] : d.postings) whole.postings.insert_or_assign(token, std::move(list));
    }
    return IndexFileReader::fromDecoded(whole);
}

std::unique_ptr<SearchIndex> refused(const IndexDecoder& d, std::string* error) {
    if (error) *error = d.error();
    return nullptr;
}

}  // namespace

std::unique_ptr<SearchIndex> SearchIndex::decode(std::string_view text, std::string* error) {
    IndexDecoder d;
    if (!readDocument(text, d)) return refused(d, error);
    return IndexFileReader::fromDecoded(d, error);
}

std::unique_ptr<SearchIndex> SearchIndex::load(const std::filesystem::path& file, std::string* error) {
    // Below 8 MB one thread reads a file sooner than several start.
    return loadIndex(file, error, 0, 8u << 20);
}

std::unique_ptr<SearchIndex> loadIndex(const std::filesystem::path& file, std::string* error, unsigned threads,
                                       size_t smallest) {
    // Past four, more threads bought little time and kept more memory
    // (each holds its own allocator arena).
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    if (threads > 1)
        if (auto index = loadInPieces(file, threads, smallest)) return index;
    FileSource source(file);
    if (!source.ok()) {
        if (error) *error = "cannot be read";
        return std::make_unique<SearchIndex>();
    }
    IndexDecoder d;
    // Room for the records up front: growing a vector of this size moves
    // every record and faults in fresh pages each time. A guess too large
    // costs only address space, too small one more growth.
    try {
        reserveRecords(d, recordsIn(source.size()));
    } catch (const std::bad_alloc&) {  // then it grows as it goes
    }
    std::unique_ptr<SearchIndex> index;
    if (readDocument(source, d))
        index = IndexFileReader::fromDecoded(d, error);
    else
        refused(d, error);
    return index ? std::move(index) : std::make_unique<SearchIndex>();
}

std::unique_ptr<SearchIndex> IndexFileReader::fromDecoded(IndexDecoder& d, std::string* error) {
    auto fail = [&](const char* why) -> std::unique_ptr<SearchIndex> {
        if (error) *error = why;
        return nullptr;
    };
    if (!d.versionIsThree()) {
        if (error) *error = "not version 3";
        return std::make_unique<SearchIndex>();
    }
    if (!d.haveRecords) return fail("no \"records\"");
    if (!d.havePostings) return fail("no \"postings\"");

    // Slots are positions: a file whose ids or postings disagree with them
    // is not ours to trust, and reading it would point outside the records.
    const size_t n = d.records.size();
    for (size_t i = 0; i < n; ++i)
        if (d.records[i] && d.records[i]->id != static_cast<int64_t>(i)) return fail("a record's id is not its slot");
    for (auto& [token, list] : d.postings) {
        if (!list.empty() && list.last() >= n) return fail("a posting past the records");
        list.shrink();
    }
    // A record the store would open outside the vault is dropped, as the
    // sync files' loader drops such paths; its slot stays, empty. Older
    // files named a root file's own name as its account.
    for (auto& r : d.records) {
        if (r && !ArchiveLayout::isSafeRelativePath(r->path)) r.reset();
        if (r && r->isAtVaultRoot()) {
            r->account.clear();
            r->folder.clear();
        }
    }

    auto index = std::make_unique<SearchIndex>();
    index->records_ = std::move(d.records);
    index->lists_ = std::move(d.postings);
    index->byPath_.reserve(n);
    for (size_t i = 0; i < n; ++i)
        if (index->records_[i]) index->byPath_.insert(static_cast<SearchIndex::Slot>(i), index->pathLookup());
    return index;
}

}  // namespace bx
