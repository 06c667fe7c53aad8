#include "Readers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include <nlohmann/json.hpp>
#ifdef BX_BENCH_SIMDJSON
#include <simdjson.h>
#endif

#include "Index/IndexDecoder.h"

namespace bench {

namespace {

// The file mapped read-only with `padding` zero bytes readable after it,
// which simdjson needs; the same input for both library readers.
class Mapped {
public:
    Mapped(const std::filesystem::path& file, size_t padding) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st{};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            size_ = static_cast<size_t>(st.st_size);
            const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
            mapped_ = (size_ + padding + page - 1) / page * page;
            void* area = ::mmap(nullptr, mapped_, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (area != MAP_FAILED &&
                ::mmap(area, size_, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) != MAP_FAILED)
                data_ = static_cast<const char*>(area);
        }
        ::close(fd);
    }
    ~Mapped() {
        if (data_) ::munmap(const_cast<char*>(data_), mapped_);
    }
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return mapped_; }

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    size_t mapped_ = 0;
};

std::unique_ptr<bx::SearchIndex> nlohmannLoad(const std::filesystem::path& file, std::string& error) {
    Mapped m(file, 0);
    if (!m.data()) return nullptr;
    bx::IndexDecoder d;
    d.records.reserve(m.size() / 1024);
    const bool ok = nlohmann::json::sax_parse(m.data(), m.data() + m.size(), &d);
    if (!ok || !d.finished()) {
        error = d.error();
        return nullptr;
    }
    return bx::IndexFileReader::fromDecoded(d, &error);
}

#ifdef BX_BENCH_SIMDJSON
namespace od = simdjson::ondemand;

class SimdWalker {
public:
    explicit SimdWalker(bx::IndexDecoder& d) : d_(d) {}

    bool value(od::value v) {
        od::json_type type;
        if (v.type().get(type)) return false;
        switch (type) {
            case od::json_type::object: {
                od::object o;
                if (v.get_object().get(o) || !d_.start_object(0)) return false;
                for (auto field : o) {
                    std::string_view k;
                    if (field.unescaped_key().get(k)) return false;
                    text_.assign(k);
                    if (!d_.key(text_)) return false;
                    od::value fv;
                    if (field.value().get(fv) || !value(fv)) return false;
                }
                return d_.end_object();
            }
            case od::json_type::array: {
                od::array a;
                if (v.get_array().get(a) || !d_.start_array(0)) return false;
                const bool postings = d_.inPostingList();
                for (auto element : a) {
                    od::value ev;
                    if (element.get(ev)) return false;
                    if (postings) {
                        // Anything but a plain unsigned slot is refused here.
                        uint64_t slot;
                        if (ev.get_uint64().get(slot) || !d_.posting(slot)) return false;
                    } else if (!value(ev)) {
                        return false;
                    }
                }
                return d_.end_array();
            }
            case od::json_type::string: {
                std::string_view s;
                if (v.get_string().get(s)) return false;
                text_.assign(s);
                return d_.string(text_);
            }
            case od::json_type::number: {
                od::number_type nt;
                if (v.get_number_type().get(nt)) return false;
                switch (nt) {
                    case od::number_type::signed_integer: {
                        int64_t i;
                        return !v.get_int64().get(i) && d_.number_integer(i);
                    }
                    case od::number_type::unsigned_integer: {
                        uint64_t u;
                        return !v.get_uint64().get(u) && d_.number_unsigned(u);
                    }
                    default: {
                        double f;
                        if (v.get_double().get(f)) return false;
                        std::string raw;
                        return d_.number_float(f, raw);
                    }
                }
            }
            case od::json_type::boolean: {
                bool b;
                return !v.get_bool().get(b) && d_.boolean(b);
            }
            case od::json_type::null: return v.is_null() && d_.null();
        }
        return false;
    }

private:
    bx::IndexDecoder& d_;
    std::string text_;
};

// Nothing after the top value: this version has no at_end() on a document,
// but asking where it stands past the last token says so.
bool atEnd(od::document& doc) {
    const char* where = nullptr;
    return doc.current_location().get(where) == simdjson::OUT_OF_BOUNDS;
}

std::unique_ptr<bx::SearchIndex> simdjsonLoad(const std::filesystem::path& file, std::string& error) {
    Mapped m(file, simdjson::SIMDJSON_PADDING);
    if (!m.data()) return nullptr;
    bx::IndexDecoder d;
    d.records.reserve(m.size() / 1024);
    od::parser parser;
    od::document doc;
    if (parser.iterate(simdjson::padded_string_view(m.data(), m.size(), m.capacity())).get(doc)) return nullptr;
    od::value top;
    SimdWalker walker(d);
    if (doc.get_value().get(top) || !walker.value(top) || !atEnd(doc) || !d.finished()) {
        error = d.error().empty() ? "refused by simdjson" : d.error();
        return nullptr;
    }
    return bx::IndexFileReader::fromDecoded(d, &error);
}
#endif

}  // namespace

bool haveReader(const std::string& reader) {
#ifdef BX_BENCH_SIMDJSON
    if (reader == "simdjson") return true;
#endif
    return reader == "hand" || reader == "nlohmann";
}

std::unique_ptr<bx::SearchIndex> loadWithReader(const std::string& reader, const std::filesystem::path& file,
                                                std::string& error) {
    if (reader == "hand") return bx::SearchIndex::load(file, &error);
    if (reader == "nlohmann") return nlohmannLoad(file, error);
#ifdef BX_BENCH_SIMDJSON
    if (reader == "simdjson") return simdjsonLoad(file, error);
#endif
    return nullptr;
}

}  // namespace bench
