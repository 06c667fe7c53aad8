#include "Mime/HeaderParams.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "Mime/Charsets.h"
#include "Mime/MimeText.h"
#include "Mime/PercentDecode.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

struct Section {
    unsigned long long number;
    std::string value;
    bool extended;
};

std::string_view trimParam(std::string_view s) {
    return trimWhitespaceNewlines(s);
}

}  // namespace

HeaderParams::Bytes2231 HeaderParams::decode2231Bytes(std::string_view text, bool first) {
    Bytes2231 r;
    std::string_view encoded = text;
    if (first) {
        std::size_t a = text.find('\'');
        if (a != std::string_view::npos) {
            std::size_t b = text.find('\'', a + 1);
            if (b != std::string_view::npos) {
                std::string_view cs = text.substr(0, a);
                if (!cs.empty()) r.charset = std::string(cs);
                encoded = text.substr(b + 1);
            }
        }
    }
    r.data = PercentDecode::bytes(encoded);
    return r;
}

HeaderParams::Parsed HeaderParams::parse(std::string_view value) {
    // Segments at ";" outside double quotes; inside quotes a backslash escapes
    // the next character.
    std::vector<std::string> segments;
    std::string cur;
    bool inQuote = false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (inQuote) {
            if (c == '\\' && i + 1 < value.size()) {
                cur.push_back(value[++i]);
            } else if (c == '\\') {
                // A backslash at the very end escapes nothing and is dropped.
            } else {
                if (c == '"') inQuote = false;
                cur.push_back(c);
            }
        } else if (c == ';') {
            segments.push_back(std::move(cur));
            cur.clear();
        } else {
            if (c == '"') inQuote = true;
            cur.push_back(c);
        }
    }
    segments.push_back(std::move(cur));

    Parsed result;
    result.value = std::string(trimSpacesTabs(segments.front()));

    std::vector<std::pair<std::string, std::vector<Section>>> continued;
    std::unordered_map<std::string, std::size_t> continuedIndex;
    for (std::size_t s = 1; s < segments.size(); ++s) {
        std::string_view seg = segments[s];
        std::size_t eq = seg.find('=');
        if (eq == std::string_view::npos) continue;
        std::string name = lowercased(trimParam(seg.substr(0, eq)));
        std::string_view v = trimParam(seg.substr(eq + 1));
        if (mimetext::isQuotedString(v)) v = v.substr(1, v.size() - 2);
        bool extended = false;
        if (!name.empty() && name.back() == '*') {
            extended = true;
            name.pop_back();
        }
        std::size_t star = name.find('*');
        if (star != std::string::npos) {
            std::string_view digits = std::string_view(name).substr(star + 1);
            bool isNumber = !digits.empty() && digits.size() <= 18 &&
                            std::all_of(digits.begin(), digits.end(), [](char d) { return d >= '0' && d <= '9'; });
            if (isNumber) {
                std::string base = name.substr(0, star);
                auto [slot, added] = continuedIndex.try_emplace(base, continued.size());
                if (added) continued.emplace_back(base, std::vector<Section>{});
                continued[slot->second].second.push_back(
                    Section{std::stoull(std::string(digits)), std::string(v), extended});
                continue;
            }
        }
        if (extended) {
            auto b = decode2231Bytes(v, true);
            result.params[name] =
                Charsets::string(b.data, b.charset ? std::string_view(*b.charset) : std::string_view("utf-8"));
        } else {
            result.params[name] = std::string(v);
        }
    }

    for (auto& [base, sections] : continued) {
        std::stable_sort(sections.begin(), sections.end(),
                         [](const Section& a, const Section& b) { return a.number < b.number; });
        std::string bytes;
        std::optional<std::string> charset;
        bool haveCharset = false;
        for (const Section& sec : sections) {
            if (sec.extended && sec.number == 0) {
                auto b = decode2231Bytes(sec.value, true);
                if (!haveCharset) {
                    charset = b.charset;
                    haveCharset = true;
                }
                bytes += b.data;
            } else if (sec.extended) {
                bytes += PercentDecode::bytes(sec.value);
            } else {
                bytes += sec.value;
            }
        }
        result.params[base] = Charsets::string(bytes, charset ? std::string_view(*charset) : std::string_view("utf-8"));
    }
    return result;
}

}  // namespace bx
