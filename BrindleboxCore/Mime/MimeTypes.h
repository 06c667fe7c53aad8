#pragma once
#include <map>
#include <string>
#include <string_view>

namespace bx {

// File-name extensions for attachments that arrive without a name.
struct MimeTypes {
    static const std::map<std::string, std::string, std::less<>>& map();
    // Extension (without the dot) for the lower-cased type, or "" when unknown.
    static std::string ext(std::string_view mimeType);
};

}  // namespace bx
