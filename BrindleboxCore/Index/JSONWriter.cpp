#include "Index/JSONWriter.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "Util/Json.h"
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
    appendJSONString(out_, s, /*escapeSlash=*/true);
}

}  // namespace bx
