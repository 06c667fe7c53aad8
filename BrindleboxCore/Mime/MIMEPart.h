#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Mime/ContentType.h"
#include "Mime/MIMEHeaders.h"

namespace bx {

// Bytes are held in std::string throughout the MIME code; no encoding is implied.

struct ContentDisposition {
    std::string value;                          // lower case
    std::map<std::string, std::string> params;  // keys lower case
    bool operator==(const ContentDisposition&) const = default;
};

// One node of the MIME tree.
struct MIMEPart {
    MIMEHeaders headers;  // for the root part, the message's own header
    ContentType contentType;
    std::string body;  // raw bytes after the header block, still transfer-encoded;
                       // empty for a multipart whose children were split out
    std::vector<MIMEPart> children;

    // First Content-Transfer-Encoding, trimmed of spaces/tabs, lower case; "7bit" when absent.
    std::string transferEncoding() const;
    // First Content-Disposition split by HeaderParams::parse, value lower-cased.
    std::optional<ContentDisposition> disposition() const;
    // First Content-ID with "<", ">", space and tab trimmed from both ends.
    std::optional<std::string> contentID() const;
    // Disposition "filename", else Content-Type "name" (each only when non-empty),
    // run through EncodedWords::decode.
    std::optional<std::string> filename() const;
    // body with base64 / quoted-printable undone; other encodings leave it as is.
    std::string decodedBody() const;
    // decodedBody read in the part's charset, with the usual fallbacks (always UTF-8 text).
    std::string decodedText() const;

    bool operator==(const MIMEPart&) const = default;
};

}  // namespace bx
