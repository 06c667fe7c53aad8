#pragma once
#include <string>
#include <string_view>

namespace bx {

// Lenient content-transfer decoders over raw bytes.
struct TransferDecoding {
    static std::string base64(std::string_view data);
    // header has no effect; the Q encoding of encoded words maps "_" itself.
    static std::string quotedPrintable(std::string_view data, bool header = false);
    // "base64" and "quoted-printable" (exact, lower case) decode; anything else is returned as is.
    // A "base64" body with more than a few bytes outside the alphabet (line
    // breaks, padding and blanks at line ends aside) is plain text mislabelled
    // and is returned as is too.
    static std::string decode(std::string_view data, std::string_view encoding);
};

}  // namespace bx
