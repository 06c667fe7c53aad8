#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace bx {

// Character sets by IANA name, decoded with ICU. `decode` is strict: a byte
// sequence that is invalid or unmapped in the charset makes it fail. `string`
// repairs per sequence instead of giving up on the charset: in UTF-8 only the
// invalid bytes are read as Windows-1252, in other charsets ICU substitutes
// U+FFFD for the bad sequence.
//
// Windows-1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D undefined. Here they decode
// to the C1 controls U+0081, U+008D, U+008F, U+0090 and U+009D (as web browsers
// do), so Windows-1252 accepts every byte: the fallback never drops to lossy
// UTF-8 (which would turn every other accented letter into U+FFFD too), and the
// original bytes can still be recovered from the text.
struct Charsets {
    // A text encoding that can decode bytes.
    struct Encoding {
        enum class Kind { utf8, windows1252, icu };
        Kind kind = Kind::icu;
        std::string name;  // ICU converter name for Kind::icu
        bool operator==(const Encoding&) const = default;
    };

    static const Encoding& utf8();
    static const Encoding& windows1252();

    // nullopt for no name, an empty name or a name ICU does not know.
    // Quotes and spaces around the name are dropped, a few aliases are mapped,
    // and "us-ascii" reads as UTF-8.
    static std::optional<Encoding> encoding(std::optional<std::string_view> name);

    // Strict decode into UTF-8; nullopt when the bytes are not valid in the encoding.
    static std::optional<std::string> decode(std::string_view data, const Encoding& enc);

    // Never fails: bad sequences are repaired as described above.
    static std::string decodeRepairing(std::string_view data, const Encoding& enc);

    // Always gives text: the named charset when the bytes are valid in it;
    // 8-bit text that is valid UTF-8 as UTF-8; else the named charset with its
    // bad sequences repaired; with no known name, UTF-8 repaired.
    static std::string string(std::string_view data, std::optional<std::string_view> charset);

    // UTF-8 in which each byte of an invalid sequence is read as Windows-1252.
    static std::string repairedUTF8(std::string_view data);

    // Helpers for the fallback chain.
    static bool isValidUTF8(std::string_view data);
    static std::string lossyUTF8(std::string_view data);
    static std::string fromWindows1252(std::string_view data);
};

}  // namespace bx
