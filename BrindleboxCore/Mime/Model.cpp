// Derived properties of the parsed-message model.
#include <nlohmann/json.hpp>

#include "Mime/Charsets.h"
#include "Mime/ContentType.h"
#include "Mime/EncodedWords.h"
#include "Mime/HTMLText.h"
#include "Mime/HeaderParams.h"
#include "Mime/MIMEHeaders.h"
#include "Mime/MIMEPart.h"
#include "Mime/MailAddress.h"
#include "Mime/MimeText.h"
#include "Mime/ParsedMessage.h"
#include "Mime/TransferDecoding.h"
#include "Util/Unicode.h"

namespace bx {

// MIMEHeaders

bool MIMEHeaders::namesEqual(std::string_view a, std::string_view b) {
    return equalsIgnoringCase(a, b);
}

std::optional<std::string> MIMEHeaders::operator[](std::string_view name) const {
    for (const auto& f : fields)
        if (namesEqual(f.name, name)) return f.value;
    return std::nullopt;
}

std::vector<std::string> MIMEHeaders::all(std::string_view name) const {
    std::vector<std::string> r;
    for (const auto& f : fields)
        if (namesEqual(f.name, name)) r.push_back(f.value);
    return r;
}

// ContentType

const ContentType& ContentType::defaultText() {
    static const ContentType t{"text", "plain", {{"charset", "us-ascii"}}};
    return t;
}

std::optional<std::string> ContentType::charset() const {
    auto it = params.find("charset");
    if (it == params.end()) return std::nullopt;
    return it->second;
}

// MIMEPart

std::string MIMEPart::transferEncoding() const {
    auto v = headers["Content-Transfer-Encoding"];
    if (!v) return "7bit";
    return lowercased(trimSpacesTabs(*v));
}

std::optional<ContentDisposition> MIMEPart::disposition() const {
    auto v = headers["Content-Disposition"];
    if (!v) return std::nullopt;
    auto p = HeaderParams::parse(*v);
    return ContentDisposition{lowercased(p.value), std::move(p.params)};
}

std::optional<std::string> MIMEPart::contentID() const {
    auto v = headers["Content-ID"];
    if (!v) return std::nullopt;
    return std::string(mimetext::trimChars(*v, "<> \t"));
}

std::optional<std::string> MIMEPart::filename() const {
    if (auto d = disposition()) {
        auto it = d->params.find("filename");
        if (it != d->params.end() && !it->second.empty()) return EncodedWords::decode(it->second);
    }
    auto it = contentType.params.find("name");
    if (it != contentType.params.end() && !it->second.empty()) return EncodedWords::decode(it->second);
    return std::nullopt;
}

std::string MIMEPart::decodedBody() const {
    return TransferDecoding::decode(body, transferEncoding());
}

std::string MIMEPart::decodedText() const {
    auto cs = contentType.charset();
    std::optional<std::string_view> charset = cs ? std::optional<std::string_view>(*cs) : std::nullopt;
    const std::string enc = transferEncoding();
    // Without a transfer encoding the body is read in place, not copied first.
    if (enc != "base64" && enc != "quoted-printable") return Charsets::string(body, charset);
    return Charsets::string(TransferDecoding::decode(body, enc), charset);
}

// MailAddress

std::string MailAddress::display() const {
    return name.empty() ? email : name;
}

std::string MailAddress::domain() const {
    std::size_t end = email.size();
    while (end > 0 && email[end - 1] == '@') --end;
    if (end == 0) return "";
    std::size_t at = email.rfind('@', end - 1);
    std::size_t start = at == std::string::npos ? 0 : at + 1;
    return lowercased(std::string_view(email).substr(start, end - start));
}

std::string MailAddress::formatted() const {
    return name.empty() ? email : name + " <" + email + ">";
}

void to_json(nlohmann::json& j, const MailAddress& a) {
    j = nlohmann::json{{"name", a.name}, {"email", a.email}};
}

void from_json(const nlohmann::json& j, MailAddress& a) {
    if (!j.is_object()) throw nlohmann::json::type_error::create(302, "MailAddress must be an object", &j);
    const auto& n = j.at("name");
    const auto& e = j.at("email");
    if (!n.is_string() || !e.is_string())
        throw nlohmann::json::type_error::create(302, "MailAddress name and email must be strings", &j);
    a.name = n.get<std::string>();
    a.email = e.get<std::string>();
}

MailAddress JSONCodec<MailAddress>::decode(const json& v, const std::string& path) {
    return MailAddress{requiredKey<std::string>(v, "name", path), requiredKey<std::string>(v, "email", path)};
}

json JSONCodec<MailAddress>::encode(const MailAddress& a) {
    return json{{"name", a.name}, {"email", a.email}};
}

// ParsedMessage

bool ParsedMessage::isShownInBody(const MailAttachment& a) const {
    return a.isInline && a.contentID && htmlBody && htmlBody->find("cid:" + *a.contentID) != std::string::npos;
}

std::vector<MailAttachment> ParsedMessage::fileAttachments() const {
    std::vector<MailAttachment> r;
    for (const auto& a : attachments)
        if (!isShownInBody(a)) r.push_back(a);
    return r;
}

size_t ParsedMessage::fileAttachmentCount() const {
    size_t n = 0;
    for (const auto& a : attachments)
        if (!isShownInBody(a)) ++n;
    return n;
}

std::string ParsedMessage::plainText() const {
    if (textBody && !trimWhitespaceNewlines(*textBody).empty()) return *textBody;
    if (htmlBody) return HTMLText::toPlain(*htmlBody);
    return "";
}

}  // namespace bx
