#include "Engines/ReleaseJournal.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "Imap/IMAPClient.h"
#include "Imap/UIDSet.h"
#include "Util/AtomicFile.h"
#include "Util/Json.h"

namespace bx {

namespace {

std::filesystem::path fileFor(const ArchiveLayout& layout, const UUID& account) {
    return layout.metaDirectory() / ("release-" + account.string() + ".json");
}

}  // namespace

void ReleaseJournal::write(const ArchiveLayout& layout, const UUID& account, const ReleaseJournal& journal) {
    layout.ensure();
    const json j = {{"mailbox", journal.mailbox}, {"uidValidity", journal.uidValidity}, {"uids", journal.uids}};
    writeFileAtomically(fileFor(layout, account), j.dump());
}

std::optional<ReleaseJournal> ReleaseJournal::read(const ArchiveLayout& layout, const UUID& account) {
    try {
        const auto text = readFile(fileFor(layout, account));
        if (!text) return std::nullopt;
        const json j = json::parse(*text);
        ReleaseJournal out;
        out.mailbox = decodeJSON<std::string>(j.at("mailbox"), "$.mailbox");
        out.uidValidity = decodeJSON<std::uint32_t>(j.at("uidValidity"), "$.uidValidity");
        out.uids = decodeJSON<std::vector<std::uint32_t>>(j.at("uids"), "$.uids");
        return out;
    } catch (...) {
        return std::nullopt;
    }
}

void ReleaseJournal::clear(const ArchiveLayout& layout, const UUID& account) {
    std::error_code ignored;
    std::filesystem::remove(fileFor(layout, account), ignored);
}

std::int64_t ReleaseJournal::unflagLeftovers(IMAPClient& client, const ArchiveLayout& layout, const UUID& account,
                                             const std::string& mailbox, std::uint32_t uidValidity) {
    const std::optional<ReleaseJournal> note = read(layout, account);
    if (!note || note->mailbox != mailbox) return 0;
    if (note->uidValidity != uidValidity || note->uids.empty()) {
        clear(layout, account);
        return 0;
    }
    const std::set<std::uint32_t> noted(note->uids.begin(), note->uids.end());
    std::set<std::uint32_t> flagged;
    for (auto uid : client.uidSearch("UID " + UIDSet::string(note->uids) + " DELETED"))
        if (noted.count(uid)) flagged.insert(uid);
    const std::vector<std::uint32_t> left(flagged.begin(), flagged.end());
    client.unmarkDeleted(left);
    clear(layout, account);
    return static_cast<std::int64_t>(left.size());
}

}  // namespace bx
