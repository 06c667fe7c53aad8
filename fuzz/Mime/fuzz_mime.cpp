// Feeds arbitrary bytes to the message parser and to each header decoder.
// Nothing may crash, hang or throw; attachment ids must stay in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Mime/AddressParser.h"
#include "Mime/EncodedWords.h"
#include "Mime/HTMLText.h"
#include "Mime/HeaderParams.h"
#include "Mime/MIMEParser.h"
#include "Mime/MailDate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);

    bx::ParsedMessage m = bx::MIMEParser::parse(in);
    for (std::size_t i = 0; i < m.attachments.size(); ++i)
        if (m.attachments[i].id != static_cast<int>(i)) std::abort();
    (void)m.fileAttachments();
    (void)m.plainText();
    (void)bx::MIMEParser::looksValid(in);

    (void)bx::EncodedWords::decode(in);
    auto p = bx::HeaderParams::parse(in);
    (void)p;
    for (const auto& a : bx::AddressParser::parse(in)) {
        (void)a.domain();
        (void)a.formatted();
    }
    (void)bx::MailDate::parse(in);
    (void)bx::HTMLText::toPlain(in);
    return 0;
}
