#pragma once

#include <string>
#include <string_view>

namespace bx {

// How a text argument of a command is written.
struct IMAPQuote {
    // True when a UTF-8 byte of the text is CR, LF or >= 128.
    static bool needsLiteral(std::string_view text);
    // The text as a quoted string, quotes included, with \ and " escaped.
    static std::string quoted(std::string_view text);
};

}  // namespace bx
