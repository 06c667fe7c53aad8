#include "Index/JSONWriter.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "Util/Unicode.h"

namespace bx {

void JSONWriter::integer(int64_t v) {
    separate();
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, r.ptr);
}

void JSONWriter::number(double v) {
    if (!std::isfinite(v)) throw std::invalid_argument("JSON cannot hold a non-finite number");
    separate();
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out_.append(buf, r.ptr);
}

void JSONWriter::writeString(std::string_view s) {
    static constexpr char hex[] = "0123456789abcdef";
    bool ascii = true;
    for (unsigned char c : s)
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    std::string repaired;
    if (!ascii && !isValidUTF8(s)) {
        repaired = lossyUTF8(s);
        s = repaired;
    }
    out_ += '"';
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const char* esc = nullptr;
        switch (c) {
            case '"': esc = "\\\""; break;
            case '\\': esc = "\\\\"; break;
            case '/': esc = "\\/"; break;
            case '\b': esc = "\\b"; break;
            case '\f': esc = "\\f"; break;
            case '\n': esc = "\\n"; break;
            case '\r': esc = "\\r"; break;
            case '\t': esc = "\\t"; break;
            default: break;
        }
        if (!esc && c >= 0x20) continue;
        out_.append(s.data() + run, i - run);
        run = i + 1;
        if (esc) {
            out_ += esc;
        } else {
            out_ += "\\u00";
            out_ += hex[c >> 4];
            out_ += hex[c & 15];
        }
    }
    out_.append(s.data() + run, s.size() - run);
    out_ += '"';
}

}  // namespace bx
