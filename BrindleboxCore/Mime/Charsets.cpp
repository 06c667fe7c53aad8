#include "Mime/Charsets.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include "Mime/MimeText.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

// Windows-1252 0x80-0x9F; the five undefined bytes map to their C1 controls.
constexpr char16_t kCP1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendWindows1252(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0xA0) {
        bx::appendUTF8(out, kCP1252High[c - 0x80]);
    } else {
        bx::appendUTF8(out, c);
    }
}

struct ConverterDeleter {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterDeleter>;

// Converters are not thread-safe; each thread keeps its own, by ICU name.
// Bounded, so that hostile messages naming many charsets cannot grow it.
struct ConverterCache {
    std::unordered_map<std::string, ConverterPtr> map;
    UConverter* get(const std::string& name) {
        auto it = map.find(name);
        if (it != map.end()) {
            ucnv_reset(it->second.get());
            return it->second.get();
        }
        UErrorCode err = U_ZERO_ERROR;
        UConverter* c = ucnv_open(name.c_str(), &err);
        if (U_FAILURE(err) || !c) return nullptr;
        if (map.size() >= 64) map.clear();
        map.emplace(name, ConverterPtr(c));
        return c;
    }
};
thread_local ConverterCache tConverters;

// ICU's own substitute is U+001A (a control) for some charsets; a reader
// should see U+FFFD where a sequence could not be read.
void substituteReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                                    UConverterCallbackReason reason, UErrorCode* err) {
    if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
    const UChar fffd = 0xFFFD;
    *err = U_ZERO_ERROR;
    ucnv_cbToUWriteUChars(args, &fffd, 1, 0, err);
}

// A single-byte charset read through a table of its 256 bytes, built once per
// thread from ICU's own converter: what ICU gives byte by byte, without a
// call into it and a trip through UTF-16 for every text. Bytes that the
// charset leaves unmapped are left to ICU, which judges them.
struct ByteTable {
    static constexpr char32_t kUnmapped = 0xFFFFFFFF;
    char32_t codePoint[256];
};

// The table of a stateless one-byte converter; nothing for any other kind.
std::unique_ptr<ByteTable> makeByteTable(UConverter* conv) {
    const UConverterType type = ucnv_getType(conv);
    if (type != UCNV_SBCS && type != UCNV_LATIN_1 && type != UCNV_US_ASCII) return nullptr;
    auto table = std::make_unique<ByteTable>();
    UErrorCode cbErr = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &cbErr);
    std::string mapped;
    std::u32string expected;
    for (int b = 0; b < 256; ++b) {
        ucnv_reset(conv);
        const char byte = static_cast<char>(b);
        const char* src = &byte;
        UChar out[4];
        UChar* tgt = out;
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &tgt, out + 4, &src, &byte + 1, nullptr, true, &err);
        const auto n = tgt - out;
        table->codePoint[b] = ByteTable::kUnmapped;
        if (U_FAILURE(err)) continue;
        if (n != 1 || (out[0] >= 0xD800 && out[0] <= 0xDFFF)) return nullptr;  // not one character: no table
        table->codePoint[b] = out[0];
        mapped.push_back(byte);
        expected.push_back(out[0]);
    }
    // Read together, the mapped bytes must give what they give one by one.
    ucnv_reset(conv);
    std::u16string all(mapped.size() + 16, u'\0');
    const char* src = mapped.data();
    UChar* tgt = reinterpret_cast<UChar*>(all.data());
    UErrorCode err = U_ZERO_ERROR;
    ucnv_toUnicode(conv, &tgt, tgt + all.size(), &src, mapped.data() + mapped.size(), nullptr, true, &err);
    ucnv_reset(conv);
    if (U_FAILURE(err) || static_cast<std::size_t>(tgt - reinterpret_cast<UChar*>(all.data())) != expected.size())
        return nullptr;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (all[i] != expected[i]) return nullptr;
    return table;
}

struct ByteTableCache {
    std::unordered_map<std::string, std::unique_ptr<ByteTable>> map;  // null: no table for that name
};
thread_local ByteTableCache tByteTables;

// The text in UTF-8, or nothing when a byte is unmapped.
std::optional<std::string> decodeWithTable(std::string_view data, const ByteTable& table) {
    std::string out;
    out.resize(data.size() * 3);
    char* o = out.data();
    for (unsigned char b : data) {
        const char32_t c = table.codePoint[b];
        if (c < 0x80) {
            *o++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c != ByteTable::kUnmapped) {
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::optional<std::string> decodeWithICU(std::string_view data, const std::string& name, bool substitute) {
    UConverter* conv = tConverters.get(name);
    if (!conv) return std::nullopt;
    auto [table, isNew] = tByteTables.map.try_emplace(name);
    if (isNew) {
        if (tByteTables.map.size() > 64) {
            tByteTables.map.clear();
            table = tByteTables.map.try_emplace(name).first;
        }
        table->second = makeByteTable(conv);
        ucnv_reset(conv);
    }
    if (table->second) {
        if (auto text = decodeWithTable(data, *table->second)) return text;
        if (!substitute) return std::nullopt;  // ICU would stop at the same byte
    }
    UErrorCode cbErr = U_ZERO_ERROR;
    ucnv_setToUCallBack(conv, substitute ? substituteReplacementCharacter : UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr,
                        nullptr, &cbErr);
    std::u16string u16;
    u16.resize(data.size() + 16);
    const char* src = data.data();
    const char* srcEnd = data.data() + data.size();
    std::size_t used = 0;
    for (;;) {
        UChar* tgt = reinterpret_cast<UChar*>(u16.data()) + used;
        UChar* tgtEnd = reinterpret_cast<UChar*>(u16.data()) + u16.size();
        UErrorCode err = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &tgt, tgtEnd, &src, srcEnd, nullptr, true, &err);
        used = static_cast<std::size_t>(tgt - reinterpret_cast<UChar*>(u16.data()));
        if (err == U_BUFFER_OVERFLOW_ERROR) {
            u16.resize(u16.size() * 2);
            continue;
        }
        if (U_FAILURE(err)) return std::nullopt;
        break;
    }
    // UTF-16 to UTF-8; lone surrogates (only from broken UTF-16 input that the
    // converter let through) become U+FFFD.
    std::string out;
    out.reserve(used * 3 / 2 + 8);
    const char16_t* u = u16.data();
    for (std::size_t i = 0; i < used; ++i) {
        char32_t c = u[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < used && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        bx::appendUTF8(out, c);
    }
    return out;
}

struct LookupCache {
    std::unordered_map<std::string, std::optional<Charsets::Encoding>> map;
};
thread_local LookupCache tLookups;

// ICU's own name for a converter; "" when ICU has none of that name.
std::string canonicalICUName(const char* name) {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* c = ucnv_open(name, &err);
    if (U_FAILURE(err) || !c) return {};
    err = U_ZERO_ERROR;
    std::string r = ucnv_getName(c, &err);
    ucnv_close(c);
    return U_FAILURE(err) ? std::string() : r;
}

const std::string& icuNameWindows1252() {
    static const std::string n = canonicalICUName("windows-1252");
    return n;
}
const std::string& icuNameUTF8() {
    static const std::string n = canonicalICUName("UTF-8");
    return n;
}

std::optional<Charsets::Encoding> lookup(const std::string& name) {
    static const std::pair<const char*, const char*> aliases[] = {
        {"utf8", "utf-8"},
        {"latin1", "iso-8859-1"},
        {"ascii", "us-ascii"},
        {"ks_c_5601-1987", "euc-kr"},
        {"x-sjis", "shift_jis"},
        {"gb2312", "gb18030"},
        {"gbk", "gb18030"},
        {"cp1252", "windows-1252"},
        {"unicode-1-1-utf-7", "utf-7"},
    };
    std::string n = name;
    for (const auto& [alias, target] : aliases)
        if (n == alias) {
            n = target;
            break;
        }
    if (n == "utf-8" || n == "us-ascii") return Charsets::utf8();
    if (n == "windows-1252") return Charsets::windows1252();
    // Only plausible names reach ICU: no real charset name is longer, and ICU
    // must not be asked to look up arbitrary text as a converter data name.
    if (n.size() > 60) return std::nullopt;
    for (char c : n)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || std::strchr("-_.:+()", c)) || c == '\0')
            return std::nullopt;

    const std::string icuName = canonicalICUName(n.c_str());
    if (icuName.empty()) return std::nullopt;
    if (icuName == icuNameUTF8()) return Charsets::utf8();
    if (icuName == icuNameWindows1252()) return Charsets::windows1252();
    return Charsets::Encoding{Charsets::Encoding::Kind::icu, icuName};
}

}  // namespace

const Charsets::Encoding& Charsets::utf8() {
    static const Encoding e{Encoding::Kind::utf8, "UTF-8"};
    return e;
}

const Charsets::Encoding& Charsets::windows1252() {
    static const Encoding e{Encoding::Kind::windows1252, "windows-1252"};
    return e;
}

std::optional<Charsets::Encoding> Charsets::encoding(std::optional<std::string_view> name) {
    if (!name) return std::nullopt;
    std::string_view t = mimetext::trimChars(*name, "\" ");
    if (t.empty()) return std::nullopt;
    if (t.size() > 64) return std::nullopt;  // longer than any charset name; never cached
    std::string key = lowercased(t);
    auto& cache = tLookups.map;
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    auto r = lookup(key);
    if (cache.size() >= 256) cache.clear();
    cache.emplace(std::move(key), r);
    return r;
}

bool Charsets::isValidUTF8(std::string_view data) {
    return bx::isValidUTF8(data);
}

std::string Charsets::lossyUTF8(std::string_view data) {
    return bx::lossyUTF8(data);
}

std::string Charsets::fromWindows1252(std::string_view data) {
    std::string out;
    out.reserve(data.size() + data.size() / 4);
    for (unsigned char c : data) appendWindows1252(out, c);
    return out;
}

std::optional<std::string> Charsets::decode(std::string_view data, const Encoding& enc) {
    switch (enc.kind) {
        case Encoding::Kind::utf8:
            if (!isValidUTF8(data)) return std::nullopt;
            return std::string(data);
        case Encoding::Kind::windows1252: return fromWindows1252(data);
        case Encoding::Kind::icu: break;
    }
    return decodeWithICU(data, enc.name, false);
}

std::string Charsets::decodeRepairing(std::string_view data, const Encoding& enc) {
    switch (enc.kind) {
        case Encoding::Kind::utf8: return repairedUTF8(data);
        case Encoding::Kind::windows1252: return fromWindows1252(data);
        case Encoding::Kind::icu: break;
    }
    if (auto s = decodeWithICU(data, enc.name, true)) return std::move(*s);
    return repairedUTF8(data);
}

std::string Charsets::repairedUTF8(std::string_view data) {
    std::string out;
    out.reserve(data.size() + data.size() / 8);
    std::size_t i = 0;
    while (i < data.size()) {
        const std::size_t run = i;
        while (i < data.size() && static_cast<unsigned char>(data[i]) < 0x80) ++i;
        out.append(data.data() + run, i - run);
        if (i == data.size()) break;
        const std::size_t start = i;
        if (bx::detail::codePointAfter(data, i) >= 0) {
            out.append(data.data() + start, i - start);
        } else {
            for (std::size_t k = start; k < i; ++k) appendWindows1252(out, static_cast<unsigned char>(data[k]));
        }
    }
    return out;
}

std::string Charsets::string(std::string_view data, std::optional<std::string_view> charset) {
    const auto enc = encoding(charset);
    if (enc) {
        if (auto s = decode(data, *enc)) return std::move(*s);
    }
    // One bad sequence must not cost the rest of the text its charset: the
    // declared one is kept and only what is wrong in it is repaired.
    if (enc && enc->kind == Encoding::Kind::icu) {
        // 8-bit text that is valid UTF-8 was most likely mislabelled. 7-bit
        // data says nothing either way (UTF-7, ISO-2022) and stays in its charset.
        const bool eightBit =
            std::any_of(data.begin(), data.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        if (eightBit && isValidUTF8(data)) return std::string(data);
        return decodeRepairing(data, *enc);
    }
    return repairedUTF8(data);
}

}  // namespace bx
