#pragma once
#include <string>
#include <string_view>

namespace bx {

struct HTMLText {
    // Readable plain text of an HTML body. Linear in the input, also for hostile
    // markup (unclosed tags, elements or comments).
    static std::string toPlain(std::string_view html);
    // The common named references plus numeric ones (&#NNN; and &#xHHH;).
    static std::string decodeEntities(std::string_view text);
    // Escapes &, <, > and the double quote.
    static std::string escape(std::string_view text);
};

}  // namespace bx
