#include "Mime/PercentDecode.h"

#include "Mime/MimeText.h"

namespace bx {

std::string PercentDecode::bytes(std::string_view text) {
    using mimetext::hexValue;
    std::string out;
    out.reserve(text.size());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] == '%' && i + 2 < n) {
            int h = hexValue(static_cast<unsigned char>(text[i + 1]));
            int l = hexValue(static_cast<unsigned char>(text[i + 2]));
            if (h >= 0 && l >= 0) {
                out.push_back(static_cast<char>(h * 16 + l));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

}  // namespace bx
