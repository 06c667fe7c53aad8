#include "Mime/AddressParser.h"

#include "Mime/EncodedWords.h"
#include "Mime/MimeText.h"
#include "Util/Unicode.h"

namespace bx {

std::vector<MailAddress> AddressParser::parse(std::string_view value) {
    std::vector<MailAddress> out;
    bool inQuote = false;
    long angle = 0, comment = 0;
    std::size_t pieceStart = 0;
    auto emit = [&](std::size_t end) {
        if (auto a = one(value.substr(pieceStart, end - pieceStart))) out.push_back(std::move(*a));
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (inQuote) {
            if (c == '"') inQuote = false;
            continue;
        }
        switch (c) {
            case '"':
                if (comment == 0) inQuote = true;
                break;
            case '<': ++angle; break;
            case '>': {
                const bool closes = angle > 0;
                if (closes) --angle;
                // A list that lost its comma ("A <a@x> B <b@y>") splits after the
                // closing ">" when more than a comment or a separator follows it.
                if (closes && angle == 0 && comment == 0) {
                    std::size_t next = value.find_first_not_of(" \t\r\n", i + 1);
                    if (next != std::string_view::npos && value[next] != ',' && value[next] != ';' &&
                        value[next] != '(') {
                        emit(i + 1);
                        pieceStart = i + 1;
                    }
                }
                break;
            }
            case '(': ++comment; break;
            case ')':
                if (comment > 0) --comment;
                break;
            case ',':
            case ';':
                if (angle == 0 && comment == 0) {
                    emit(i);
                    pieceStart = i + 1;
                }
                break;
            default: break;
        }
    }
    emit(value.size());
    return out;
}

std::optional<MailAddress> AddressParser::one(std::string_view input) {
    using namespace mimetext;
    std::string_view text = trimWhitespaceNewlines(input);
    if (std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        std::string_view before = text.substr(0, colon);
        if (before.find_first_of("<@\"") == std::string_view::npos) text = trimSpacesTabs(text.substr(colon + 1));
    }
    if (text.empty()) return std::nullopt;

    std::size_t lt = text.rfind('<'), gt = text.rfind('>');
    if (lt != std::string_view::npos && gt != std::string_view::npos && lt < gt) {
        MailAddress a;
        a.email = std::string(trimSpacesTabs(text.substr(lt + 1, gt - lt - 1)));
        std::string_view name = trimSpacesTabs(text.substr(0, lt));
        if (isQuotedString(name)) name = name.substr(1, name.size() - 2);
        std::string unescaped;
        unescaped.reserve(name.size());
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (name[i] == '\\' && i + 1 < name.size() && name[i + 1] == '"') {
                unescaped.push_back('"');
                ++i;
            } else {
                unescaped.push_back(name[i]);
            }
        }
        a.name = std::string(trimSpacesTabs(EncodedWords::decode(unescaped)));
        return a;
    }
    std::size_t lp = text.find('('), rp = text.rfind(')');
    if (lp != std::string_view::npos && rp != std::string_view::npos && lp < rp) {
        MailAddress a;
        a.email = std::string(trimSpacesTabs(text.substr(0, lp)));
        a.name = EncodedWords::decode(trimWhitespaceNewlines(text.substr(lp + 1, rp - lp - 1)));
        return a;
    }
    if (text.find('@') != std::string_view::npos) return MailAddress{"", std::string(text)};
    return std::nullopt;
}

std::vector<MailAddress> AddressParser::senders(std::string_view value) {
    std::vector<MailAddress> out = parse(value);
    if (!out.empty()) return out;
    const std::string_view raw = trimWhitespaceNewlines(value);
    if (raw.find('@') != std::string_view::npos) return out;
    const std::string name(trimWhitespaceNewlines(EncodedWords::decode(raw)));
    // Only a name that was encoded: a bare word there is more likely a
    // broken address than a name.
    if (!name.empty() && name != raw) out.push_back(MailAddress{name, ""});
    return out;
}

}  // namespace bx
