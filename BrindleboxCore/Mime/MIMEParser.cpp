#include "Mime/MIMEParser.h"

#include <cstring>

#include "Mime/AddressParser.h"
#include "Mime/Charsets.h"
#include "Mime/EncodedWords.h"
#include "Mime/HeaderParams.h"
#include "Mime/MailDate.h"
#include "Mime/MimeText.h"
#include "Mime/MimeTypes.h"
#include "Util/Unicode.h"

namespace bx {

namespace {

// Each field is decoded on its own (UTF-8, else Windows-1252), so one raw
// 8-bit byte in one field does not garble every other field of the block.
void decodeField(std::string& name, std::string& value) {
    if (Charsets::isValidUTF8(name) && Charsets::isValidUTF8(value)) return;
    name = Charsets::fromWindows1252(name);
    value = Charsets::fromWindows1252(value);
}

}  // namespace

namespace {

// A header field line as parseHeaders reads one: a name without spaces, then ":".
bool isFieldLine(std::string_view line) {
    if (line.empty() || line[0] == ' ' || line[0] == '\t') return false;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = trimSpacesTabs(line.substr(0, colon));
    return !name.empty() && name.find(' ') == std::string_view::npos;
}

std::string_view lineAt(std::string_view bytes, std::size_t start, std::size_t& lf) {
    const void* hit = std::memchr(bytes.data() + start, '\n', bytes.size() - start);
    lf = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - bytes.data()) : std::string_view::npos;
    std::string_view line = bytes.substr(start, (hit ? lf : bytes.size()) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

// The header ends at a blank line, or at a line that is neither a field nor a
// continuation: mail whose body follows the fields without a blank line, or a
// file that has no header at all, keeps its body. Such a line still counts as
// header when a field follows it, which keeps a part header whose wrapped
// second line lost its leading blank in one piece.
MIMEParser::HeaderBodySplit MIMEParser::splitHeaderBody(std::string_view bytes) {
    const std::size_t n = bytes.size();
    if (n == 0) return {{}, 0, 0};
    if (bytes[0] == '\n') return {{}, 1, n};
    if (n >= 2 && bytes[0] == '\r' && bytes[1] == '\n') return {{}, 2, n};
    auto headerBefore = [&](std::size_t lineStart) {
        return lineStart == 0 ? std::string_view{} : bytes.substr(0, lineStart - 1);
    };
    std::size_t start = 0;
    while (start < n) {
        std::size_t lf;
        const std::string_view line = lineAt(bytes, start, lf);
        if (lf == std::string_view::npos) break;  // the last line, with no line end: still header
        const std::size_t next = lf + 1;
        if (line.empty()) return {headerBefore(start), next, n};
        if (line[0] != ' ' && line[0] != '\t' && !isFieldLine(line)) {
            std::size_t lf2;
            if (next >= n || !isFieldLine(lineAt(bytes, next, lf2))) return {headerBefore(start), start, n};
        }
        start = next;
    }
    // The last line has no line end. Text that is not a field there is body.
    if (start < n) {
        std::size_t lf;
        const std::string_view line = lineAt(bytes, start, lf);
        if (!line.empty() && line[0] != ' ' && line[0] != '\t' && !isFieldLine(line))
            return {headerBefore(start), start, n};
    }
    return {bytes, n, n};
}

MIMEHeaders MIMEParser::parseHeaders(std::string_view bytes) {
    using namespace mimetext;
    MIMEHeaders h;
    bool pending = false;
    std::string name, value;
    auto finish = [&] {
        if (pending) {
            decodeField(name, value);
            h.fields.push_back({std::move(name), std::move(value)});
        }
        pending = false;
        name.clear();
        value.clear();
    };
    // Line ends, colons and blanks are ASCII, so the block is cut into fields
    // as bytes and each field decoded when it is complete.
    std::string_view t = bytes;
    std::size_t start = 0;
    for (;;) {
        std::size_t lf = t.find('\n', start);
        std::string_view line = t.substr(start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) {
            finish();
        } else if (line[0] == ' ' || line[0] == '\t') {
            if (pending) {
                value.push_back(' ');
                value.append(trimSpacesTabs(line));
            }
        } else {
            finish();
            std::size_t colon = line.find(':');
            if (colon != std::string_view::npos) {
                std::string_view n = trimSpacesTabs(line.substr(0, colon));
                if (!n.empty() && n.find(' ') == std::string_view::npos) {
                    name.assign(n);
                    value.assign(trimSpacesTabs(line.substr(colon + 1)));
                    pending = true;
                }
            }
        }
        if (lf == std::string_view::npos) break;
        start = lf + 1;
    }
    finish();
    return h;
}

std::vector<std::string_view> MIMEParser::splitMultipart(std::string_view body, std::string_view boundary) {
    std::vector<std::string_view> parts;
    std::string delim = "--";
    delim.append(boundary);
    const std::size_t n = body.size();

    auto trimmedPart = [&](std::size_t from, std::size_t to) {
        if (to > from && body[to - 1] == '\n') --to;
        if (to > from && body[to - 1] == '\r') --to;
        return body.substr(from, to - from);
    };

    bool open = false;  // a delimiter line has been seen
    std::size_t partStart = 0;
    std::size_t lineStart = 0;
    while (lineStart < n) {
        const void* hit = std::memchr(body.data() + lineStart, '\n', n - lineStart);
        std::size_t lineEnd = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - body.data()) : n;
        std::size_t next = hit ? lineEnd + 1 : n;
        std::string_view line = body.substr(lineStart, lineEnd - lineStart);
        if (line.size() >= delim.size() && line[0] == '-' && line.compare(0, delim.size(), delim) == 0) {
            // The rest, with every space, tab and CR removed, must be empty or start with "--".
            char first = 0, second = 0;
            int seen = 0;
            for (std::size_t k = delim.size(); k < line.size() && seen < 2; ++k) {
                char c = line[k];
                if (c == ' ' || c == '\t' || c == '\r') continue;
                (seen == 0 ? first : second) = c;
                ++seen;
            }
            bool isPart = seen == 0;
            bool isClose = seen == 2 && first == '-' && second == '-';
            if (isPart || isClose) {
                if (open) parts.push_back(trimmedPart(partStart, lineStart));
                if (isClose) return parts;
                open = true;
                partStart = next;
            }
        }
        lineStart = next;
    }
    if (open && partStart < n) parts.push_back(body.substr(partStart));
    return parts;
}

// The tree is built from views into the caller's buffer; only leaf bodies are copied.
MIMEPart MIMEParser::parsePart(std::string_view bytes, int depth, const ContentType& defaultType) {
    MIMEPart part;
    auto split = splitHeaderBody(bytes);
    part.headers = parseHeaders(split.header);
    part.contentType = defaultType;
    if (auto ct = part.headers["Content-Type"]) {
        auto parsed = HeaderParams::parse(*ct);
        std::string v = lowercased(parsed.value);
        std::string_view sv = v;
        std::size_t b = sv.find_first_not_of('/');
        if (b != std::string_view::npos) {
            sv = sv.substr(b);
            std::size_t slash = sv.find('/');
            if (slash != std::string_view::npos && slash + 1 < sv.size()) {
                std::string_view first = trimSpacesTabs(sv.substr(0, slash));
                std::string_view second = trimSpacesTabs(sv.substr(slash + 1));
                if (!first.empty())
                    part.contentType = ContentType{std::string(first), std::string(second), std::move(parsed.params)};
            }
        }
    }
    std::string_view body = bytes.substr(split.bodyBegin, split.bodyEnd - split.bodyBegin);

    const auto& params = part.contentType.params;
    auto boundary = params.find("boundary");
    if (part.contentType.type == "multipart" && boundary != params.end() && !boundary->second.empty() &&
        depth <= maxSplitDepth) {
        static const ContentType digestChild{"message", "rfc822", {}};
        const ContentType& childDefault =
            part.contentType.subtype == "digest" ? digestChild : ContentType::defaultText();
        for (std::string_view piece : splitMultipart(body, boundary->second))
            part.children.push_back(parsePart(piece, depth + 1, childDefault));
    } else {
        part.body.assign(body);
    }
    return part;
}

void MIMEParser::collect(const MIMEPart& part, std::vector<std::string>& text, std::vector<std::string>& html,
                         std::vector<MailAttachment>& atts, AttachmentBodies bodies) {
    const ContentType& ct = part.contentType;
    if (ct.type == "multipart") {
        if (ct.subtype != "alternative") {
            for (const auto& c : part.children) collect(c, text, html, atts, bodies);
            return;
        }
        std::vector<MailAttachment> local;
        std::vector<std::string> textResult, htmlResult;
        bool haveText = false;
        for (const auto& c : part.children) {
            std::vector<std::string> t, h;
            collect(c, t, h, local, bodies);
            if (!haveText && !t.empty()) {
                textResult = std::move(t);
                haveText = true;
            }
            if (!h.empty()) htmlResult = std::move(h);
        }
        for (auto& s : textResult) text.push_back(std::move(s));
        for (auto& s : htmlResult) html.push_back(std::move(s));
        for (auto& a : local) {
            a.id = static_cast<int>(atts.size());
            atts.push_back(std::move(a));
        }
        return;
    }

    auto disp = part.disposition();
    if ((!disp || disp->value != "attachment") && ct.type == "text") {
        if (ct.subtype == "plain" || ct.subtype == "enriched") {
            text.push_back(part.decodedText());
            return;
        }
        if (ct.subtype == "html") {
            html.push_back(part.decodedText());
            return;
        }
    }
    MailAttachment a;
    a.mimeType = ct.mimeType();
    std::string ext = ct.subtype == "rfc822" ? "eml" : MimeTypes::ext(a.mimeType);
    if (auto fn = part.filename()) {
        a.filename = std::move(*fn);
    } else {
        a.filename = "attachment-" + std::to_string(atts.size() + 1) + (ext.empty() ? "" : "." + ext);
    }
    if (bodies == AttachmentBodies::decoded) a.data = part.decodedBody();
    a.contentID = part.contentID();
    a.isInline = disp ? disp->value == "inline" : a.contentID.has_value();
    a.id = static_cast<int>(atts.size());
    atts.push_back(std::move(a));
}

MIMEHeaders MIMEParser::headers(std::string_view data) {
    std::string_view prefix = data.substr(0, std::min(data.size(), headerPrefixLimit));
    return parseHeaders(splitHeaderBody(prefix).header);
}

bool MIMEParser::looksValid(std::string_view data) {
    if (data.empty()) return false;
    static constexpr std::string_view known[] = {"from", "date",     "subject",    "message-id",
                                                 "to",   "received", "return-path"};
    for (const auto& f : headers(data).fields) {
        std::string n = lowercased(f.name);
        for (auto k : known)
            if (n == k) return true;
    }
    return false;
}

ParsedMessage MIMEParser::parse(std::string_view data, AttachmentBodies bodies) {
    ParsedMessage m;
    m.root = parsePart(data, 0, ContentType::defaultText());
    std::vector<std::string> text, html;
    collect(m.root, text, html, m.attachments, bodies);
    m.headers = m.root.headers;
    const MIMEHeaders& h = m.headers;

    m.subject = std::string(trimWhitespaceNewlines(EncodedWords::decode(h["Subject"].value_or(""))));
    m.from = AddressParser::senders(h["From"].value_or(""));
    m.to = AddressParser::parse(h["To"].value_or(""));
    m.cc = AddressParser::parse(h["Cc"].value_or(""));
    m.replyTo = AddressParser::parse(h["Reply-To"].value_or(""));
    if (auto d = h["Date"]) m.date = MailDate::parse(*d);
    if (auto id = h["Message-ID"]) m.messageID = std::string(mimetext::trimChars(*id, "<> \t"));

    auto join = [](std::vector<std::string>& parts, std::string_view sep) {
        std::size_t total = 0;
        for (const auto& p : parts) total += p.size() + sep.size();
        std::string r;
        r.reserve(total);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i) r.append(sep);
            r.append(parts[i]);
        }
        return r;
    };
    if (!text.empty()) m.textBody = join(text, "\n\n");
    if (!html.empty()) m.htmlBody = join(html, "<hr>");
    return m;
}

}  // namespace bx
