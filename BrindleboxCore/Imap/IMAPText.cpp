#include "Imap/IMAPText.h"

#include "Util/Unicode.h"

namespace bx::imaptext {

std::string latin1ToUTF8(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) appendUTF8(out, bytes[i]);
    return out;
}

}  // namespace bx::imaptext
