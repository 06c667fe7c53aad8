#pragma once
#include <string>
#include <vector>

#include "Safety/LinkWarning.h"

namespace bx {

// What the HTML body of a message tries to load and where its links lead.
struct HTMLReport {
    int remoteImageCount = 0;               // http(s) images that are not tracking pixels
    int trackerCount = 0;                   // http(s) images that are tracking pixels
    std::vector<std::string> trackerHosts;  // registrable domains of the pixels, first appearance order
    std::vector<LinkWarning> linkWarnings;  // deceptive links, document order

    bool operator==(const HTMLReport&) const = default;
};

}  // namespace bx
