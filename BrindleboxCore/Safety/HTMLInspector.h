#pragma once
// Looks through an HTML body for remote images, tracking pixels and links
// whose text names another site, and prepares HTML and plain text for the
// reader's web view.
#include <array>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "Mime/MailAttachment.h"
#include "Safety/HTMLReport.h"
#include "Safety/LinkWarning.h"

namespace bx {

struct HTMLInspector {
    using Attributes = std::map<std::string, std::string>;

    // Services whose tracking images are known (bulk mail, newsletters,
    // marketing automation, customer messaging, analytics).
    static const std::vector<std::string_view>& trackerDomains();
    static const std::array<std::string_view, 9>& trackerPathHints();
    // Endings that make a name in link text a file rather than a domain.
    static const std::array<std::string_view, 14>& fileExtensions();

    // Inline parts larger than this stay "cid:" references.
    static constexpr size_t maxInlineBytes = 7'999'999;
    static const std::string& displayHead();
    static const std::string& plainTextHead();

    static HTMLReport inspect(std::string_view html);
    static std::vector<LinkWarning> linkWarnings(std::string_view html);
    static bool isTracker(const Attributes& attributes);
    // Lower-cased names to values (quotes removed, entities decoded); the
    // tag's other words go under "__bare".
    static Attributes attributes(std::string_view tag);

    // The document to show: inline parts as data addresses, tracking pixels
    // removed, and a head that forbids scripts and plug-ins. `dark` does not
    // change the result: HTML mail is always shown on a white page.
    static std::string prepareForDisplay(std::string_view html, const std::vector<MailAttachment>& attachments,
                                         bool dark);
    // A plain text as an escaped page whose web addresses are links.
    static std::string plainTextDocument(std::string_view text);
};

}  // namespace bx
