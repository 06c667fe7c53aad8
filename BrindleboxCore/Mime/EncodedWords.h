#pragma once
#include <string>
#include <string_view>

namespace bx {

// RFC 2047 encoded words in header values. Malformed words stay as written.
struct EncodedWords {
    static std::string decode(std::string_view value);
};

}  // namespace bx
