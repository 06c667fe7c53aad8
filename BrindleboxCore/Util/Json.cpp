#include "Util/Json.h"

#include "Util/Unicode.h"

namespace bx {

void appendJSONString(std::string& out, std::string_view raw, bool escapeSlash) {
    static constexpr char hex[] = "0123456789abcdef";
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
    out += '"';
    size_t run = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        const char* esc = nullptr;
        switch (c) {
            case '"': esc = "\\\""; break;
            case '\\': esc = "\\\\"; break;
            case '/': esc = escapeSlash ? "\\/" : nullptr; break;
            case '\b': esc = "\\b"; break;
            case '\f': esc = "\\f"; break;
            case '\n': esc = "\\n"; break;
            case '\r': esc = "\\r"; break;
            case '\t': esc = "\\t"; break;
            default: break;
        }
        if (!esc && c >= 0x20) continue;
        out.append(raw.data() + run, i - run);
        run = i + 1;
        if (esc) {
            out += esc;
        } else {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(raw.data() + run, raw.size() - run);
    out += '"';
}

json parseJSON(std::string_view text) {
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw JSONDecodeError(std::string("malformed JSON: ") + e.what());
    }
}

}  // namespace bx
