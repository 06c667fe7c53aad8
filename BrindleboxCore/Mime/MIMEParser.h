#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Mime/ContentType.h"
#include "Mime/MIMEHeaders.h"
#include "Mime/MIMEPart.h"
#include "Mime/MailAttachment.h"
#include "Mime/ParsedMessage.h"

namespace bx {

// Turns the raw bytes of a stored message into a ParsedMessage. Pure functions,
// safe from any thread; nothing throws and any byte sequence gives a result.
// Parts are cut as views into the caller's buffer; only leaf bodies are copied.
struct MIMEParser {
    // Bytes that headers(of) and looksValid read at most.
    static constexpr std::size_t headerPrefixLimit = 262144;
    // Multiparts are split at depths 0...maxSplitDepth only.
    static constexpr int maxSplitDepth = 39;

    struct HeaderBodySplit {
        std::string_view header;  // bytes of the header block (may end with a CR)
        std::size_t bodyBegin = 0;
        std::size_t bodyEnd = 0;  // always the input's size
    };

    // What parse does with the bodies of attachments.
    enum class AttachmentBodies {
        decoded,  // each attachment's data holds its content, transfer encoding undone
        // data stays empty and the bodies stay as they are in the part tree:
        // for callers that need an attachment's name and kind, not its bytes
        encoded,
    };

    static ParsedMessage parse(std::string_view data, AttachmentBodies bodies = AttachmentBodies::decoded);
    static bool looksValid(std::string_view data);
    static MIMEHeaders headers(std::string_view data);

    static HeaderBodySplit splitHeaderBody(std::string_view bytes);
    static MIMEHeaders parseHeaders(std::string_view bytes);
    static MIMEPart parsePart(std::string_view bytes, int depth, const ContentType& defaultType);
    // Pieces are views into body.
    static std::vector<std::string_view> splitMultipart(std::string_view body, std::string_view boundary);
    static void collect(const MIMEPart& part, std::vector<std::string>& text, std::vector<std::string>& html,
                        std::vector<MailAttachment>& atts, AttachmentBodies bodies);
};

}  // namespace bx
