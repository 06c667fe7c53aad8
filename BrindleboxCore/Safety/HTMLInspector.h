#pragma once
// Looks through an HTML body for remote images, tracking pixels and links
// whose text names another site, and prepares HTML and plain text for the
// reader's web view. The body is read once, by the HTML5 tree-construction
// algorithm the web engine follows; the checks run on that tree, and the
// document shown is that tree cleaned and written out again, so what is
// checked is what is shown.
#include <array>
#include <map>
#include <optional>
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
    // Decides on the attributes as the tree holds them; "src" is read as the
    // engine reads an address (Domains::webURL).
    static bool isTracker(const Attributes& attributes);
    // The attributes of the first element of `tag` as an HTML5 parser reads
    // them: lower-cased names to values, entities decoded, the first of
    // duplicates kept. "__bare" holds the tag name and the names of the
    // attributes written without a value.
    static Attributes attributes(std::string_view tag);

    // The warning for one link, from its address as written and its visible
    // text; nothing when the text names no other site. A text over the
    // length limit is still checked for the first domain it names.
    static std::optional<LinkWarning> linkWarning(std::string_view href, std::string_view text);

    // Whether the remote images of a shown document keep their addresses
    // (they may load), or are drawn as quiet boxes of their declared size
    // that load nothing (a style width or height first, then the width and
    // height attributes, 24 px for a side not declared; no srcset).
    enum class RemoteImages { allowed, placeholders };

    // The document to show: the body's tree with inline parts as data
    // addresses, tracking pixels removed, every element that could move the
    // base address or reach out on its own left out (<base>, <link>,
    // <meta http-equiv>, frames, embedded objects, form actions), written
    // out again after a head that forbids scripts and plug-ins. `dark` does
    // not change the result: HTML mail is always shown on a white page.
    static std::string prepareForDisplay(std::string_view html, const std::vector<MailAttachment>& attachments,
                                         bool dark, RemoteImages remote = RemoteImages::allowed);
    // What inspect and prepareForDisplay give, from one parse, for a reader
    // that needs both.
    struct Prepared {
        HTMLReport report;
        std::string document;
    };
    static Prepared prepare(std::string_view html, const std::vector<MailAttachment>& attachments,
                            RemoteImages remote = RemoteImages::allowed);

    // A navigable target of a document: an <a> or <area> with an address.
    struct Link {
        std::string href;    // as written (entities decoded)
        std::string target;  // as the engine reads it (Domains::webURL), else trimmed
        std::string text;    // visible text, white space collapsed and trimmed; an area's alt text

        bool operator==(const Link&) const = default;
    };
    // What a document holds that can reach out once shown: the http(s)
    // images judged visible, as the engine will fetch them (document order,
    // repeats kept), and every link in document order.
    struct Shown {
        std::vector<std::string> images;
        std::vector<Link> links;
    };
    static Shown shown(std::string_view document);
    // A plain text as an escaped page whose web addresses are links.
    static std::string plainTextDocument(std::string_view text);
};

}  // namespace bx
