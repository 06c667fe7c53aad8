#include "Safety/HTMLInspector.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

#include <gumbo.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "Mime/HTMLText.h"
#include "Safety/Domains.h"
#include "Util/BudgetedRegex.h"
#include "Util/LargePages.h"
#include "Util/Unicode.h"

namespace bx {

using R = BudgetedRegex;

namespace {

const BudgetedRegex& domainInTextRegex() {
    static const BudgetedRegex re("(?:https?://)?((?:[a-z0-9-]+\\.)+[a-z]{2,24})(?:[/:?#]\\S*)?",
                                  UREGEX_CASE_INSENSITIVE);
    return re;
}
const BudgetedRegex& urlInTextRegex() {
    static const BudgetedRegex re("(https?://[^\\s<]+)", 0);
    return re;
}

std::string lowerString(std::string_view s) {
    return Domains::lower(s);
}

std::string lowerASCII(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool startsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

std::string_view trimWhiteSpaceAndNewlines(std::string_view s) {
    return trimCodePoints(s, isUnicodeWhiteSpace);
}

// Appends the base64 of `data` to `out`.
void base64Into(std::string& out, std::string_view data) {
    static constexpr char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t start = out.size();
    out.resize(start + (data.size() + 2) / 3 * 4);
    char* o = out.data() + start;
    size_t i = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        *o++ = table[(v >> 18) & 63];
        *o++ = table[(v >> 12) & 63];
        *o++ = table[(v >> 6) & 63];
        *o++ = table[v & 63];
    }
    if (const size_t rest = data.size() - i; rest > 0) {
        uint32_t v = p[i] << 16;
        if (rest == 2) v |= p[i + 1] << 8;
        *o++ = table[(v >> 18) & 63];
        *o++ = table[(v >> 12) & 63];
        *o++ = rest == 2 ? table[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
}

bool hasWord(std::string_view words, std::string_view w) {
    size_t start = 0;
    while (start <= words.size()) {
        size_t sp = words.find(' ', start);
        if (sp == std::string_view::npos) sp = words.size();
        if (words.substr(start, sp - start) == w) return true;
        start = sp + 1;
    }
    return false;
}

bool hostIsListedTracker(const std::string& host) {
    const std::string reg = Domains::registrable(host);
    for (auto row : HTMLInspector::trackerDomains()) {
        if (host == row || reg == row) return true;
        if (host.size() > row.size() && host.compare(host.size() - row.size(), row.size(), row) == 0 &&
            host[host.size() - row.size() - 1] == '.')
            return true;
    }
    return false;
}

// ---- Sizes ---------------------------------------------------------------

// The leading number of a text (digits with an optional fraction, or a bare
// fraction such as ".5"); `used` is how many characters it took.
std::optional<double> leadingNumber(std::string_view s, size_t& used) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        size_t j = i + 1, frac = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++frac;
        if (frac > 0) i = j, digits += frac;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        size_t exp = 0;
        while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j, ++exp;
        if (exp > 0) i = j;
    }
    used = i;
    return std::strtod(std::string(s.substr(0, i)).c_str(), nullptr);
}

bool isHTMLSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A width or height attribute as the engine reads it: the leading number,
// whatever follows ("1;", "2em" and "1px" are all that many pixels); a
// percentage decides nothing.
std::optional<double> attributePixels(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && isHTMLSpace(v[i])) ++i;
    size_t used = 0;
    const auto n = leadingNumber(v.substr(i), used);
    if (!n) return std::nullopt;
    if (i + used < v.size() && v[i + used] == '%') return std::nullopt;
    return n;
}

// A CSS length in pixels; nothing for a length relative to the page (%,
// viewport units) or anything that is not a plain length.
std::optional<double> cssPixels(std::string_view v) {
    size_t used = 0;
    const auto n = leadingNumber(v, used);
    if (!n) return std::nullopt;
    const std::string_view unit = v.substr(used);
    static constexpr std::pair<std::string_view, double> units[] = {
        {"", 1},           {"px", 1},        {"em", 16},        {"rem", 16},       {"ex", 8},
        {"ch", 8},         {"pt", 96.0 / 72}, {"pc", 16},       {"in", 96},        {"cm", 96 / 2.54},
        {"mm", 96 / 25.4}, {"q", 96 / 101.6},
    };
    for (const auto& [name, factor] : units)
        if (unit == name) return *n * factor;
    return std::nullopt;
}

// A width or height attribute as a CSS length: pixels, or a percentage of
// the pane; nothing when the engine would make nothing of it.
std::optional<std::string> attributeLength(std::string_view v) {
    size_t i = 0;
    while (i < v.size() && isHTMLSpace(v[i])) ++i;
    size_t used = 0;
    const auto n = leadingNumber(v.substr(i), used);
    if (!n || *n < 0 || !std::isfinite(*n)) return std::nullopt;
    char number[32];
    const auto written = std::to_chars(number, number + sizeof number, *n, std::chars_format::general, 6);
    const bool percent = i + used < v.size() && v[i + used] == '%';
    return std::string(number, written.ptr) + (percent ? "%" : "px");
}

// A style attribute with comments removed, lower-cased, without white space.
std::string compactStyle(std::string_view style) {
    std::string out;
    out.reserve(style.size());
    for (size_t i = 0; i < style.size(); ++i) {
        if (style[i] == '/' && i + 1 < style.size() && style[i + 1] == '*') {
            const size_t close = style.find("*/", i + 2);
            if (close == std::string_view::npos) break;
            i = close + 1;
            continue;
        }
        const char c = style[i];
        if (isHTMLSpace(c)) continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return out;
}

// Whether `f(property, value)` holds for any declaration of a compact style
// (one without spaces or comments); a declaration without a colon has an
// empty value.
template <class F>
bool anyDeclaration(std::string_view compact, F&& f) {
    size_t start = 0;
    while (start < compact.size()) {
        size_t end = compact.find(';', start);
        if (end == std::string_view::npos) end = compact.size();
        const std::string_view decl = compact.substr(start, end - start);
        start = end + 1;
        const size_t colon = decl.find(':');
        if (colon != std::string_view::npos && f(decl.substr(0, colon), decl.substr(colon + 1))) return true;
    }
    return false;
}

// Whether a compact style sets the property `name` itself.
bool styleSets(const std::string& compact, std::string_view name) {
    return anyDeclaration(compact, [&](std::string_view prop, std::string_view) { return prop == name; });
}

// Whether a style gives a box of 2 px or less in any unit and form.
bool styleIsTiny(const std::string& compact) {
    return anyDeclaration(compact, [](std::string_view prop, std::string_view value) {
        if (const size_t bang = value.find('!'); bang != std::string_view::npos) value = value.substr(0, bang);
        if (prop != "width" && prop != "height" && prop != "max-width" && prop != "max-height") return false;
        const auto px = cssPixels(value);
        return px && *px <= 2;
    });
}

// ---- The tree --------------------------------------------------------------

// The parser's work grows with the square of the nesting depth (100,000
// nested <div>s take half a minute), and no real mail nests anywhere near
// this deep.
constexpr int maxNesting = 4096;

// Whether the markup may nest deeper than `limit`: start tags minus end tags
// at their highest, not counting elements that never hold others or that
// the next of their kind closes. It never says less than the tree's depth.
bool mayNestDeeperThan(std::string_view s, int limit) {
    static constexpr std::string_view flat[] = {
        "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source", "track",
        "wbr", "p", "li", "dt", "dd", "tr", "td", "th", "option", "optgroup", "rp", "rt", "tbody", "thead",
        "tfoot", "colgroup", "html", "head", "body", "basefont", "bgsound", "keygen", "frame", "image",
    };
    int depth = 0;
    const size_t n = s.size();
    for (size_t i = s.find('<'); i != std::string_view::npos && i + 1 < n; i = s.find('<', i + 1)) {
        const char c = s[i + 1];
        if (c == '/') {
            if (depth > 0) --depth;
            continue;
        }
        if (c == '!' && s.substr(i, 4) == "<!--") {
            const size_t close = s.find("-->", i + 4);
            if (close == std::string_view::npos) break;
            i = close;
            continue;
        }
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) continue;
        size_t e = i + 1;
        std::string name;
        while (e < n && name.size() < 10 && ((s[e] >= 'a' && s[e] <= 'z') || (s[e] >= 'A' && s[e] <= 'Z') ||
                                             (s[e] >= '0' && s[e] <= '9')))
            name += static_cast<char>(s[e] >= 'A' && s[e] <= 'Z' ? s[e] + 32 : s[e]), ++e;
        if (std::find(std::begin(flat), std::end(flat), name) != std::end(flat)) continue;
        if (++depth > limit) return true;
    }
    return false;
}

// Only <a>, <area> and <img> are judged (in HTML or SVG; the parser reads
// <image> as <img> too), and the parser makes none of them without a start
// tag of that name: "<" right before the name, in either case. Markup with
// no "<a" or "<i" anywhere holds nothing to judge, and parsing it would
// find nothing.
bool mayHoldJudgedElements(std::string_view s) {
    for (size_t i = s.find('<'); i != std::string_view::npos && i + 1 < s.size(); i = s.find('<', i + 1)) {
        const char c = static_cast<char>(s[i + 1] | 0x20);
        if (c == 'a' || c == 'i') return true;
    }
    return false;
}

// Gumbo's nodes live in one arena that is dropped whole: freeing them node
// by node recurses as deep as the markup nests. The parser frees many small
// buffers while it runs; those are reused by size, so the arena grows with
// the tree, not with the work. The first block is sized from the markup and
// each later one as large as all before it; blocks are fresh memory in large
// pages, touched only as the tree fills them.
class Arena {
public:
    explicit Arena(size_t input) : next_(std::clamp<size_t>(input * 2, minBlock, maxBlock)) {}
    ~Arena() {
        for (const auto& [base, size] : blocks_) LargePages::unmap(base, size);
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    static void* allocate(void* self, size_t n) { return static_cast<Arena*>(self)->take(n); }
    static void release(void* self, void* p) { static_cast<Arena*>(self)->give(p); }

private:
    static constexpr size_t header = 16, classes = 64;  // reused sizes: up to 1 KiB, in steps of 16
    static constexpr size_t minBlock = LargePages::size, maxBlock = size_t(256) << 20;

    void* take(size_t n) {
        n = (n + 15) & ~size_t(15);
        const size_t cls = n / 16;
        if (cls < classes && free_[cls]) {
            void* p = free_[cls];
            free_[cls] = *static_cast<void**>(p);
            return p;
        }
        const size_t need = n + header;
        if (blocks_.empty() || used_ + need > size_) {
            size_ = (std::max(need, next_) + LargePages::size - 1) & ~(LargePages::size - 1);
            next_ = std::min(next_ + size_, maxBlock);
            void* block = LargePages::map(size_);
            if (!block) throw std::bad_alloc();
            blocks_.emplace_back(static_cast<char*>(block), size_);
            used_ = 0;
        }
        char* p = blocks_.back().first + used_;
        used_ += need;
        *reinterpret_cast<size_t*>(p) = n;
        return p + header;
    }
    void give(void* p) {
        if (!p) return;
        const size_t n = *reinterpret_cast<size_t*>(static_cast<char*>(p) - header);
        const size_t cls = n / 16;
        if (cls >= classes) return;
        *static_cast<void**>(p) = free_[cls];
        free_[cls] = p;
    }

    std::vector<std::pair<char*, size_t>> blocks_;
    void* free_[classes] = {};
    size_t used_ = 0, size_ = 0, next_;
};

class Tree {
public:
    explicit Tree(std::string_view html) : arena_(html.size()) {
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &Arena::allocate;
        options.deallocator = &Arena::release;
        options.userdata = &arena_;
        options.max_errors = 0;
        output_ = gumbo_parse_with_options(&options, html.data(), html.size());
    }
    const GumboNode* document() const { return output_->document; }

private:
    Arena arena_;
    GumboOutput* output_;
};

bool isElement(const GumboNode* n) {
    return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}

bool isHTML(const GumboNode* n, GumboTag tag) {
    return isElement(n) && n->v.element.tag == tag && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

const char* attribute(const GumboNode* n, const char* name) {
    const GumboAttribute* a = gumbo_get_attribute(&n->v.element.attributes, name);
    return a ? a->value : nullptr;
}

std::string tagName(const GumboNode* n) {
    const GumboElement& e = n->v.element;
    std::string name;
    if (e.tag != GUMBO_TAG_UNKNOWN) {
        name = gumbo_normalized_tagname(e.tag);
    } else {
        GumboStringPiece piece = e.original_tag;
        gumbo_tag_from_original_text(&piece);
        size_t len = 0;
        while (len < piece.length && !isHTMLSpace(piece.data[len]) && piece.data[len] != '/' && piece.data[len] != '>')
            ++len;
        name = lowerASCII(std::string_view(piece.data, len));
    }
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG) {
        GumboStringPiece piece{name.data(), name.size()};
        if (const char* fixed = gumbo_normalize_svg_tagname(&piece)) name = fixed;
    }
    return name;
}

std::string attributeName(const GumboAttribute* a) {
    const std::string name = a->name;
    if (name.find(':') != std::string::npos) return name;
    switch (a->attr_namespace) {
        case GUMBO_ATTR_NAMESPACE_XLINK: return "xlink:" + name;
        case GUMBO_ATTR_NAMESPACE_XML: return "xml:" + name;
        case GUMBO_ATTR_NAMESPACE_XMLNS: return name == "xmlns" ? name : "xmlns:" + name;
        default: return name;
    }
}

HTMLInspector::Attributes attributesOf(const GumboNode* n) {
    HTMLInspector::Attributes map;
    std::string bare = tagName(n);
    const GumboVector& attrs = n->v.element.attributes;
    for (unsigned i = 0; i < attrs.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
        const std::string name = attributeName(a);
        map.emplace(name, a->value);
        // Gumbo points a value-less attribute's original value at its name.
        if (a->original_value.length == 0 || a->original_value.data == a->original_name.data) bare += " " + name;
    }
    map["__bare"] = std::move(bare);
    return map;
}

// Children of a node, for the walks below.
const GumboVector* childrenOf(const GumboNode* n) {
    if (n->type == GUMBO_NODE_DOCUMENT) return &n->v.document.children;
    if (isElement(n)) return &n->v.element.children;
    return nullptr;
}

// The text a person sees in a link: its text, white space collapsed.
std::string visibleText(const GumboNode* root) {
    std::string out;
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA) {
            out += n->v.text.text;
            continue;
        }
        if (!isElement(n)) continue;
        if (isHTML(n, GUMBO_TAG_SCRIPT) || isHTML(n, GUMBO_TAG_STYLE) || n->type == GUMBO_NODE_TEMPLATE) continue;
        if (isHTML(n, GUMBO_TAG_BR)) out += ' ';
        if (isHTML(n, GUMBO_TAG_IMG))
            if (const char* alt = attribute(n, "alt")) out.append(" ").append(alt).append(" ");
        const GumboVector& c = n->v.element.children;
        for (unsigned i = c.length; i-- > 0;) stack.push_back(static_cast<const GumboNode*>(c.data[i]));
    }
    std::string collapsed;
    collapsed.reserve(out.size());
    bool space = false;
    for (char c : out) {
        if (isHTMLSpace(c)) {
            space = true;
            continue;
        }
        if (space && !collapsed.empty()) collapsed += ' ';
        space = false;
        collapsed += c;
    }
    return std::string(trimWhiteSpaceAndNewlines(collapsed));
}

// The address of a navigable element, or null when it has none.
const char* linkAddress(const GumboNode* n) {
    if (!isElement(n)) return nullptr;
    const GumboElement& e = n->v.element;
    if (e.tag_namespace == GUMBO_NAMESPACE_HTML) {
        if (e.tag != GUMBO_TAG_A && e.tag != GUMBO_TAG_AREA) return nullptr;
        return attribute(n, "href");
    }
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG && e.tag == GUMBO_TAG_A) {
        // SVG's own link: "href", else the older "xlink:href".
        const GumboVector& attrs = e.attributes;
        const char* xlink = nullptr;
        for (unsigned i = 0; i < attrs.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
            if (std::strcmp(a->name, "href") == 0) {
                if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE) return a->value;
                if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_XLINK) xlink = a->value;
            } else if (std::strcmp(a->name, "xlink:href") == 0) {
                xlink = a->value;
            }
        }
        return xlink;
    }
    return nullptr;
}

HTMLInspector::Link linkOf(const GumboNode* n, const char* href) {
    HTMLInspector::Link link;
    link.href = href;
    const auto web = Domains::webURL(href);
    link.target = web ? *web : std::string(trimWhiteSpaceAndNewlines(href));
    if (isHTML(n, GUMBO_TAG_AREA)) {
        const char* alt = attribute(n, "alt");
        link.text = alt ? std::string(trimWhiteSpaceAndNewlines(alt)) : std::string();
    } else {
        link.text = visibleText(n);
    }
    return link;
}

// An image address as the engine will fetch it, when that is http(s).
std::optional<std::string> remoteSource(const char* src) {
    if (!src) return std::nullopt;
    auto web = Domains::webURL(src);
    if (!web || !(startsWith(*web, "http://") || startsWith(*web, "https://"))) return std::nullopt;
    return web;
}

// The name a person reads for a tracker's host: its registrable domain, or
// an IP address as it is.
std::string trackerName(const std::string& url) {
    const auto host = Domains::host(url);
    return host ? Domains::registrable(*host) : std::string();
}

bool dropped(const GumboNode* n) {
    if (!isElement(n) || n->v.element.tag_namespace != GUMBO_NAMESPACE_HTML) return false;
    switch (n->v.element.tag) {
        case GUMBO_TAG_BASE:
        case GUMBO_TAG_LINK:
        case GUMBO_TAG_IFRAME:
        case GUMBO_TAG_FRAME:
        case GUMBO_TAG_FRAMESET:
        case GUMBO_TAG_EMBED:
        case GUMBO_TAG_APPLET:
        case GUMBO_TAG_PARAM: return true;
        case GUMBO_TAG_META: return attribute(n, "http-equiv") != nullptr;
        default: return false;
    }
}

// Elements kept for their content only: an object's fallback is what shows
// when the object does not load, and it never will.
bool unwrapped(const GumboNode* n) {
    return isHTML(n, GUMBO_TAG_OBJECT);
}

// Attributes that make a request or a navigation without a click on a link.
bool droppedAttribute(const GumboNode* n, const char* name) {
    const GumboTag tag = n->v.element.tag;
    if (tag == GUMBO_TAG_FORM && std::strcmp(name, "action") == 0) return true;
    if ((tag == GUMBO_TAG_BUTTON || tag == GUMBO_TAG_INPUT) && std::strcmp(name, "formaction") == 0) return true;
    return false;
}

bool isVoid(GumboTag tag) {
    switch (tag) {
        case GUMBO_TAG_AREA:
        case GUMBO_TAG_BASE:
        case GUMBO_TAG_BASEFONT:
        case GUMBO_TAG_BGSOUND:
        case GUMBO_TAG_BR:
        case GUMBO_TAG_COL:
        case GUMBO_TAG_EMBED:
        case GUMBO_TAG_FRAME:
        case GUMBO_TAG_HR:
        case GUMBO_TAG_IMG:
        case GUMBO_TAG_INPUT:
        case GUMBO_TAG_KEYGEN:
        case GUMBO_TAG_LINK:
        case GUMBO_TAG_META:
        case GUMBO_TAG_PARAM:
        case GUMBO_TAG_SOURCE:
        case GUMBO_TAG_TRACK:
        case GUMBO_TAG_WBR: return true;
        default: return false;
    }
}

bool isRawText(const GumboNode* n) {
    if (!isElement(n) || n->v.element.tag_namespace != GUMBO_NAMESPACE_HTML) return false;
    switch (n->v.element.tag) {
        case GUMBO_TAG_STYLE:
        case GUMBO_TAG_SCRIPT:
        case GUMBO_TAG_XMP:
        case GUMBO_TAG_IFRAME:
        case GUMBO_TAG_NOEMBED:
        case GUMBO_TAG_NOFRAMES:
        case GUMBO_TAG_PLAINTEXT: return true;
        default: return false;
    }
}

bool needsEscape(char c, bool attributeValue) {
    return c == '&' || c == '<' || c == '>' || c == '\xC2' || (c == '"' && attributeValue);
}

// Text between the characters that need escaping is appended whole: a
// body is mostly such runs, and a character at a time made writing out
// cost as much as the parse.
void escapeInto(std::string& out, std::string_view text, bool attributeValue) {
    const size_t n = text.size();
    size_t from = 0;
    for (size_t i = 0;; ++i) {
        while (i < n && !needsEscape(text[i], attributeValue)) ++i;
        out.append(text, from, i - from);
        if (i == n) break;
        from = i + 1;
        switch (text[i]) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (i + 1 < text.size() && text[i + 1] == '\xA0') {
                    out += "&nbsp;";
                    ++from;
                } else {
                    out += '\xC2';
                }
        }
    }
}

// One walk over the tree: counts and judges what the checks look at, and,
// when asked, writes out the cleaned document.
// What a blocked remote image shows instead: a quiet box that fills
// whatever size the image is given, drawn from the page itself, so the
// engine never reaches for the address or draws its broken-image sign.
constexpr std::string_view placeholderImage =
    "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg'%3E%3Crect width='100%25' height='100%25' "
    "fill='%23f3f3f5' stroke='%23dedee3' stroke-width='2'/%3E%3C/svg%3E";
// The side of a placeholder whose image declares no size.
constexpr std::string_view placeholderSide = "24px";

class Walk {
public:
    Walk(const std::vector<MailAttachment>* attachments, bool write,
         HTMLInspector::RemoteImages remote = HTMLInspector::RemoteImages::allowed)
        : attachments_(attachments), write_(write), remote_(remote) {}

    HTMLReport report;
    std::vector<std::string> images;
    std::vector<HTMLInspector::Link> links;
    std::string out;

    // `html`: the size of the markup, for the room the document needs.
    void run(const GumboNode* document, size_t html = 0) {
        if (write_) {
            size_t inlineBytes = 512;
            if (attachments_) {
                for (const auto& att : *attachments_) {
                    // An empty Content-ID would turn every "cid:" of the page into this part.
                    if (!att.contentID || att.contentID->empty() || att.data.size() > HTMLInspector::maxInlineBytes)
                        continue;
                    inline_.push_back({"cid:" + *att.contentID, &att});
                    inlineBytes += (att.data.size() + 2) / 3 * 4 + att.mimeType.size() + 16;
                }
            }
            // Inlined parts make the document many times the markup: room
            // for them up front, in large pages, instead of copying it over
            // and over as it grows.
            out.reserve(out.size() + html + inlineBytes);
            if (out.capacity() >= 4 * LargePages::size) LargePages::advise(out.data(), out.capacity());
            writeDoctype(document);
        }
        // Depth-first, children in order; an entry with `close` writes the
        // end tag once its children are done.
        struct Step {
            const GumboNode* node;
            bool close;
        };
        std::vector<Step> stack;
        const GumboVector& top = document->v.document.children;
        for (unsigned i = top.length; i-- > 0;) stack.push_back({static_cast<const GumboNode*>(top.data[i]), false});
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            const GumboNode* n = step.node;
            if (step.close) {
                out += "</";
                writeTagName(n);
                out += '>';
                continue;
            }
            switch (n->type) {
                case GUMBO_NODE_TEXT:
                case GUMBO_NODE_WHITESPACE:
                case GUMBO_NODE_CDATA: text(n); continue;
                case GUMBO_NODE_COMMENT:
                case GUMBO_NODE_DOCUMENT: continue;  // comments show nothing; leaving them out leaves no doubt where one ends
                default: break;
            }
            if (dropped(n)) continue;
            if (!element(n)) continue;
            const GumboVector& c = n->v.element.children;
            const bool opened = write_ && !unwrapped(n) && !(n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML &&
                                                           isVoid(n->v.element.tag));
            if (opened && !isHTML(n, GUMBO_TAG_PLAINTEXT)) stack.push_back({n, true});
            for (unsigned i = c.length; i-- > 0;) stack.push_back({static_cast<const GumboNode*>(c.data[i]), false});
        }
    }

private:
    struct Inline {
        std::string token;
        const MailAttachment* part;
    };

    void writeTagName(const GumboNode* n) {
        const GumboElement& e = n->v.element;
        if (e.tag != GUMBO_TAG_UNKNOWN && e.tag_namespace == GUMBO_NAMESPACE_HTML)
            out += gumbo_normalized_tagname(e.tag);
        else
            out += tagName(n);
    }

    void writeDoctype(const GumboNode* document) {
        const GumboDocument& d = document->v.document;
        const GumboNode* head = nullptr;
        for (unsigned i = 0; i < d.children.length && !head; ++i) {
            const auto* html = static_cast<const GumboNode*>(d.children.data[i]);
            if (!isHTML(html, GUMBO_TAG_HTML)) continue;
            for (unsigned k = 0; k < html->v.element.children.length; ++k) {
                const auto* c = static_cast<const GumboNode*>(html->v.element.children.data[k]);
                if (isHTML(c, GUMBO_TAG_HEAD)) head = c;
            }
        }
        // The mode the engine lays the page out in is the one the mail
        // asked for; a fragment without its own head is shown as a
        // standards-mode page.
        const bool explicitHead = head && head->v.element.original_tag.length > 0;
        if (d.has_doctype || !explicitHead) {
            switch (d.doc_type_quirks_mode) {
                case GUMBO_DOCTYPE_NO_QUIRKS: out += "<!doctype html>"; break;
                case GUMBO_DOCTYPE_LIMITED_QUIRKS:
                    out += "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" \"\">";
                    break;
                case GUMBO_DOCTYPE_QUIRKS:
                    if (!d.has_doctype) out += "<!doctype html>";
                    break;
            }
        }
    }

    // Writes an attribute's value (escaped) or a style's text with each
    // "cid:" of an inlined part as its data address.
    void writeInlined(std::string_view value, bool escape) {
        const auto write = [&](std::string_view piece) {
            if (escape)
                escapeInto(out, piece, true);
            else
                out.append(piece);
        };
        std::vector<size_t> next(inline_.size());
        for (size_t k = 0; k < inline_.size(); ++k) next[k] = value.find(inline_[k].token);
        size_t pos = 0;
        for (;;) {
            size_t which = inline_.size(), hit = std::string_view::npos;
            for (size_t k = 0; k < inline_.size(); ++k) {
                if (next[k] < pos) next[k] = value.find(inline_[k].token, pos);
                if (next[k] < hit) hit = next[k], which = k;
            }
            if (which == inline_.size()) break;
            write(value.substr(pos, hit - pos));
            out += "data:";
            write(inline_[which].part->mimeType);
            out += ";base64,";
            base64Into(out, inline_[which].part->data);
            pos = hit + inline_[which].token.size();
        }
        write(value.substr(pos));
    }

    void text(const GumboNode* n) {
        if (!write_) return;
        const GumboNode* parent = n->parent;
        if (parent && isRawText(parent)) {
            if (isHTML(parent, GUMBO_TAG_STYLE) && !inline_.empty())
                writeInlined(n->v.text.text, false);
            else
                out += n->v.text.text;
        } else {
            escapeInto(out, n->v.text.text, false);
        }
    }

    // A template's content is inert: it shows nothing and loads nothing.
    static bool insideTemplate(const GumboNode* n) {
        for (const GumboNode* p = n->parent; p; p = p->parent)
            if (p->type == GUMBO_NODE_TEMPLATE) return true;
        return false;
    }

    // The sizes a placeholder takes from its image, as declarations added to
    // the image's own style: the width and height the image declares (its
    // style first, then its attributes), else a small square. The page's
    // max-width still holds, so a wide banner stays inside the pane.
    static std::string placeholderSize(const GumboNode* n) {
        const char* style = attribute(n, "style");
        const std::string compact = style ? compactStyle(style) : std::string();
        std::string out;
        for (const char* side : {"width", "height"}) {
            if (styleSets(compact, side)) continue;
            const char* declared = attribute(n, side);
            const auto length = declared ? attributeLength(declared) : std::nullopt;
            out += ';';
            out += side;
            out += ':';
            out += length ? *length : std::string(placeholderSide);
        }
        return out;
    }

    // Judges one element and writes its start tag; false when it is left out.
    bool element(const GumboNode* n) {
        const GumboElement& e = n->v.element;
        const bool judged = (isHTML(n, GUMBO_TAG_IMG) || linkAddress(n)) && !insideTemplate(n);
        bool placeholder = false;
        if (judged && isHTML(n, GUMBO_TAG_IMG)) {
            if (auto src = remoteSource(attribute(n, "src"))) {
                HTMLInspector::Attributes a = attributesOf(n);
                a["src"] = *src;
                if (HTMLInspector::isTracker(a)) {
                    ++report.trackerCount;
                    if (auto name = trackerName(*src); !name.empty()) trackerHosts_.push_back(std::move(name));
                    if (write_) out += "<!-- tracker removed by Brindlebox -->";
                    return false;
                }
                ++report.remoteImageCount;
                images.push_back(std::move(*src));
                placeholder = remote_ == HTMLInspector::RemoteImages::placeholders;
            }
        }
        if (const char* href = judged ? linkAddress(n) : nullptr) {
            links.push_back(linkOf(n, href));
            if (auto w = HTMLInspector::linkWarning(href, links.back().text)) report.linkWarnings.push_back(std::move(*w));
        }
        if (!write_ || unwrapped(n)) return true;
        out += '<';
        writeTagName(n);
        const std::string size = placeholder ? placeholderSize(n) : std::string();
        bool styled = false;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
            if (e.tag_namespace == GUMBO_NAMESPACE_HTML && droppedAttribute(n, a->name)) continue;
            // A blocked image's other sources would only bring the broken-image sign back.
            if (placeholder && std::strcmp(a->name, "srcset") == 0) continue;
            out += ' ';
            out += attributeName(a);
            out += "=\"";
            if (placeholder && std::strcmp(a->name, "src") == 0) {
                out += placeholderImage;
            } else if (placeholder && std::strcmp(a->name, "style") == 0) {
                escapeInto(out, std::string(a->value) + size, true);
                styled = true;
            } else if (inline_.empty()) {
                escapeInto(out, a->value, true);
            } else {
                writeInlined(a->value, true);
            }
            out += '"';
        }
        if (placeholder && !styled) {
            out += " style=\"";
            escapeInto(out, std::string_view(size).substr(1), true);
            out += '"';
        }
        out += '>';
        if (isHTML(n, GUMBO_TAG_HEAD)) {
            out += HTMLInspector::displayHead();
            // Host names are not looked up ahead of a click.
            out += "\n<meta http-equiv=\"x-dns-prefetch-control\" content=\"off\">";
        }
        // The parser drops a line feed right after these start tags; one
        // written here keeps a leading line feed of the text.
        if ((isHTML(n, GUMBO_TAG_PRE) || isHTML(n, GUMBO_TAG_TEXTAREA) || isHTML(n, GUMBO_TAG_LISTING)) &&
            e.children.length > 0) {
            const auto* first = static_cast<const GumboNode*>(e.children.data[0]);
            if ((first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) && first->v.text.text[0] == '\n')
                out += '\n';
        }
        return true;
    }

public:
    void finish() {
        std::unordered_set<std::string> seen;
        for (auto& h : trackerHosts_)
            if (seen.insert(h).second) report.trackerHosts.push_back(std::move(h));
    }

private:
    const std::vector<MailAttachment>* attachments_;
    bool write_;
    HTMLInspector::RemoteImages remote_;
    std::vector<Inline> inline_;
    std::vector<std::string> trackerHosts_;
};

}  // namespace

const std::vector<std::string_view>& HTMLInspector::trackerDomains() {
    static const std::vector<std::string_view> rows = {
        "list-manage.com",      "mailchimp.com",     "mandrillapp.com",
        "sendgrid.net",         "sparkpostmail.com", "mailgun.org",
        "mailjet.com",          "exct.net",          "exacttarget.com",
        "pardot.com",           "hubspot.com",       "hubspotemail.net",
        "mktoresp.com",         "en25.com",          "eloqua.com",
        "responsys.net",        "rs6.net",           "constantcontact.com",
        "createsend.com",       "cmail19.com",       "cmail20.com",
        "klaviyo.com",          "sailthru.com",      "braze.com",
        "customeriomail.com",   "intercom.io",       "intercom-mail.com",
        "sendinblue.com",       "brevo.com",         "mailerlite.com",
        "mlsend.com",           "getresponse.com",   "aweber.com",
        "activehosted.com",     "convertkit.com",    "omnisend.com",
        "awstrack.me",          "pstmrk.it",         "emltrk.com",
        "mailtrack.io",         "yesware.com",       "mixmax.com",
        "google-analytics.com", "doubleclick.net",
    };
    return rows;
}

const std::array<std::string_view, 9>& HTMLInspector::trackerPathHints() {
    static constexpr std::array<std::string_view, 9> hints = {
        "/open", "/track", "pixel", "beacon", "/wf/open", "/o.gif", "/e/o/", "openrate", "/imp?",
    };
    return hints;
}

const std::array<std::string_view, 14>& HTMLInspector::fileExtensions() {
    static constexpr std::array<std::string_view, 14> ext = {
        "pdf", "png", "jpg", "jpeg", "gif", "doc", "docx", "zip", "html", "htm", "txt", "csv", "xls", "xlsx",
    };
    return ext;
}

const std::string& HTMLInspector::displayHead() {
    static const std::string head =
        "<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; object-src 'none'\">\n"
        "<style>html{background:#fff} body{margin:18px 22px;font:14px -apple-system,system-ui,sans-serif;"
        "color:#1d1d1f;word-wrap:break-word} img{max-width:100%;height:auto} table{max-width:100%}</style>";
    return head;
}

const std::string& HTMLInspector::plainTextHead() {
    static const std::string head =
        "<!doctype html><html><head><meta charset=\"utf-8\">\n"
        "<style>\n"
        ":root{color-scheme:light dark}\n"
        "body{margin:18px 22px;font:14px/1.55 -apple-system,system-ui,sans-serif;white-space:pre-wrap;"
        "word-wrap:break-word;color:#1d1d1f;background:transparent}\n"
        "a{color:#1e3c72}\n"
        "@media (prefers-color-scheme: dark){body{color:#ececf0} a{color:#5cc4b6}}\n"
        "</style></head><body>";
    return head;
}

HTMLInspector::Attributes HTMLInspector::attributes(std::string_view tag) {
    const Tree tree(tag);
    std::vector<const GumboNode*> stack{tree.document()};
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        // The first element written in the text, not one the parser made up.
        if (isElement(n) && n->v.element.original_tag.length > 0) return attributesOf(n);
        if (const GumboVector* c = childrenOf(n))
            for (unsigned i = c->length; i-- > 0;) stack.push_back(static_cast<const GumboNode*>(c->data[i]));
    }
    return {};
}

bool HTMLInspector::isTracker(const Attributes& a) {
    if (a.empty()) return false;
    const auto srcIt = a.find("src");
    if (srcIt == a.end()) return false;
    const auto web = remoteSource(srcIt->second.c_str());
    if (!web) return false;
    const std::string lowerSrc = lowerString(*web);

    for (const char* key : {"width", "height"}) {
        auto it = a.find(key);
        if (it == a.end()) continue;
        if (const auto px = attributePixels(it->second); px && *px <= 2) return true;
    }

    if (auto it = a.find("style"); it != a.end()) {
        const std::string style = compactStyle(it->second);
        for (std::string_view hidden : {"display:none", "visibility:hidden", "visibility:collapse", "opacity:0",
                                        "width:1px", "height:1px", "width:0", "height:0"})
            if (style.find(hidden) != std::string::npos) return true;
        if (styleIsTiny(style)) return true;
    }

    if (a.count("hidden")) return true;
    if (auto it = a.find("__bare"); it != a.end() && hasWord(it->second, "hidden")) return true;

    const auto host = Domains::host(*web);
    if (!host || !hostIsListedTracker(*host)) return false;

    for (auto hint : trackerPathHints())
        if (lowerSrc.find(hint) != std::string::npos) return true;
    return !a.count("width") && !a.count("height");
}

std::optional<LinkWarning> HTMLInspector::linkWarning(std::string_view href, std::string_view text) {
    const auto target = Domains::webURL(href);
    if (!target || !(startsWith(*target, "http://") || startsWith(*target, "https://"))) return std::nullopt;
    const auto host = Domains::host(*target);
    if (!host) return std::nullopt;

    std::string shown(trimWhiteSpaceAndNewlines(text));
    if (shown.empty()) return std::nullopt;
    // A long text is still read for the first domain it names; the warning
    // keeps a readable part of it.
    if (shown.size() > 199 && characterCount(shown) > 199) shown = prefixCharacters(shown, 199) + "…";

    // A look-alike host that the text names reads as the site it imitates
    // ("аррӏе.com" for apple.com): the text shows one site, the link opens
    // another.
    if (Domains::isLookalike(*host)) {
        const std::string named = Domains::registrable(Domains::unicode(*host));
        if (Domains::lower(text).find(named) != std::string::npos) return LinkWarning{shown, named, *host, std::string(href)};
    }

    std::string shownDomain;
    RegexBudget budget;
    if (!domainInTextRegex().firstMatch(R::toUnicode(text), budget, [&](const icu::RegexMatcher& dm) {
            shownDomain = lowerString(R::groupUTF8(dm, 1));
        }))
        return std::nullopt;
    const size_t dot = shownDomain.rfind('.');
    const std::string_view tld =
        dot == std::string::npos ? std::string_view(shownDomain) : std::string_view(shownDomain).substr(dot + 1);
    if (tld.size() < 2) return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(tld.data());
    const int32_t n = static_cast<int32_t>(tld.size());
    for (int32_t i = 0; i < n;) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0 || !u_isalpha(c)) return std::nullopt;
    }
    const auto& extensions = fileExtensions();
    if (std::find(extensions.begin(), extensions.end(), tld) != extensions.end()) return std::nullopt;
    // Compared as the browser resolves them: one site written in its
    // international and its "xn--" form is one site.
    if (Domains::registrable(Domains::ace(shownDomain)) == Domains::registrable(Domains::ace(*host)))
        return std::nullopt;
    return LinkWarning{shown, shownDomain, *host, std::string(href)};
}

HTMLReport HTMLInspector::inspect(std::string_view html) {
    // Markup nested too deep to read is shown as its text alone (see
    // prepareForDisplay): nothing in it loads or links.
    if (!mayHoldJudgedElements(html) || mayNestDeeperThan(html, maxNesting)) return {};
    const Tree tree(html);
    Walk walk(nullptr, false);
    walk.run(tree.document());
    walk.finish();
    return std::move(walk.report);
}

std::vector<LinkWarning> HTMLInspector::linkWarnings(std::string_view html) {
    return inspect(html).linkWarnings;
}

std::string HTMLInspector::prepareForDisplay(std::string_view html, const std::vector<MailAttachment>& attachments,
                                             bool /*dark*/, RemoteImages remote) {
    return prepare(html, attachments, remote).document;
}

HTMLInspector::Prepared HTMLInspector::prepare(std::string_view html, const std::vector<MailAttachment>& attachments,
                                               RemoteImages remote) {
    // Even with nothing to judge the tree is written out: the head, the
    // page's mode and what is left out all come from it.
    if (mayNestDeeperThan(html, maxNesting)) return {{}, plainTextDocument(HTMLText::toPlain(html))};
    const Tree tree(html);
    Walk walk(&attachments, true, remote);
    walk.run(tree.document(), html.size());
    walk.finish();
    return {std::move(walk.report), std::move(walk.out)};
}

HTMLInspector::Shown HTMLInspector::shown(std::string_view document) {
    if (!mayHoldJudgedElements(document) || mayNestDeeperThan(document, maxNesting)) return {};
    const Tree tree(document);
    Walk walk(nullptr, false);
    walk.run(tree.document());
    return {std::move(walk.images), std::move(walk.links)};
}

std::string HTMLInspector::plainTextDocument(std::string_view text) {
    const std::string escaped = HTMLText::escape(text);
    const icu::UnicodeString u = R::toUnicode(escaped);
    std::string body;
    body.reserve(escaped.size() + 64);
    int32_t last = 0;
    RegexBudget budget;
    urlInTextRegex().forEachMatch(u, budget, [&](const icu::RegexMatcher& m) {
        UErrorCode st = U_ZERO_ERROR;
        const int32_t s = m.start(st), e = m.end(st);
        body += R::toUTF8(u, last, s);
        const std::string url = R::toUTF8(u, s, e);
        body += "<a href=\"" + url + "\">" + url + "</a>";
        last = e;
        return true;
    });
    body += R::toUTF8(u, last, u.length());
    return plainTextHead() + body + "</body></html>";
}

}  // namespace bx
