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
    static std::string decode(std::string_view data, std::string_view encoding);
};

}  // namespace bx
