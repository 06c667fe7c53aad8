#include "Imap/IMAPQuote.h"

namespace bx {

bool IMAPQuote::needsLiteral(std::string_view text) {
    for (unsigned char c : text)
        if (c == '\r' || c == '\n' || c >= 128) return true;
    return false;
}

std::string IMAPQuote::quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace bx
