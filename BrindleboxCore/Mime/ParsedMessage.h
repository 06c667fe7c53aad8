#pragma once
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Mime/MIMEHeaders.h"
#include "Mime/MIMEPart.h"
#include "Mime/MailAddress.h"
#include "Mime/MailAttachment.h"
#include "Util/Date.h"

namespace bx {

// The parsed form of one .eml; MIMEParser::parse is its only producer.
struct ParsedMessage {
    MIMEHeaders headers;  // the root part's header
    MIMEPart root;
    std::string subject;  // decoded and trimmed; empty when absent
    std::vector<MailAddress> from, to, cc, replyTo;
    std::optional<Date> date;
    std::optional<std::string> messageID;  // without <, >, spaces and tabs at the ends
    std::optional<std::string> textBody;   // plain-text bodies joined by "\n\n"
    std::optional<std::string> htmlBody;   // HTML bodies joined by "<hr>"
    std::vector<MailAttachment> attachments;

    // Attachments minus inline parts that the HTML body shows through "cid:<id>".
    std::vector<MailAttachment> fileAttachments() const;
    // How many fileAttachments() would return, without copying their data.
    size_t fileAttachmentCount() const;
    // Whether the HTML body shows this inline part through "cid:<id>".
    bool isShownInBody(const MailAttachment& attachment) const;
    // textBody when it has more than white space, else the HTML body as plain text, else "".
    std::string plainText() const;
};

}  // namespace bx
