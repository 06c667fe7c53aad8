#pragma once
#include <optional>
#include <string>

namespace bx {

struct MailAttachment {
    int id = 0;                            // 0-based position in the message's attachment list
    std::string filename;                  // the part's own name or a made-up one
    std::string mimeType;                  // type/subtype of the part
    std::string data;                      // content after transfer decoding (no charset conversion)
    std::optional<std::string> contentID;  // without angle brackets
    bool isInline = false;

    std::size_t size() const { return data.size(); }
    bool operator==(const MailAttachment&) const = default;
};

}  // namespace bx
