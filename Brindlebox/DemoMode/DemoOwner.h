#pragma once
// The made-up person whose vault the demo shows, and the parties who write to
// them. The filler and the featured mail share these, so the vault holds
// earlier mail from every featured sender.
#include <string>
#include <vector>

namespace bx::demo {

struct Owner {
    static constexpr const char* name = "Elin Marsh";
    static constexpr const char* personal = "elin.marsh@kestrelmail.com";
    static constexpr const char* studio = "elin@marshlund.studio";
};

struct Party {
    std::string name;
    std::string email;
    std::vector<std::string> subjects;
};

// Rows in the fixed order the generator's draws depend on.
const std::vector<Party>& personalParties();
const std::vector<Party>& newsletterParties();
const std::vector<Party>& studioParties();

}  // namespace bx::demo
