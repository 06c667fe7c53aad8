#include "Mime/TransferDecoding.h"

#include <array>

#include "Mime/MimeText.h"

namespace bx {

namespace {
constexpr std::array<int8_t, 256> makeBase64Table() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int i = 0; i < 26; ++i) {
        t['A' + i] = static_cast<int8_t>(i);
        t['a' + i] = static_cast<int8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<int8_t>(52 + i);
    t['+'] = 62;
    t['/'] = 63;
    return t;
}
constexpr auto kBase64 = makeBase64Table();

// Whether a body labelled base64 is really base64. Senders do label plain
// text that way; decoding words, spaces and punctuation gives binary garbage.
// Line breaks, padding and blanks at either end of a line are what real
// base64 carries besides its alphabet. More than a few other bytes, and
// enough of them that they are no stray footer after a large encoded body,
// mean the body was never encoded.
bool looksLikeBase64(std::string_view data) {
    std::size_t stray = 0, total = 0;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\n', start);
        if (end == std::string_view::npos) end = data.size();
        std::string_view line = data.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        total += line.size();
        for (unsigned char c : line)
            if (kBase64[c] < 0 && c != '=') ++stray;
    }
    constexpr std::size_t aFew = 4;
    return stray <= aFew || stray * 50 <= total;
}
}  // namespace

std::string TransferDecoding::base64(std::string_view data) {
    // Everything outside the alphabet (padding, line ends, junk) is skipped; a
    // lone trailing sextet cannot make a byte and is dropped.
    std::string out(data.size() / 4 * 3 + 3, '\0');
    char* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t size = data.size();
    uint32_t acc = 0;
    int n = 0;
    std::size_t i = 0;
    while (i < size) {
        // Whole groups of four in one step, as most of a body is.
        if (n == 0) {
            while (i + 4 <= size) {
                const int32_t a = kBase64[p[i]], b = kBase64[p[i + 1]], c = kBase64[p[i + 2]], d = kBase64[p[i + 3]];
                if ((a | b | c | d) < 0) break;
                const uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6) | uint32_t(d);
                o[0] = static_cast<char>(v >> 16);
                o[1] = static_cast<char>((v >> 8) & 0xFF);
                o[2] = static_cast<char>(v & 0xFF);
                o += 3;
                i += 4;
            }
            if (i >= size) break;
        }
        const int8_t v = kBase64[p[i++]];
        if (v < 0) continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++n == 4) {
            o[0] = static_cast<char>((acc >> 16) & 0xFF);
            o[1] = static_cast<char>((acc >> 8) & 0xFF);
            o[2] = static_cast<char>(acc & 0xFF);
            o += 3;
            acc = 0;
            n = 0;
        }
    }
    if (n == 2) {
        *o++ = static_cast<char>((acc >> 4) & 0xFF);
    } else if (n == 3) {
        *o++ = static_cast<char>((acc >> 10) & 0xFF);
        *o++ = static_cast<char>((acc >> 2) & 0xFF);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::string TransferDecoding::quotedPrintable(std::string_view data, bool /*header*/) {
    using mimetext::hexValue;
    std::string out;
    out.reserve(data.size());
    const std::size_t n = data.size();
    std::size_t i = 0;
    while (i < n) {
        // Copy the run up to the next "=" in one go.
        std::size_t eq = data.find('=', i);
        if (eq == std::string_view::npos) {
            out.append(data.substr(i));
            break;
        }
        out.append(data.substr(i, eq - i));
        i = eq;
        if (i + 2 < n) {
            int h = hexValue(static_cast<unsigned char>(data[i + 1]));
            int l = hexValue(static_cast<unsigned char>(data[i + 2]));
            if (h >= 0 && l >= 0) {
                out.push_back(static_cast<char>(h * 16 + l));
                i += 3;
                continue;
            }
        }
        std::size_t j = i + 1;
        while (j < n && (data[j] == ' ' || data[j] == '\t')) ++j;
        if (j >= n) break;  // "=" and trailing blanks at the end are dropped
        if (data[j] == '\r') ++j;
        if (j >= n) break;
        if (data[j] == '\n') {  // soft line break
            i = j + 1;
            continue;
        }
        out.push_back('=');
        i += 1;
    }
    return out;
}

std::string TransferDecoding::decode(std::string_view data, std::string_view encoding) {
    if (encoding == "base64") return looksLikeBase64(data) ? base64(data) : std::string(data);
    if (encoding == "quoted-printable") return quotedPrintable(data, false);
    return std::string(data);
}

}  // namespace bx
